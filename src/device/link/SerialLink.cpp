#include "device/link/SerialLink.h"

#include "device/link/Dialects.h"
#include "device/link/SerialSession.h"
#include "device/link/SerialTransport.h"

#include <QStringList>
#include <QThread>

#include <algorithm>
#include <atomic>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace pslink {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kAnswerLost{3000};  // silence after which the link counts as lost
constexpr milliseconds kOpenTimeout{3000};
constexpr milliseconds kVersionTimeout{8000}; // both probes with their time-outs fit well inside
constexpr milliseconds kCloseTimeout{900};    // CloseCOM must be back within a second
constexpr milliseconds kIdleWait{50};

struct Command
{
    enum Kind { Voltage, Current, Output } kind;
    int value;
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
    bool finished = false;

    std::deque<Command> pending;
    unsigned versionAsked = 0;
    unsigned versionServed = 0;
    std::string version;

    bool portFailed = false;
    Clock::time_point lastAnswer = Clock::now();
    int centivolts = 0;
    int milliamps = 0;
    SerialSession::State state;
};

void queueCommand(Shared& s, Command command)
{
    std::lock_guard<std::mutex> guard(s.lock);
    if (command.kind == Command::Output) {
        // Only the tail may be merged: an output switch must stay after the setpoints before it.
        if (!s.pending.empty() && s.pending.back().kind == Command::Output)
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

void runLink(std::shared_ptr<Shared> shared, SerialTarget target)
{
    Shared& s = *shared;
    SerialTransport transport(s.stop);
    {
        const bool ok = transport.open(target.path, target.baud);
        std::lock_guard<std::mutex> guard(s.lock);
        s.openDone = true;
        s.openOk = ok;
        s.lastAnswer = Clock::now();
        s.changed.notify_all();
        if (!ok) {
            s.finished = true;
            return;
        }
    }
    SerialSession session(transport, target.dialect);
    int pollStep = 0;

    while (!s.stop.load()) {
        std::unique_lock<std::mutex> guard(s.lock);
        if (transport.failed())
            s.portFailed = true;
        if (s.versionAsked != s.versionServed) {
            const unsigned asked = s.versionAsked;
            guard.unlock();
            const std::string identity = session.identify();
            guard.lock();
            s.version = identity;
            s.versionServed = asked;
            s.lastAnswer = std::max(s.lastAnswer, session.lastAnswer());
            s.changed.notify_all();
            continue;
        }
        if (!session.dialect() || s.portFailed) {
            // Nothing to poll until the dialect is known; nothing to do on a vanished port.
            s.wake.wait_for(guard, kIdleWait);
            continue;
        }
        // What is waiting now goes out before the next poll; what arrives meanwhile waits for
        // the one after, so a steadily turning wheel cannot starve the readings.
        std::deque<Command> batch;
        batch.swap(s.pending);
        guard.unlock();
        for (const Command& command : batch) {
            if (s.stop.load())
                break;
            switch (command.kind) {
            case Command::Voltage:
                session.setVoltage(command.value);
                break;
            case Command::Current:
                session.setCurrent(command.value);
                break;
            case Command::Output:
                session.setOutput(command.value != 0);
                break;
            }
        }
        if (s.stop.load())
            break;

        std::optional<int> value;
        std::optional<SerialSession::State> state;
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
        s.lastAnswer = std::max(s.lastAnswer, session.lastAnswer());
        pollStep = (pollStep + 1) % 3;
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

    void setOutput(bool on) override { queueCommand(*m_shared, {Command::Output, on ? 1 : 0}); }
    void openPower() override {} // neither dialect has a remote-takeover command worth sending

    bool setVoltage(int centivolts) override
    {
        queueCommand(*m_shared, {Command::Voltage, centivolts});
        return open();
    }

    bool setCurrent(int milliamps) override
    {
        queueCommand(*m_shared, {Command::Current, milliamps});
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
        return !m_shared->finished && !m_shared->portFailed && Clock::now() - m_shared->lastAnswer < kAnswerLost;
    }

    void close() override
    {
        if (!m_thread)
            return;
        Shared& s = *m_shared;
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

std::optional<SerialTarget> ParseSerialTarget(const QString& target)
{
    SerialTarget out;
    QString rest = target.trimmed();
    const int colon = rest.indexOf(QLatin1Char(':'));
    if (colon > 0) {
        if (const DialectInfo* dialect = FindDialect(rest.left(colon).toStdString())) {
            out.dialect = dialect;
            rest = rest.mid(colon + 1);
        }
    }
    const int at = rest.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        bool ok = false;
        const QString digits = rest.mid(at + 1);
        const long long baud = digits.toLongLong(&ok);
        const bool allDigits = !digits.isEmpty()
                               && std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); });
        if (!allDigits || !ok || baud < 50 || baud > 4000000)
            return std::nullopt;
        out.baud = static_cast<int>(baud);
        rest = rest.left(at);
    }
    out.path = rest.trimmed();
    if (out.path.isEmpty())
        return std::nullopt;
    return out;
}

QString DescribeSerialTarget(const QString& target)
{
    const auto parsed = ParseSerialTarget(target);
    if (!parsed)
        return QStringLiteral("Unusable serial port setting %1").arg(target);
    const QString dialect = parsed->dialect ? QString::fromLatin1(parsed->dialect->description)
                                            : QStringLiteral("dialect detected on connect");
    return QStringLiteral("Serial port %1 (%2, %3 baud)").arg(parsed->path, dialect).arg(parsed->baud);
}

std::unique_ptr<Link> OpenSerialLink(const QString& target)
{
    const auto parsed = ParseSerialTarget(target);
    if (!parsed)
        return nullptr;
    auto shared = std::make_shared<Shared>();
    // A QThread, not a bare std::thread: the serial port's notifiers want one.
    QThread* thread = QThread::create(runLink, shared, *parsed);
    thread->setObjectName(QStringLiteral("serial link"));
    auto link = std::make_unique<SerialLink>(shared, thread);
    thread->start();
    bool ok = false;
    {
        std::unique_lock<std::mutex> guard(shared->lock);
        shared->changed.wait_for(guard, kOpenTimeout, [&] { return shared->openDone; });
        ok = shared->openDone && shared->openOk;
    }
    if (!ok)
        return nullptr; // the link's destructor stops and joins the thread
    return link;
}

} // namespace pslink
