#pragma once

#include "device/link/Link.h"
#include "device/link/PortSetting.h"
#include "device/link/Session.h"

#include <QString>

#include <array>
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

class ChangeConfirmer;
class Transport;

/// The thread of a wire link and what it shares with the callers' threads: the changes
/// waiting, the identity and confirmation requests, the latest readings. The thread runs
/// run(); every other member is for the callers and never waits for the wire, except
/// identify() and stop(), which wait a bounded time. Owned jointly by the link and its thread,
/// so a thread stuck in a driver call can be left behind without dangling.
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
    /// The latest readings and lamps.
    Sample readings() const;
    UnitMaximum maximum() const;
    /// Why the unit that answered the identity request was turned down; empty otherwise.
    QString refusal() const;
    /// Why the latest reply that came to nothing did so, where the dialect can tell.
    QString lastFault() const;
    /// As Link::unitSummary and Link::notice, from the latest identity request.
    QString unitSummary() const;
    QString notice() const;
    /// The setting's dialect, or the one the identity request found; nullptr before.
    const DialectInfo* dialect() const;
    /// As Link::afterCommands.
    void afterCommands(bool freshReadings, std::function<void(bool ok)> done);
    /// Asks the thread to end; true when it has within `timeout`.
    bool stop(std::chrono::milliseconds timeout);
    /// Tells whoever still waits "no"; no callback runs once this returned.
    void dismissWaiters();
    /// As Link::cancelWaits: identify() returns empty at once, now and from now on.
    void cancelWaits();

  private:
    // Someone waiting for the commands given before it, and perhaps for readings taken after.
    struct Waiter
    {
        std::uint64_t queued; // commands given before it
        bool freshReadings;
        std::optional<std::uint64_t> pollMark; // the poll count once those were carried out
        std::function<void(bool)> done;
    };
    enum class Step { Again, Stop };

    // The link thread's side.
    bool openTransport(Transport& transport);
    Step step(Transport& transport, Session& session, ChangeConfirmer& confirmer);
    std::optional<unsigned> identityAsked();
    void serveIdentity(Session& session, ChangeConfirmer& confirmer, unsigned ticket);
    bool readyToPoll();
    void idle();
    Step sendPending(ChangeConfirmer& confirmer);
    void poll(Session& session);
    bool pollWhole(Session& session);
    void serveWaiters();
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
    std::deque<Change> m_pending;
    std::uint64_t m_queued = 0; // commands given so far
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
    std::vector<Waiter> m_waiters;
    std::uint64_t m_polls = 0;               // well-formed poll answers so far
    std::array<std::uint64_t, 3> m_polled{}; // the poll count at the latest answer of each kind
    bool m_portFailed = false;
    bool m_lost = false; // a change did not hold, or read-backs went unanswered: for good
    std::chrono::steady_clock::time_point m_lastAnswer = std::chrono::steady_clock::now();
    Sample m_readings;
    UnitMaximum m_maximum;

    // Held by the link thread while it runs waiters' callbacks; dismissWaiters() takes it so
    // that none runs after it returned. Taken before m_lock, never the other way round.
    std::mutex m_callbacks;

    // The link thread's own.
    int m_pollStep = 0;
    // Nothing goes out before the identity request: slow firmware would ignore that request
    // if it came too soon after a poll.
    bool m_identified = false;
};

} // namespace pslink
