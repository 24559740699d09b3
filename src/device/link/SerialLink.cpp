#include "device/link/SerialLink.h"

#include "device/link/SerialSession.h"
#include "device/link/SerialTransport.h"

#include <QThread>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

namespace pslink {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using Change = SerialSession::Change;

constexpr milliseconds kOpenTimeout{3000};
constexpr milliseconds kVersionTimeout{8000}; // every probe with its time-outs fits well inside
constexpr milliseconds kCloseTimeout{900};    // CloseCOM must be back within a second
constexpr milliseconds kIdleWait{50};
constexpr int kTries = 3; // a change still not held after this many counts as a lost link

// Someone waiting for the commands given before it, and perhaps for readings taken after them.
struct Waiter
{
    std::uint64_t queued;      // commands given before it
    bool freshReadings;
    std::optional<std::uint64_t> pollMark; // the poll count once those commands were carried out
    std::function<void(bool)> done;
};

// Everything the caller's threads and the link thread share. Owned jointly so that a link
// thread stuck in a driver call can be left behind by close() without dangling.
struct Shared
{
    std::mutex lock;
    std::condition_variable wake;    // link thread: new command, request or stop
    std::condition_variable changed; // callers: open result, version answer, thread end
    std::atomic<bool> stop{false};

    bool openDone = false;
    bool openOk = false;
    QString openError;
    bool finished = false;

    std::deque<Change> pending;
    std::uint64_t queued = 0; // commands given so far
    unsigned versionAsked = 0;
    unsigned versionServed = 0;
    std::string version;

    // Held by the link thread while it runs waiters' callbacks; close() takes it so that none
    // runs after it returned. Taken before `lock`, never the other way round.
    std::mutex callbacks;
    bool closed = false;
    std::vector<Waiter> waiters;
    std::uint64_t polls = 0;             // well-formed poll answers so far
    std::array<std::uint64_t, 3> polled{}; // the poll count at the latest answer of each kind

    bool portFailed = false;
    bool lost = false; // a change did not hold, or read-backs went unanswered: for good
    Clock::time_point lastAnswer = Clock::now();
    int centivolts = 0;
    int milliamps = 0;
    SupplyState state;
};

bool aliveLocked(const Shared& s)
{
    return !s.finished && !s.portFailed && !s.lost && Clock::now() - s.lastAnswer < kAnswerLost;
}

void queueCommand(Shared& s, Change command)
{
    std::lock_guard<std::mutex> guard(s.lock);
    ++s.queued;
    if (command.kind == Change::Output) {
        // Only the tail may be merged: an output switch must stay after the setpoints before it.
        if (!s.pending.empty() && s.pending.back().kind == Change::Output)
            s.pending.back() = command;
        else
            s.pending.push_back(command);
    } else {
        // A newer setpoint replaces one still waiting, in its place: nothing stale goes out.
        bool replaced = false;
        for (auto& waiting : s.pending) {
            if (waiting.kind == command.kind) {
                waiting.value = command.value;
                replaced = true;
            }
        }
        if (!replaced)
            s.pending.push_back(command);
    }
    s.wake.notify_all();
}

// Runs the callbacks of the waiters whose time has come: satisfied, or the link gone.
void serveWaiters(Shared& s)
{
    std::lock_guard<std::mutex> running(s.callbacks);
    std::vector<std::pair<std::function<void(bool)>, bool>> ready;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.closed)
            return;
        const bool alive = aliveLocked(s);
        const std::uint64_t freshest = *std::min_element(s.polled.begin(), s.polled.end());
        for (auto it = s.waiters.begin(); it != s.waiters.end();) {
            const bool met = it->pollMark && (!it->freshReadings || freshest > *it->pollMark);
            if (met || !alive) {
                ready.emplace_back(std::move(it->done), met && alive);
                it = s.waiters.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& [done, ok] : ready)
        done(ok);
}

enum class Outcome { Done, Lost, Stopped };

// Sends a change until the supply reads it back, up to kTries times. A newer value of the same
// kind waiting meanwhile does not cut this short: what went out is seen through, so the
// supply never silently skips a value it was sent.
Outcome applyChange(SerialSession& session, const Change& change)
{
    for (int attempt = 1; attempt <= kTries; ++attempt) {
        switch (session.apply(change)) {
        case SerialSession::Applied::Held:
            return Outcome::Done;
        case SerialSession::Applied::Stopped:
            return Outcome::Stopped;
        case SerialSession::Applied::Unanswered:
            return Outcome::Lost;
        case SerialSession::Applied::NotHeld:
            break;
        }
    }
    return Outcome::Lost;
}

void runLink(std::shared_ptr<Shared> shared, PortSetting target)
{
    Shared& s = *shared;
    SerialTransport transport(s.stop);
    {
        QString error;
        const bool ok = transport.open(target.path, target.baud, &error);
        std::lock_guard<std::mutex> guard(s.lock);
        s.openDone = true;
        s.openOk = ok;
        s.openError = error;
        s.lastAnswer = Clock::now();
        s.changed.notify_all();
        if (!ok) {
            s.finished = true;
            return;
        }
    }
    SerialSession session(transport, target.dialect);
    session.setAnswerListener([&s] {
        std::lock_guard<std::mutex> guard(s.lock);
        s.lastAnswer = Clock::now();
    });
    int pollStep = 0;
    // Nothing goes out before the identity request: slow firmware would ignore that request
    // if it came too soon after a poll.
    bool identified = false;

    while (!s.stop.load()) {
        std::unique_lock<std::mutex> guard(s.lock);
        if (transport.failed())
            s.portFailed = true;
        if (s.versionAsked != s.versionServed) {
            const unsigned asked = s.versionAsked;
            guard.unlock();
            const std::string identity = session.identify();
            identified = identified || !identity.empty();
            guard.lock();
            s.version = identity;
            s.versionServed = asked;
            s.changed.notify_all();
            continue;
        }
        if (!identified || s.portFailed || s.lost) {
            // Nothing to poll until the supply has said who it is; nothing to do on a vanished
            // port or a lost supply but to tell whoever waits.
            guard.unlock();
            serveWaiters(s);
            guard.lock();
            s.wake.wait_for(guard, kIdleWait);
            continue;
        }
        // What is waiting now goes out before the next poll; what arrives meanwhile waits for
        // the one after, so a steadily turning wheel cannot starve the readings.
        std::deque<Change> batch;
        batch.swap(s.pending);
        const std::uint64_t given = s.queued;
        guard.unlock();
        Outcome outcome = Outcome::Done;
        for (const Change& change : batch) {
            outcome = applyChange(session, change);
            if (outcome != Outcome::Done)
                break;
        }
        if (outcome == Outcome::Stopped || s.stop.load())
            break;
        guard.lock();
        if (outcome == Outcome::Lost) {
            s.lost = true;
            s.pending.clear();
            guard.unlock();
            serveWaiters(s);
            continue;
        }
        for (Waiter& w : s.waiters)
            if (!w.pollMark && w.queued <= given)
                w.pollMark = s.polls;
        guard.unlock();
        serveWaiters(s); // those waiting for the commands alone need not wait for a poll

        std::optional<int> value;
        std::optional<SupplyState> state;
        switch (pollStep) {
        case 0:
            state = session.queryState();
            break;
        case 1:
            value = session.queryVoltage();
            break;
        default:
            value = session.queryCurrent();
            break;
        }
        guard.lock();
        if (pollStep == 0 && state)
            s.state = *state;
        else if (pollStep == 1 && value)
            s.centivolts = *value;
        else if (pollStep == 2 && value)
            s.milliamps = *value;
        if (state || value)
            s.polled[static_cast<size_t>(pollStep)] = ++s.polls;
        pollStep = (pollStep + 1) % 3;
        guard.unlock();
        serveWaiters(s);
    }

    transport.close();
    std::lock_guard<std::mutex> guard(s.lock);
    s.finished = true;
    s.changed.notify_all();
}

class SerialLink : public Link
{
public:
    SerialLink(std::shared_ptr<Shared> shared, QThread* thread) : m_shared(std::move(shared)), m_thread(thread) {}
    ~SerialLink() override { close(); }

    std::string readVersion() override
    {
        Shared& s = *m_shared;
        std::unique_lock<std::mutex> guard(s.lock);
        if (s.finished)
            return {};
        const unsigned ticket = ++s.versionAsked;
        s.wake.notify_all();
        const bool served = s.changed.wait_for(guard, kVersionTimeout, [&] {
            return s.finished || static_cast<int>(s.versionServed - ticket) >= 0;
        });
        return served && !s.finished ? s.version : std::string();
    }

    void setOutput(bool on) override { queueCommand(*m_shared, {Change::Output, on ? 1 : 0}); }
    void openPower() override {} // no dialect has a remote-takeover command worth sending

    bool setVoltage(int centivolts) override
    {
        queueCommand(*m_shared, {Change::Voltage, centivolts});
        return open();
    }

    bool setCurrent(int milliamps) override
    {
        queueCommand(*m_shared, {Change::Current, milliamps});
        return open();
    }

    int readVoltage() override
    {
        std::lock_guard<std::mutex> guard(m_shared->lock);
        return m_shared->centivolts;
    }

    int readCurrent() override
    {
        std::lock_guard<std::mutex> guard(m_shared->lock);
        return m_shared->milliamps;
    }

    void readState(int& out, int& cv, int& cc) override
    {
        std::lock_guard<std::mutex> guard(m_shared->lock);
        out = m_shared->state.outputOn ? 1 : 0;
        cv = m_shared->state.constantVoltage ? 1 : 0;
        cc = m_shared->state.constantCurrent ? 1 : 0;
    }

    bool alive() override
    {
        std::lock_guard<std::mutex> guard(m_shared->lock);
        return aliveLocked(*m_shared);
    }

    UnitMaximum learnedMaximum() override { return {}; }

    void afterCommands(bool freshReadings, std::function<void(bool ok)> done) override
    {
        Shared& s = *m_shared;
        {
            std::lock_guard<std::mutex> guard(s.lock);
            if (!s.closed && aliveLocked(s)) {
                s.waiters.push_back({s.queued, freshReadings, std::nullopt, std::move(done)});
                s.wake.notify_all();
                return;
            }
        }
        done(false);
    }

    void close() override
    {
        Shared& s = *m_shared;
        if (m_thread) {
            std::unique_lock<std::mutex> guard(s.lock);
            s.stop.store(true);
            s.wake.notify_all();
            const bool ended = s.changed.wait_for(guard, kCloseTimeout, [&] { return s.finished; });
            guard.unlock();
            if (ended) {
                m_thread->wait();
                m_thread.reset();
            } else {
                // Stuck in the driver: it owns its share of the state and cleans up when it ends.
                QThread* stuck = m_thread.release();
                QObject::connect(stuck, &QThread::finished, stuck, &QObject::deleteLater);
                if (stuck->isFinished())
                    stuck->deleteLater(); // it ended before the connection was made
            }
        }
        // Whoever still waits hears "no" now, and nobody after this returns.
        std::vector<Waiter> left;
        {
            std::lock_guard<std::mutex> running(s.callbacks);
            std::lock_guard<std::mutex> guard(s.lock);
            s.closed = true;
            left.swap(s.waiters);
        }
        for (Waiter& w : left)
            w.done(false);
    }

private:
    bool open()
    {
        std::lock_guard<std::mutex> guard(m_shared->lock);
        return !m_shared->finished && !m_shared->portFailed;
    }

    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<QThread> m_thread;
};

} // namespace

std::unique_ptr<Link> OpenWireLink(const PortSetting& setting, QString* error)
{
    auto shared = std::make_shared<Shared>();
    // A QThread, not a bare std::thread: the serial port's notifiers want one.
    QThread* thread = QThread::create(runLink, shared, setting);
    thread->setObjectName(QStringLiteral("serial link"));
    auto link = std::make_unique<SerialLink>(shared, thread);
    thread->start();
    bool ok = false;
    {
        std::unique_lock<std::mutex> guard(shared->lock);
        shared->changed.wait_for(guard, kOpenTimeout, [&] { return shared->openDone; });
        ok = shared->openDone && shared->openOk;
        if (!ok && error)
            *error = shared->openDone ? shared->openError
                                      : QStringLiteral("Cannot open %1: the port did not respond.").arg(setting.path);
    }
    if (!ok)
        return nullptr; // the link's destructor stops and joins the thread
    return link;
}

} // namespace pslink
