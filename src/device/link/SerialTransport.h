#pragma once

#include "device/link/Transport.h"

#include <memory>

class QSerialPort;

namespace pslink {

/// A serial port: the setting's path at its baud rate, 8N1, no flow control.
class SerialTransport : public Transport
{
public:
    explicit SerialTransport(const std::atomic<bool>& stop);
    ~SerialTransport() override;

    bool open(const PortSetting& setting, QString* error = nullptr) override;
    void close() override;
    bool isOpen() const;
    bool failed() const override;
    bool write(const std::string& bytes) override;
    std::string readSome(std::chrono::milliseconds timeout) override;
    void drain() override;
    bool setBaud(int baud) override;

private:
    std::unique_ptr<QSerialPort> m_port;
    bool m_failed = false;
};

} // namespace pslink
