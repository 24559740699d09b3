#pragma once

// The simulated unit's timing: which commands it hears (the start-to-start gap a strict unit
// needs, the window in which slow firmware ignores what comes after a change) and when a reply
// leaves (latency and the wire time of the bytes at the line rate). Pure: every moment is given
// by the caller, so the rules are tried without a terminal or a clock.

#include <chrono>
#include <cstddef>

namespace sim {

using Clock = std::chrono::steady_clock;

class UnitTiming
{
public:
    struct Pace
    {
        int minGapMs = 0;  ///< start-to-start gap below which a command is lost; 0 or less: none
        int slowMs = 0;    ///< commands are ignored this long after the start of a change; 0: never
        int latencyMs = 0; ///< between the end of a command and its reply
        int baud = 0;      ///< the line rate the bytes take their time at; 0: no wire time
    };
    enum class Verdict { Heard, TooSoon, Busy };

    /// A plain-text unit forgets half a command after this long without a byte.
    static constexpr std::chrono::milliseconds kPartialPause{50};

    /// `start`: the wire was empty at some moment after it.
    UnitTiming(Pace pace, Clock::time_point start);

    /// A wait on the wire that began at `at` found it quiet: nothing had come by some moment
    /// after it. Also a new connection, from the moment it was made.
    void quietAt(Clock::time_point at);
    /// Bytes the unit cannot make out (a port at another line rate) came at `now`.
    void garbled(Clock::time_point now);
    /// Bytes came and were read at `now`; `emptied`: the read left nothing behind; `continues`:
    /// they go on with a command that earlier bytes began.
    void arrived(Clock::time_point now, bool emptied, bool continues);
    /// The next whole command of the bytes that last arrived, at `now`: whether the unit hears it.
    Verdict take(Clock::time_point now);
    /// The command just taken leaves slow firmware busy (a change or a status query).
    void leaveBusy();

    /// When the reply of `replyBytes` to a command of `commandBytes` that was read at `now` leaves.
    Clock::time_point replyDue(Clock::time_point now, std::size_t commandBytes, std::size_t replyBytes) const;
    /// Half a command is forgotten by `now`.
    bool forgetsPartial(Clock::time_point now) const { return now - m_lastInput > kPartialPause; }

private:
    std::chrono::microseconds wireTime(std::size_t bytes) const;

    Pace m_pace;
    Clock::time_point m_lastInput{};
    Clock::time_point m_quietAt;              // the wire was empty at some moment after this
    Clock::time_point m_arrivalEarliest{};    // the bytes that last arrived came after this
    Clock::time_point m_startEarliest{};      // earliest start of the command being received
    Clock::time_point m_lastCommandEarliest{}; // earliest start of the previous command
    bool m_haveCommand = false;
    Clock::time_point m_busyEarliest{};       // earliest start of the last change or status query taken
    bool m_haveBusy = false;
};

} // namespace sim
