#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

/// Command codes of the Control page's queue.
enum : std::int16_t {
    CMD_NONE = 0,
    CMD_CONNECT = 1,
    CMD_UP = 2,
    CMD_DOWN = 3,
    CMD_RESERVED = 4, ///< issued by nobody; executes as nothing
    CMD_ON = 5,
    CMD_OFF = 6,
    CMD_APPLY = 7,
};

/// One queued command. `value` is compared when queueing; every issuer passes 0.
struct ControlCommand
{
    std::int16_t code = CMD_NONE;
    std::int32_t value = 0;

    bool operator==(const ControlCommand&) const = default;
};

/// First-in first-out queue shared by the UI thread (push) and the worker (pop). The lock is held
/// only inside Push and Pop, never while a command executes.
class CCommandQueue
{
public:
    /// Appends the command; an equal command still pending is removed first, so a burst of
    /// identical clicks costs one execution and the command moves to the back.
    void Push(ControlCommand command);
    /// Removes and returns the front command; {CMD_NONE, 0} when the queue is empty.
    ControlCommand Pop();
    /// A copy of the pending commands, front first.
    std::vector<ControlCommand> Pending() const;

private:
    mutable std::mutex m_hLock;
    std::deque<ControlCommand> m_commands;
};
