#pragma once

// When the simulated unit's link is away (a cable pulled and plugged in again), for whichever
// road the unit is reached by: the pseudo-terminal closes, a TCP socket closes and refuses.

#include <algorithm>
#include <chrono>
#include <optional>

namespace sim {

/// One drop a run: `afterMs` past the client's first command the link goes, and `forMs` later
/// it comes back (never, when `forMs` is negative). The clock starts at the first command rather
/// than at the simulator's start, so how long a client took to start and connect does not move
/// the drop within its run.
class DropSchedule
{
public:
    using Clock = std::chrono::steady_clock;
    enum class Change { None, Dropped, Back };

    /// `afterMs` negative: the link never drops.
    DropSchedule(int afterMs = -1, int forMs = -1) : m_afterMs(afterMs), m_forMs(forMs) {}

    bool active() const { return m_afterMs >= 0; }
    bool down() const { return m_phase == Phase::Down; }

    /// Bytes from the client arrived at `at`: the first of them starts the clock.
    void heardAt(Clock::time_point at)
    {
        if (active() && !m_start)
            m_start = at;
    }

    /// What changed by `now` since the last call: Dropped once, then Back once when it comes back.
    Change update(Clock::time_point now)
    {
        if (!m_start)
            return Change::None;
        if (m_phase == Phase::Up && now >= dropAt()) {
            m_phase = Phase::Down;
            return Change::Dropped;
        }
        if (m_phase == Phase::Down && m_forMs >= 0 && now >= backAt()) {
            m_phase = Phase::Back;
            return Change::Back;
        }
        return Change::None;
    }

    /// How long a wait may last before update() has something to say; `longest` when nothing is due.
    int waitMs(Clock::time_point now, int longest) const
    {
        if (!m_start || m_phase == Phase::Back || (m_phase == Phase::Down && m_forMs < 0))
            return longest;
        const auto due = m_phase == Phase::Up ? dropAt() : backAt();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count();
        return static_cast<int>(std::clamp<long long>(left, 0, longest));
    }

private:
    enum class Phase { Up, Down, Back };

    Clock::time_point dropAt() const { return *m_start + std::chrono::milliseconds(m_afterMs); }
    Clock::time_point backAt() const { return dropAt() + std::chrono::milliseconds(m_forMs); }

    int m_afterMs;
    int m_forMs;
    std::optional<Clock::time_point> m_start;
    Phase m_phase = Phase::Up;
};

} // namespace sim
