#include "device/link/LinkWorker.h"

#include "device/link/TransportFor.h"

#include <algorithm>
#include <memory>
#include <thread>
#include <utility>

namespace pslink {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kIdentityTimeout{8000}; // every probe with its time-outs fits well inside
constexpr milliseconds kIdleWait{50};
// A supply asked nothing for this long gets a look at its lamps: at most once a second, and a
// little over the second of a run's ticks, so that a run's own polls leave nothing to add.
constexpr milliseconds kKeepAlive{1250};
// How long the changes given together get to join the first of them.
constexpr milliseconds kGather{1};
// Readings older than this, read by a caller, ask for a poll.
constexpr milliseconds kFreshEnough{1000};

} // namespace

LinkWorker::LinkWorker(PortSetting setting) : m_setting(std::move(setting)) {}

// ---- The link thread ----

void LinkWorker::run()
{
    const std::unique_ptr<Transport> transport = transportFor(m_setting, m_stop);
    if (openTransport(*transport)) {
        Session session(*transport, m_setting.dialect, m_setting);
        session.setAnswerListener([this] {
            std::lock_guard<std::mutex> guard(m_lock);
            m_lastAnswer = Clock::now();
        });
        ChangeConfirmer confirmer(session);
        while (!m_stop.load() && step(*transport, session, confirmer) == Step::Again) {
        }
        transport->close();
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_finished = true;
    m_change.notify_all();
}

bool LinkWorker::openTransport(Transport& transport)
{
    QString error;
    const bool ok = transport.open(m_setting, &error);
    std::lock_guard<std::mutex> guard(m_lock);
    m_openDone = true;
    m_openOk = ok;
    m_openError = error;
    m_lastAnswer = Clock::now();
    m_change.notify_all();
    return ok;
}

// One round: the identity when asked for; else the changes waiting, then a poll when one is
// wanted, else a look at the lamps when the supply has not been asked anything for a while.
LinkWorker::Step LinkWorker::step(Transport& transport, Session& session, ChangeConfirmer& confirmer)
{
    if (transport.failed()) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_portFailed = true;
    }
    if (const auto ticket = identityAsked()) {
        serveIdentity(session, confirmer, *ticket);
        return Step::Again;
    }
    if (!readyToPoll()) {
        idle();
        return Step::Again;
    }
    if (sendPending(session, confirmer) == Step::Stop)
        return Step::Stop;
    serveWaiters(); // also those that asked for what was done before they asked
    if (!readyToPoll()) // a change was just lost
        return Step::Again;
    readSetpoints(confirmer);
    if (pollWanted())
        poll(session);
    else if (m_keepAliveMissed || Clock::now() - session.lastCommand() >= kKeepAlive)
        keepAlive(session);
    else
        waitForWork(session);
    return Step::Again;
}

std::optional<unsigned> LinkWorker::identityAsked()
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_identityAsked == m_identityServed)
        return std::nullopt;
    return m_identityAsked;
}

void LinkWorker::serveIdentity(Session& session, ChangeConfirmer& confirmer, unsigned ticket)
{
    const std::string identity = session.identify();
    const bool first = !m_identified && !identity.empty();
    m_identified = m_identified || !identity.empty();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_refusal = session.refusal().empty() ? QString()
                                              : QStringLiteral("Cannot use the unit on %1: %2.")
                                                    .arg(PlaceText(m_setting), QString::fromStdString(session.refusal()));
        m_identity = identity;
        m_unitSummary = QString::fromStdString(session.unitSummary());
        m_notice = QString::fromStdString(session.notice());
        m_dialect = session.dialect();
        m_identityServed = ticket;
        m_change.notify_all();
    }
    if (!first)
        return;
    // Asked before the first change goes out, so that no setpoint beyond the unit ever does.
    confirmer.knowMaximum(session.queryMaximum());
    std::lock_guard<std::mutex> guard(m_lock);
    m_maximum = confirmer.maximum();
    m_held = confirmer.held();
}

bool LinkWorker::readyToPoll()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_identified && !m_portFailed && !m_lost;
}

// Nothing to poll until the supply has said who it is; nothing to do on a vanished port or a
// lost supply but to tell whoever waits.
void LinkWorker::idle()
{
    serveWaiters();
    std::unique_lock<std::mutex> guard(m_lock);
    m_wake.wait_for(guard, kIdleWait);
}

bool LinkWorker::pollWanted()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_demand.pollWanted() || m_readAsked;
}

bool LinkWorker::workWaitingLocked() const
{
    return m_stop.load() || m_demand.changesWaiting() || m_identityAsked != m_identityServed || m_readAsked
           || m_setpointsAsked || m_demand.pollWanted() || m_demand.anyMet();
}

// Until something is wanted, or the supply is due for a look at its lamps. A change that ends
// the wait gets the others given with it (a program's point is a voltage and a current) a
// moment to join it, so that they go out, and are polled, together.
void LinkWorker::waitForWork(const Session& session)
{
    bool changes = false;
    {
        std::unique_lock<std::mutex> guard(m_lock);
        m_wake.wait_until(guard, session.lastCommand() + kKeepAlive, [&] { return workWaitingLocked(); });
        changes = m_demand.changesWaiting();
    }
    if (changes)
        std::this_thread::sleep_for(kGather);
}

// What is waiting now goes out, then is read back; what arrives meanwhile waits for the next
// round, so a steadily turning wheel cannot starve the readings. A poll a caller waits for goes
// between the two, so its sample does not wait behind the read-backs, and confirms what it reads
// back itself. A unit shown to be slow has its changes read back first: a sample may not show them.
LinkWorker::Step LinkWorker::sendPending(Session& session, ChangeConfirmer& confirmer)
{
    std::deque<Change> batch;
    std::uint64_t given = 0;
    std::uint64_t sentBefore = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_demand.changesWaiting())
            return Step::Again;
        batch = m_demand.takeChanges();
        given = m_demand.given();
        sentBefore = m_demand.sent();
    }
    std::vector<Change> unconfirmed;
    if (const auto failed = confirmer.sendAll(batch, unconfirmed))
        return finishBatch(*failed, confirmer, given);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_demand.markSent(given);
    }
    const bool pollNow = !session.provedSlow() && (session.readsWhole() || pollWanted());
    const std::optional<Sample> shown = pollNow ? poll(session) : std::nullopt;
    const Outcome outcome = confirmer.confirmAll(unconfirmed, shown);
    if (shown && outcome == Outcome::HeldOnResend) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_demand.pollShowsOnlyUpTo(sentBefore);
    }
    return finishBatch(outcome, confirmer, given);
}

LinkWorker::Step LinkWorker::finishBatch(Outcome outcome, const ChangeConfirmer& confirmer, std::uint64_t given)
{
    if (outcome == Outcome::Stopped || m_stop.load())
        return Step::Stop;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_maximum = confirmer.maximum();
        m_refused = confirmer.refusal();
        m_held = confirmer.held();
        if (outcome == Outcome::Lost) {
            m_lost = true;
            m_demand.dropChanges();
        } else {
            m_demand.markConfirmed(given);
        }
    }
    serveWaiters();
    return Step::Again;
}

// Once asked: what is not known of the setpoints is read back (a caller that did not set them
// shows what the unit holds from the start).
void LinkWorker::readSetpoints(ChangeConfirmer& confirmer)
{
    if (!locked(m_setpointsAsked))
        return;
    confirmer.readHeld(); // unanswered: the next poll finds the link lost, or the next ask reads them
    std::lock_guard<std::mutex> guard(m_lock);
    m_setpointsAsked = false;
    m_held = confirmer.held();
}

// A whole poll; what it shows is what the supply had once the commands sent before it.
std::optional<Sample> LinkWorker::poll(Session& session)
{
    std::uint64_t number = 0;
    std::uint64_t shows = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        number = m_demand.pollStarting();
        shows = m_demand.sent();
        m_readAsked = false;
    }
    const std::optional<Sample> sample = session.readAll();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (sample) {
            m_readings = *sample;
            m_demand.pollDone(number, shows);
            m_lastPoll = Clock::now();
        }
        m_lastFault = QString::fromStdString(session.lastFault());
    }
    m_keepAliveMissed = !sample;
    serveWaiters();
    return sample;
}

// Nothing asked for a while: the lamps, which also show the link alive. A dialect that reads
// everything in one request takes a whole poll for the same price.
void LinkWorker::keepAlive(Session& session)
{
    if (session.readsWhole()) {
        poll(session);
        return;
    }
    const std::optional<SupplyState> state = session.queryState();
    std::lock_guard<std::mutex> guard(m_lock);
    if (state)
        m_readings.state = *state;
    m_lastFault = QString::fromStdString(session.lastFault());
    m_keepAliveMissed = !state;
}

// Runs the callbacks of the waiters whose time has come: satisfied, or the link gone.
void LinkWorker::serveWaiters()
{
    std::lock_guard<std::mutex> running(m_callbacks);
    std::vector<std::pair<LinkDemand::Done, bool>> ready;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_dismissed)
            return;
        ready = m_demand.takeReady(aliveLocked());
    }
    for (auto& [done, ok] : ready)
        done(ok);
}

bool LinkWorker::aliveLocked() const
{
    return !m_finished && !m_portFailed && !m_lost && Clock::now() - m_lastAnswer < kAnswerLost;
}

// ---- The callers' threads ----

bool LinkWorker::waitOpened(milliseconds timeout, QString* error)
{
    std::unique_lock<std::mutex> guard(m_lock);
    m_change.wait_for(guard, timeout, [&] { return m_openDone; });
    if (m_openDone && m_openOk)
        return true;
    if (error)
        *error = m_openDone ? m_openError
                            : QStringLiteral("Cannot open %1: the port did not respond.").arg(PlaceText(m_setting));
    return false;
}

void LinkWorker::queue(const Change& change)
{
    tell(m_wake, [&] { m_demand.queue(change); });
}

std::string LinkWorker::identify()
{
    std::unique_lock<std::mutex> guard(m_lock);
    if (m_finished || m_waitsCancelled)
        return {};
    const unsigned ticket = ++m_identityAsked;
    m_wake.notify_all();
    const bool served = m_change.wait_for(guard, kIdentityTimeout, [&] {
        return m_finished || m_waitsCancelled || static_cast<int>(m_identityServed - ticket) >= 0;
    });
    return served && !m_finished && !m_waitsCancelled ? m_identity : std::string();
}

void LinkWorker::cancelWaits()
{
    tell(m_change, [this] { m_waitsCancelled = true; });
}

bool LinkWorker::portOpen() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return !m_finished && !m_portFailed;
}

bool LinkWorker::alive() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return aliveLocked();
}

Sample LinkWorker::readings()
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_readAsked && Clock::now() - m_lastPoll >= kFreshEnough) {
        m_readAsked = true;
        m_wake.notify_all();
    }
    return m_readings;
}

const DialectInfo* LinkWorker::dialect() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_dialect ? m_dialect : m_setting.dialect;
}

void LinkWorker::afterCommands(Awaited what, std::function<void(bool ok)> done)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_dismissed && aliveLocked()) {
            m_demand.add(what, std::move(done));
            m_wake.notify_all();
            return;
        }
    }
    done(false);
}

bool LinkWorker::stop(milliseconds timeout)
{
    std::unique_lock<std::mutex> guard(m_lock);
    m_stop.store(true);
    m_wake.notify_all();
    return m_change.wait_for(guard, timeout, [&] { return m_finished; });
}

void LinkWorker::dismissWaiters()
{
    std::vector<LinkDemand::Done> left;
    {
        std::lock_guard<std::mutex> running(m_callbacks);
        std::lock_guard<std::mutex> guard(m_lock);
        m_dismissed = true;
        left = m_demand.takeAll();
    }
    for (LinkDemand::Done& done : left)
        done(false);
}

} // namespace pslink
