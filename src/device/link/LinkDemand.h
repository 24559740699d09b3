#pragma once

#include "device/link/LinkTypes.h"
#include "device/link/Session.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

namespace pslink {

/// What the callers of a wire link ask of it, and how far its thread has come: the changes
/// waiting, the commands given, sent and confirmed, and the whole polls taken. The link asks
/// the supply only what is wanted here. Pure bookkeeping: the worker keeps it under its lock.
class LinkDemand
{
  public:
    using Change = Session::Change;
    using Done = std::function<void(bool ok)>;

    /// A command given: it waits to be sent. A newer setpoint replaces one of its kind still
    /// waiting, in its place; only an output switch at the tail is replaced by a newer one, so
    /// that it stays after the setpoints before it.
    void queue(const Change& change);
    bool changesWaiting() const { return !m_pending.empty(); }
    /// The changes waiting, for sending: every command given so far is one of them or was
    /// replaced by one.
    std::deque<Change> takeChanges() { return std::exchange(m_pending, {}); }
    /// The link is lost: nothing more goes out.
    void dropChanges() { m_pending.clear(); }
    std::uint64_t given() const { return m_given; }
    std::uint64_t sent() const { return m_sent; }

    /// Waits for the commands given so far, as `what` says.
    void add(Awaited what, Done done);
    /// The commands up to `upTo` went out (or were replaced by newer ones before they did).
    void markSent(std::uint64_t upTo) { m_sent = std::max(m_sent, upTo); }
    /// ... and have been read back.
    void markConfirmed(std::uint64_t upTo) { m_confirmed = std::max(m_confirmed, upTo); }
    /// A whole poll starts, after the commands sent so far; its number for pollDone().
    std::uint64_t pollStarting() { return ++m_pollsStarted; }
    /// Poll `number` came in whole: it shows the commands sent before it started.
    void pollDone(std::uint64_t number, std::uint64_t showsUpTo) { m_lastPoll = {number, showsUpTo}; }
    /// The latest poll shows nothing after `upTo` after all: a change sent before it took only
    /// when sent again.
    void pollShowsOnlyUpTo(std::uint64_t upTo) { m_lastPoll.showsUpTo = std::min(m_lastPoll.showsUpTo, upTo); }

    /// A waiter needs a poll that one started now would give: its commands have gone out.
    bool pollWanted() const;
    /// A waiter's time has come.
    bool anyMet() const;
    /// The waiters whose time has come, each with its answer: met, or the link gone when
    /// `alive` is false. They are forgotten here.
    std::vector<std::pair<Done, bool>> takeReady(bool alive);
    /// Every waiter, forgotten here.
    std::vector<Done> takeAll();

  private:
    struct Waiter
    {
        std::uint64_t queued;      // commands given before it
        Awaited what;
        std::uint64_t pollsBefore; // polls started before it: none of them is fresh for it
        Done done;
    };
    struct PollMark
    {
        std::uint64_t number = 0;
        std::uint64_t showsUpTo = 0;
    };

    static bool needsSample(Awaited what) { return what != Awaited::Confirmed; }
    bool sampled(const Waiter& w) const { return m_lastPoll.number > w.pollsBefore && m_lastPoll.showsUpTo >= w.queued; }
    bool met(const Waiter& w) const;

    std::deque<Change> m_pending;
    std::uint64_t m_given = 0;
    std::uint64_t m_sent = 0;
    std::uint64_t m_confirmed = 0;
    std::uint64_t m_pollsStarted = 0;
    PollMark m_lastPoll;
    std::vector<Waiter> m_waiters;
};

} // namespace pslink
