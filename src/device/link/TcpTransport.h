#pragma once

#include "device/link/Transport.h"

#include <chrono>

namespace pslink {

/// How long connecting to a unit on the network may take, name lookup included.
inline constexpr std::chrono::milliseconds kConnectTimeout{3000};

/// A unit on the network: one TCP connection to the setting's host and port for the whole
/// session (many units take a single client only), with Nagle off so each short command leaves
/// at once. A connection the unit closes or resets counts as failed, as a pulled cable does.
class TcpTransport : public Transport
{
public:
    explicit TcpTransport(const std::atomic<bool>& stop);
    ~TcpTransport() override;

    /// Gives up after kConnectTimeout; `error` then names the host and why: refused,
    /// unreachable, timed out or name not found.
    bool open(const PortSetting& setting, QString* error = nullptr) override;
    void close() override;
    bool failed() const override;
    bool closedAtOnce() const override { return m_closedByUnit && !m_heard; }
    bool write(const std::string& bytes) override;
    std::string readSome(std::chrono::milliseconds timeout) override;
    void drain() override;

private:
    // What arrived without waiting; marks the connection failed when the unit closed it.
    std::string receiveWaiting();

    int m_socket = -1;
    bool m_failed = false;
    bool m_closedByUnit = false; // the unit closed or reset the connection
    bool m_heard = false;        // a byte came from the unit on this connection
};

} // namespace pslink
