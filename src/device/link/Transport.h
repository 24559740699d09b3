#pragma once

#include <QString>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace pslink {

struct PortSetting;

/// The bytes' road to a supply (a serial port or a TCP socket), used from one thread without an
/// event loop. Every wait is cut into short slices and ends early once the owner's stop flag is
/// set, so the owner can always shut it down promptly.
class Transport
{
  public:
    explicit Transport(const std::atomic<bool>& stop) : m_stop(stop) {}
    virtual ~Transport() = default;
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    /// Opens what `setting` names. False when it cannot, with `error` filled with a sentence
    /// for the user: why, and what to do about it.
    virtual bool open(const PortSetting& setting, QString* error = nullptr) = 0;
    virtual void close() = 0;
    /// The road vanished or failed (USB cable pulled): nothing more will come through.
    virtual bool failed() const = 0;
    /// The far end closed the road before a byte came through it: a unit that takes one client
    /// at a time, taken by another.
    virtual bool closedAtOnce() const { return false; }

    virtual bool write(const std::string& bytes) = 0;
    /// What arrives within `timeout`; returns as soon as anything has arrived (may be empty).
    virtual std::string readSome(std::chrono::milliseconds timeout) = 0;
    /// Discards whatever is already waiting, e.g. a stray byte after the last reply.
    virtual void drain() = 0;
    /// Switches to another baud rate while open; a road without one takes any.
    virtual bool setBaud(int /*baud*/) { return true; }

    /// Sleeps up to `duration`; false when cut short by the stop flag.
    bool pause(std::chrono::milliseconds duration)
    {
        const auto deadline = std::chrono::steady_clock::now() + duration;
        while (!stopping()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return true;
            std::this_thread::sleep_for(std::min(left, kSlice));
        }
        return false;
    }
    bool stopping() const { return m_stop.load(); }

  protected:
    /// The longest a wait runs before looking at the stop flag again.
    static constexpr std::chrono::milliseconds kSlice{20};

  private:
    const std::atomic<bool>& m_stop;
};

} // namespace pslink
