#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

class QSerialPort;

namespace pslink {

/// A serial port used from one thread without an event loop. Every wait is cut into short
/// slices and ends early once `stop` is set, so the owner can always shut it down promptly.
class SerialTransport
{
public:
    explicit SerialTransport(const std::atomic<bool>& stop);
    ~SerialTransport();
    SerialTransport(const SerialTransport&) = delete;
    SerialTransport& operator=(const SerialTransport&) = delete;

    /// Opens `path` at `baud`, 8N1, no flow control. False when it cannot, with `error` filled
    /// with a sentence for the user: why, and what to do about it.
    bool open(const QString& path, int baud, QString* error = nullptr);
    void close();
    bool isOpen() const;
    /// The port vanished or failed (USB cable pulled): nothing more will come through.
    bool failed() const;

    bool write(const std::string& bytes);
    /// What arrives within `timeout`; returns as soon as anything has arrived (may be empty).
    std::string readSome(std::chrono::milliseconds timeout);
    /// Discards whatever is already waiting, e.g. a stray byte after the last reply.
    void drain();
    /// Sleeps up to `duration`; false when cut short by `stop`.
    bool pause(std::chrono::milliseconds duration);
    bool stopping() const { return m_stop.load(); }

private:
    const std::atomic<bool>& m_stop;
    std::unique_ptr<QSerialPort> m_port;
    bool m_failed = false;
};

} // namespace pslink
