#pragma once

// What the simulated unit does wrong on purpose, in time: --corrupt-every damages replies,
// --trip-after trips a protection once.

#include "UnitTiming.h"

#include <optional>
#include <string>

namespace sim {

class UnitFaults
{
public:
    /// `corruptEvery` 0: no reply is damaged; `tripAfterMs` negative: nothing trips.
    UnitFaults(int corruptEvery, int tripAfterMs);

    /// The N-th reply, the 2N-th, ... with one bit flipped in its middle byte; the others as given.
    std::string damaged(std::string reply);
    /// Bytes the unit took came at `at`; the first of them start the clock of --trip-after.
    void heardAt(Clock::time_point at);
    /// True once: when the protection is due to trip by `now`.
    bool tripDue(Clock::time_point now);

private:
    int m_corruptEvery;
    int m_tripAfterMs;
    int m_replyCount = 0;
    std::optional<Clock::time_point> m_firstCommand;
    bool m_tripped = false;
};

} // namespace sim
