#include "device/link/ChangeConfirmer.h"

#include "device/NumberText.h"

#include <algorithm>

namespace pslink {

std::optional<int>& ChangeConfirmer::heldOf(Change::Kind kind)
{
    return kind == Change::Voltage ? m_heldCentivolts : m_heldMilliamps;
}

int& ChangeConfirmer::maximumOf(Change::Kind kind)
{
    return kind == Change::Voltage ? m_maximum.centivolts : m_maximum.milliamps;
}

ChangeConfirmer::Change ChangeConfirmer::withinMaximum(Change change) const
{
    const int maximum = change.kind == Change::Voltage   ? m_maximum.centivolts
                        : change.kind == Change::Current ? m_maximum.milliamps
                                                         : 0;
    change.value = std::clamp(change.value, 0, numtext::kMaxCount);
    if (maximum > 0)
        change.value = std::min(change.value, maximum);
    return change;
}

// A newer value of the same kind waiting meanwhile does not cut this short: what went out is
// seen through, so the supply never silently skips a value it was sent.
ChangeConfirmer::Outcome ChangeConfirmer::apply(const Change& asked)
{
    const Change change = withinMaximum(asked);
    const bool setpoint = change.kind != Change::Output;
    const auto spacing = m_session.busyGap();
    for (int attempt = 1; attempt <= kTries; ++attempt) {
        int held = 0;
        switch (m_session.apply(change, &held)) {
        case Session::Applied::Held:
            if (setpoint)
                heldOf(change.kind) = held;
            if (attempt == 1 && m_session.busyGap() <= spacing) // held without a miss on the way
                m_session.easeBusyGap();
            return Outcome::Held;
        case Session::Applied::Stopped:
            return Outcome::Stopped;
        case Session::Applied::Unanswered:
            return Outcome::Lost;
        case Session::Applied::NotHeld:
            break;
        }
        if (setpoint && held > 0 && held < change.value)
            if (const auto outcome = tryAgainSlowly(change, held))
                return *outcome;
        m_session.growBusyGap();
    }
    return Outcome::Lost;
}

// Less than was asked: the unit's own maximum (also when it held exactly that before, as a unit
// stepped up to its limit does), or a slow unit that ignored the change. Heard once more after
// the slowest spacing, a slow unit takes it; a unit at its maximum says the same again. A unit
// that takes no change at all is then held at what it has: it is lost as soon as it is asked
// for less.
std::optional<ChangeConfirmer::Outcome> ChangeConfirmer::tryAgainSlowly(const Change& change, int held)
{
    m_session.waitSlowest();
    int again = 0;
    switch (m_session.apply(change, &again)) {
    case Session::Applied::Held:
        heldOf(change.kind) = again;
        m_session.growBusyGap(); // the first one was ignored: the unit is slower than we thought
        return Outcome::Held;
    case Session::Applied::Stopped:
        return Outcome::Stopped;
    case Session::Applied::Unanswered:
        return Outcome::Lost;
    case Session::Applied::NotHeld:
        break;
    }
    if (again != held)
        return std::nullopt;
    maximumOf(change.kind) = held;
    heldOf(change.kind) = held;
    return Outcome::Held;
}

} // namespace pslink
