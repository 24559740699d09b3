#pragma once

#include "device/link/ChangeConfirmer.h"
#include "device/link/Link.h"
#include "device/link/LinkDemand.h"
#include "device/link/PortSetting.h"
#include "device/link/Session.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pslink {

class Transport;

/// The thread of a wire link and what it shares with the callers' threads: the changes
/// waiting, the identity and confirmation requests, the latest readings. The thread asks the
/// supply only what is wanted: the changes and their read-backs, a whole poll when a caller
/// waits for one (or reads readings grown old), and outside those a look at the lamps once a
/// second, which keeps the link known alive. The thread runs run(); every other member is for
/// the callers and never waits for the wire, except identify() and stop(), which wait a
/// bounded time. Owned jointly by the link and its thread, so a thread stuck in a driver call
/// can be left behind without dangling.
class LinkWorker
{
  public:
    using Change = Session::Change;

    explicit LinkWorker(PortSetting setting);
    LinkWorker(const LinkWorker&) = delete;
    LinkWorker& operator=(const LinkWorker&) = delete;

    /// The link thread: opens the transport, then sends and polls until stop().
    void run();

    /// Waits up to `timeout` for the transport to open. False when it did not, with `error`
    /// (when given) saying why.
    bool waitOpened(std::chrono::milliseconds timeout, QString* error);
    /// Queues a change; a newer setpoint replaces one of its kind still waiting.
    void queue(const Change& change);
    /// The identity, asked by the link thread; empty when the supply did not answer in time.
    std::string identify();
    /// The thread runs and the port has not failed.
    bool portOpen() const;
    bool alive() const;
    /// The latest readings and lamps. Readings older than about a second ask for a poll: a
    /// caller that keeps reading them finds them at most that old.
    Sample readings();
    UnitMaximum maximum() const { return locked(m_maximum); }
    /// As Link::askSetpoints and Link::heldSetpoints.
    void askSetpoints()
    {
        tell(m_wake, [this] { m_setpointsAsked = true; });
    }
    HeldSetpoints setpoints() const { return locked(m_held); }
    /// The latest setpoint the unit refused.
    Refusal refused() const { return locked(m_refused); }
    /// Why the unit that answered the identity request was turned down; empty otherwise.
    QString refusal() const { return locked(m_refusal); }
    /// Why the latest reply that came to nothing did so, where the dialect can tell.
    QString lastFault() const { return locked(m_lastFault); }
    /// As Link::unitSummary and Link::notice, from the latest identity request.
    QString unitSummary() const { return locked(m_unitSummary); }
    QString notice() const { return locked(m_notice); }
    /// The setting's dialect, or the one the identity request found; nullptr before.
    const DialectInfo* dialect() const;
    /// As Link::afterCommands.
    void afterCommands(Awaited what, std::function<void(bool ok)> done);
    /// Asks the thread to end; true when it has within `timeout`.
    bool stop(std::chrono::milliseconds timeout);
    /// Tells whoever still waits "no"; no callback runs once this returned.
    void dismissWaiters();
    /// As Link::cancelWaits: identify() returns empty at once, now and from now on.
    void cancelWaits();

  private:
    enum class Step { Again, Stop };

    template <typename T>
    T locked(const T& member) const
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return member;
    }
    // Makes `change` under the lock and wakes the side that waits on it.
    template <typename F>
    void tell(std::condition_variable& side, F change)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        change();
        side.notify_all();
    }
    using Outcome = ChangeConfirmer::Outcome;

    // The link thread's side.
    bool openTransport(Transport& transport);
    Step step(Transport& transport, Session& session, ChangeConfirmer& confirmer);
    std::optional<unsigned> identityAsked();
    void serveIdentity(Session& session, ChangeConfirmer& confirmer, unsigned ticket);
    bool readyToPoll();
    void idle();
    void waitForWork(const Session& session);
    bool pollWanted();
    bool workWaitingLocked() const;
    Step sendPending(Session& session, ChangeConfirmer& confirmer);
    Step finishBatch(Outcome outcome, const ChangeConfirmer& confirmer, std::uint64_t given);
    std::optional<Sample> poll(Session& session);
    void keepAlive(Session& session);
    void serveWaiters();
    void readSetpoints(ChangeConfirmer& confirmer);
    bool aliveLocked() const;

    const PortSetting m_setting;
    std::atomic<bool> m_stop{false};

    mutable std::mutex m_lock;        // everything below up to the thread's own
    std::condition_variable m_wake;   // link thread: new command, request or stop
    std::condition_variable m_change; // callers: open result, identity, thread end
    bool m_openDone = false;
    bool m_openOk = false;
    QString m_openError;
    bool m_finished = false;
    unsigned m_identityAsked = 0;
    unsigned m_identityServed = 0;
    std::string m_identity;
    QString m_refusal;
    QString m_unitSummary;
    QString m_notice;
    QString m_lastFault;
    const DialectInfo* m_dialect = nullptr;
    bool m_dismissed = false;
    bool m_waitsCancelled = false;
    LinkDemand m_demand;
    bool m_readAsked = false; // the readings were read when older than kFreshEnough
    bool m_setpointsAsked = false;
    HeldSetpoints m_held;
    std::chrono::steady_clock::time_point m_lastPoll{}; // when the latest whole poll came in
    bool m_portFailed = false;
    bool m_lost = false; // a change did not hold, or read-backs went unanswered: for good
    std::chrono::steady_clock::time_point m_lastAnswer = std::chrono::steady_clock::now();
    Sample m_readings;
    UnitMaximum m_maximum;
    Refusal m_refused;

    // Held by the link thread while it runs waiters' callbacks; dismissWaiters() takes it so
    // that none runs after it returned. Taken before m_lock, never the other way round.
    std::mutex m_callbacks;

    // The link thread's own.
    // Nothing goes out before the identity request: slow firmware would ignore that request
    // if it came too soon after a poll.
    bool m_identified = false;
    bool m_keepAliveMissed = false; // the latest keep-alive went unanswered: ask again at once
};

} // namespace pslink
