#include "device/link/LinkWorker.h"

#include "device/link/ChangeConfirmer.h"
#include "device/link/SerialTransport.h"
#include "device/link/TcpTransport.h"
#include "device/link/UsbTmcTransport.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace pslink {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kIdentityTimeout{8000}; // every probe with its time-outs fits well inside
constexpr milliseconds kIdleWait{50};

// The one place that picks the transport: a socket for a unit on the network, the USB-TMC driver's
// node, else a serial port.
std::unique_ptr<Transport> makeTransport(const PortSetting& setting, const std::atomic<bool>& stop)
{
    if (setting.onNetwork())
        return std::make_unique<TcpTransport>(stop);
    if (setting.usbtmc)
        return std::make_unique<UsbTmcTransport>(stop);
    return std::make_unique<SerialTransport>(stop);
}

} // namespace

LinkWorker::LinkWorker(PortSetting setting) : m_setting(std::move(setting)) {}

// ---- The link thread ----

void LinkWorker::run()
{
    const std::unique_ptr<Transport> transport = makeTransport(m_setting, m_stop);
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

// One round: the identity when asked for; else the changes waiting, then one poll.
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
    if (sendPending(confirmer) == Step::Stop)
        return Step::Stop;
    serveWaiters();      // those waiting for the commands alone need not wait for a poll
    if (readyToPoll()) { // not when a change was just lost
        poll(session);
        serveWaiters();
    }
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

// What is waiting now goes out before the next poll; what arrives meanwhile waits for the one
// after, so a steadily turning wheel cannot starve the readings.
LinkWorker::Step LinkWorker::sendPending(ChangeConfirmer& confirmer)
{
    std::deque<Change> batch;
    std::uint64_t given = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        batch.swap(m_pending);
        given = m_queued;
    }
    ChangeConfirmer::Outcome outcome = ChangeConfirmer::Outcome::Held;
    for (const Change& change : batch) {
        outcome = confirmer.apply(change);
        if (outcome != ChangeConfirmer::Outcome::Held)
            break;
    }
    if (outcome == ChangeConfirmer::Outcome::Stopped || m_stop.load())
        return Step::Stop;
    std::lock_guard<std::mutex> guard(m_lock);
    m_maximum = confirmer.maximum();
    if (outcome == ChangeConfirmer::Outcome::Lost) {
        m_lost = true;
        m_pending.clear();
        return Step::Again;
    }
    for (Waiter& w : m_waiters)
        if (!w.pollMark && w.queued <= given)
            w.pollMark = m_polls;
    return Step::Again;
}

void LinkWorker::poll(Session& session)
{
    if (pollWhole(session))
        return;
    std::optional<int> value;
    std::optional<SupplyState> state;
    switch (m_pollStep) {
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
    std::lock_guard<std::mutex> guard(m_lock);
    if (state)
        m_readings.state = *state;
    else if (value && m_pollStep == 1)
        m_readings.centivolts = *value;
    else if (value)
        m_readings.milliamps = *value;
    if (state || value)
        m_polled[static_cast<size_t>(m_pollStep)] = ++m_polls;
    m_pollStep = (m_pollStep + 1) % 3;
    m_lastFault = QString::fromStdString(session.lastFault());
}

// A dialect that reads everything in one request: one poll, every kind fresh at once.
bool LinkWorker::pollWhole(Session& session)
{
    if (!session.readsWhole())
        return false;
    const std::optional<Sample> sample = session.readAll();
    std::lock_guard<std::mutex> guard(m_lock);
    if (sample) {
        m_readings = *sample;
        m_polled.fill(++m_polls);
    }
    m_lastFault = QString::fromStdString(session.lastFault());
    return true;
}

// Runs the callbacks of the waiters whose time has come: satisfied, or the link gone.
void LinkWorker::serveWaiters()
{
    std::lock_guard<std::mutex> running(m_callbacks);
    std::vector<std::pair<std::function<void(bool)>, bool>> ready;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_dismissed)
            return;
        const bool alive = aliveLocked();
        const std::uint64_t freshest = *std::min_element(m_polled.begin(), m_polled.end());
        for (auto it = m_waiters.begin(); it != m_waiters.end();) {
            const bool met = it->pollMark && (!it->freshReadings || freshest > *it->pollMark);
            if (met || !alive) {
                ready.emplace_back(std::move(it->done), met && alive);
                it = m_waiters.erase(it);
            } else {
                ++it;
            }
        }
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
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_queued;
    if (change.kind == Change::Output) {
        // Only the tail may be merged: an output switch must stay after the setpoints before it.
        if (!m_pending.empty() && m_pending.back().kind == Change::Output)
            m_pending.back() = change;
        else
            m_pending.push_back(change);
    } else {
        // A newer setpoint replaces one still waiting, in its place: nothing stale goes out.
        const auto waiting = std::find_if(m_pending.begin(), m_pending.end(),
                                          [&](const Change& c) { return c.kind == change.kind; });
        if (waiting != m_pending.end())
            waiting->value = change.value;
        else
            m_pending.push_back(change);
    }
    m_wake.notify_all();
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
    std::lock_guard<std::mutex> guard(m_lock);
    m_waitsCancelled = true;
    m_change.notify_all();
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

Sample LinkWorker::readings() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_readings;
}

UnitMaximum LinkWorker::maximum() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_maximum;
}

QString LinkWorker::refusal() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_refusal;
}

QString LinkWorker::unitSummary() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_unitSummary;
}

QString LinkWorker::notice() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_notice;
}

QString LinkWorker::lastFault() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_lastFault;
}

const DialectInfo* LinkWorker::dialect() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_dialect ? m_dialect : m_setting.dialect;
}

void LinkWorker::afterCommands(bool freshReadings, std::function<void(bool ok)> done)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_dismissed && aliveLocked()) {
            m_waiters.push_back({m_queued, freshReadings, std::nullopt, std::move(done)});
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
    std::vector<Waiter> left;
    {
        std::lock_guard<std::mutex> running(m_callbacks);
        std::lock_guard<std::mutex> guard(m_lock);
        m_dismissed = true;
        left.swap(m_waiters);
    }
    for (Waiter& w : left)
        w.done(false);
}

} // namespace pslink
