#include "device/link/ChangeConfirmer.h"

#include "device/NumberText.h"

#include <algorithm>

namespace pslink {

HeldSetpoints ChangeConfirmer::held() const
{
    return {m_heldCentivolts, m_heldMilliamps, bound()};
}

// Each maximum as learned, else as the unit told it.
UnitMaximum ChangeConfirmer::bound() const
{
    return {m_maximum.centivolts > 0 ? m_maximum.centivolts : m_told.centivolts,
            m_maximum.milliamps > 0 ? m_maximum.milliamps : m_told.milliamps};
}

bool ChangeConfirmer::readHeld()
{
    for (const auto kind : {Change::Voltage, Change::Current}) {
        std::optional<int>& held = heldOf(kind);
        if (!held)
            held = m_session.readBack(kind);
        if (!held)
            return false;
    }
    return true;
}

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
    const UnitMaximum known = bound();
    const int maximum = change.kind == Change::Voltage   ? known.centivolts
                        : change.kind == Change::Current ? known.milliamps
                                                         : 0;
    change.value = std::clamp(change.value, 0, numtext::kMaxCount);
    if (maximum > 0)
        change.value = std::min(change.value, maximum);
    return change;
}

std::optional<ChangeConfirmer::Outcome> ChangeConfirmer::send(const Change& asked)
{
    const Change change = withinMaximum(asked);
    if (change.kind != Change::Output && change.value < std::clamp(asked.value, 0, numtext::kMaxCount))
        maximumOf(change.kind) = change.value; // held back by what the unit told: said as learned
    m_spacingAtSend[change.kind] = m_session.busyGap();
    switch (m_session.sendChange(change)) {
    case Session::Applied::Stopped:
        return Outcome::Stopped;
    case Session::Applied::Sent:
        return std::nullopt;
    default:
        return Outcome::Lost;
    }
}

ChangeConfirmer::Outcome ChangeConfirmer::apply(const Change& asked)
{
    if (const auto failed = send(asked))
        return *failed;
    return confirm(asked, std::nullopt);
}

std::optional<ChangeConfirmer::Outcome> ChangeConfirmer::sendAll(const std::deque<Change>& batch,
                                                                  std::vector<Change>& unconfirmed)
{
    for (size_t i = 0; i < batch.size(); ++i) {
        const bool fence = batch[i].kind == Change::Output;
        if (const Outcome before = fence ? confirmAll(unconfirmed, std::nullopt) : Outcome::Held;
            before == Outcome::Lost || before == Outcome::Stopped)
            return before;
        if (const auto failed = send(batch[i]))
            return failed;
        unconfirmed.push_back(batch[i]);
        if (const Outcome after = fence && i + 1 < batch.size() ? confirmAll(unconfirmed, std::nullopt) : Outcome::Held;
            after == Outcome::Lost || after == Outcome::Stopped)
            return after;
    }
    return std::nullopt;
}

ChangeConfirmer::Outcome ChangeConfirmer::confirmAll(std::vector<Change>& unconfirmed, const std::optional<Sample>& shown)
{
    Outcome outcome = Outcome::Held;
    for (const Change& change : unconfirmed) {
        std::optional<int> read;
        if (shown)
            read = change.kind == Change::Voltage   ? shown->setCentivolts
                   : change.kind == Change::Current ? shown->setMilliamps
                                                    : std::optional<int>(shown->state.outputOn ? 1 : 0);
        const Outcome confirmed = confirm(change, read);
        if (confirmed == Outcome::Lost || confirmed == Outcome::Stopped) {
            unconfirmed.clear();
            return confirmed;
        }
        if (confirmed == Outcome::HeldOnResend)
            outcome = confirmed;
    }
    unconfirmed.clear();
    return outcome;
}

// A newer value of the same kind waiting meanwhile does not cut this short: what went out is
// seen through, so the supply never silently skips a value it was sent.
ChangeConfirmer::Outcome ChangeConfirmer::confirm(const Change& asked, std::optional<int> shown)
{
    const Change change = withinMaximum(asked);
    const bool setpoint = change.kind != Change::Output;
    int held = 0;
    Session::Applied applied = m_session.confirm(change, shown, &held);
    for (int attempt = 1;; ++attempt) {
        switch (applied) {
        case Session::Applied::Held:
            if (setpoint)
                heldOf(change.kind) = held;
            if (attempt > 1)
                return Outcome::HeldOnResend;
            if (m_session.busyGap() <= m_spacingAtSend[change.kind]) // held without a miss on the way
                m_session.easeBusyGap();
            return Outcome::Held;
        case Session::Applied::Stopped:
            return Outcome::Stopped;
        case Session::Applied::NotHeld:
            break;
        default:
            return Outcome::Lost;
        }
        if (setpoint)
            if (const auto outcome = refused(asked, held))
                return *outcome;
        if (setpoint && held > 0 && held < change.value)
            if (const auto outcome = tryAgainSlowly(change, held))
                return *outcome;
        m_session.growBusyGap();
        if (attempt == kTries)
            return Outcome::Lost;
        applied = m_session.apply(change, &held);
    }
}

// A unit that says it refused the value keeps the one it had: that is no maximum (it would hold
// every later setpoint at the old value) and no lost change.
std::optional<ChangeConfirmer::Outcome> ChangeConfirmer::refused(const Change& asked, int held)
{
    const auto said = m_session.queryRefusal();
    if (!said)
        return std::nullopt;
    heldOf(asked.kind) = held;
    m_refusal = {m_refusal.count + 1, asked.kind == Change::Voltage, std::clamp(asked.value, 0, numtext::kMaxCount),
                 *said};
    return Outcome::Refused;
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
        return Outcome::HeldOnResend;
    case Session::Applied::Stopped:
        return Outcome::Stopped;
    case Session::Applied::NotHeld:
        break;
    default:
        return Outcome::Lost;
    }
    if (again != held)
        return std::nullopt;
    maximumOf(change.kind) = held;
    heldOf(change.kind) = held;
    return Outcome::Held;
}

} // namespace pslink
