#pragma once

#include "device/link/Transport.h"

#include <chrono>

namespace pslink {

/// A USB-TMC instrument through the kernel's driver ("usbtmc:/dev/usbtmc0", or "usbtmc:SERIAL"
/// found again by its USB serial number). Each write is one message and each read one reply; the
/// driver's timeout follows what each read is given, a read that timed out is followed by the
/// driver's clear, and closing hands the front panel back. A node that refuses the driver's
/// calls (a pseudo-terminal standing in for an instrument) is spoken to as a byte stream.
///
/// A read on the driver waits inside the kernel for the whole of its timeout: it cannot be cut
/// short by the stop flag, so the link's replies are given a timeout of a second or two.
class UsbTmcTransport : public Transport
{
  public:
    explicit UsbTmcTransport(const std::atomic<bool>& stop);
    ~UsbTmcTransport() override;

    bool open(const PortSetting& setting, QString* error = nullptr) override;
    void close() override;
    bool failed() const override { return m_fd < 0 || m_failed; }
    bool write(const std::string& bytes) override;
    std::string readSome(std::chrono::milliseconds timeout) override;
    void drain() override;

    /// The node answered the driver's calls: a USB-TMC instrument, not a stand-in.
    bool onDriver() const { return m_driver; }

  private:
    std::string readDriver(std::chrono::milliseconds timeout);
    std::string readStream(std::chrono::milliseconds timeout);

    int m_fd = -1;
    bool m_driver = false;
    bool m_failed = false;
    bool m_asked = false; // a message went out that no reply has answered yet
    std::chrono::milliseconds m_timeout{0}; // the driver's, as last set
};

} // namespace pslink
