#include "device/link/SerialSession.h"

#include "device/link/Dialects.h"

#include <algorithm>

namespace pslink {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long a unit gets to answer a request it had buffered from the previous probe.
constexpr milliseconds kBufferedProbe{300};

} // namespace

// The requests of one detection pass, so that each dialect's probe can build on the last.
class SerialSession::DetectionProbe : public Probe
{
public:
    explicit DetectionProbe(SerialSession& session) : m_session(session) {}

    std::optional<std::string> ask(const std::string& request, Framer& framer, ReplyTiming timing) override
    {
        std::optional<std::string> reply;
        const std::string previous = std::move(m_last);
        m_last = request;
        const bool extends = !previous.empty() && request.size() > previous.size()
                             && request.compare(0, previous.size(), previous) == 0;
        if (extends && m_session.append(request.substr(previous.size())))
            reply = m_session.receive(framer, {kBufferedProbe, timing.between});
        if (!reply) {
            framer.reset();
            if (m_session.send(request))
                reply = m_session.receive(framer, timing);
        }
        return reply;
    }

    Channel& channel() override { return m_session; }

private:
    SerialSession& m_session;
    std::string m_last;
};

SerialSession::SerialSession(SerialTransport& transport, const DialectInfo* dialect)
    : m_transport(transport), m_info(dialect), m_dialect(dialect ? dialect->open() : nullptr),
      m_gap(dialect ? dialect->commandGap : Dialects().front()->commandGap), m_lastCommand(Clock::now()),
      m_lastAnswer(Clock::now())
{
    // Counting the open as a command keeps the gap to whatever the last session sent just
    // before a quick reconnect.
}

SerialSession::~SerialSession() = default;

template <typename T>
T SerialSession::answeredIf(T value)
{
    if (value)
        m_lastAnswer = Clock::now();
    return value;
}

bool SerialSession::stamped(bool written)
{
    // The gap counts from when the command has reached the driver, not from before the write:
    // a write held up (thread preempted, slow bridge) must not eat into the next gap.
    m_lastCommand = Clock::now();
    return written;
}

void SerialSession::keepGap()
{
    const auto next = m_lastCommand + m_gap;
    const auto now = Clock::now();
    if (now < next)
        m_transport.pause(std::chrono::duration_cast<milliseconds>(next - now) + milliseconds(1));
}

bool SerialSession::send(const std::string& bytes)
{
    keepGap();
    if (m_transport.stopping())
        return false;
    m_transport.drain();
    return stamped(m_transport.write(bytes));
}

bool SerialSession::append(const std::string& bytes)
{
    keepGap();
    return stamped(m_transport.write(bytes));
}

std::optional<std::string> SerialSession::receive(Framer& framer, ReplyTiming timing)
{
    const std::string first = m_transport.readSome(timing.firstByte);
    if (first.empty())
        return std::nullopt;
    framer.feed(first);
    while (!framer.complete() && !m_transport.stopping()) {
        const std::string more = m_transport.readSome(timing.between);
        if (more.empty())
            break; // silence ends the reply
        framer.feed(more);
    }
    return framer.take();
}

void SerialSession::settle(milliseconds quiet)
{
    while (!m_transport.stopping() && !m_transport.readSome(quiet).empty()) {
    }
    m_transport.drain();
}

std::string SerialSession::identify()
{
    DetectionProbe probe(*this);
    if (m_dialect) {
        const std::string identity = m_dialect->identify(probe);
        if (!identity.empty())
            m_lastAnswer = Clock::now();
        return identity;
    }
    for (const DialectInfo* info : Dialects()) {
        if (m_transport.stopping())
            break;
        auto dialect = info->open();
        m_gap = info->commandGap;
        const std::string identity = dialect->identify(probe);
        if (!identity.empty()) {
            m_info = info;
            m_dialect = std::move(dialect);
            m_lastAnswer = Clock::now();
            return identity;
        }
    }
    m_gap = Dialects().front()->commandGap;
    return {};
}

bool SerialSession::setVoltage(int centivolts)
{
    return m_dialect && m_dialect->setVoltage(*this, centivolts);
}

bool SerialSession::setCurrent(int milliamps)
{
    return m_dialect && m_dialect->setCurrent(*this, milliamps);
}

bool SerialSession::setOutput(bool on)
{
    return m_dialect && m_dialect->setOutput(*this, on);
}

std::optional<int> SerialSession::queryVoltage()
{
    return m_dialect ? answeredIf(m_dialect->queryVoltage(*this)) : std::nullopt;
}

std::optional<int> SerialSession::queryCurrent()
{
    return m_dialect ? answeredIf(m_dialect->queryCurrent(*this)) : std::nullopt;
}

std::optional<SerialSession::State> SerialSession::queryState()
{
    return m_dialect ? answeredIf(m_dialect->queryState(*this)) : std::nullopt;
}

} // namespace pslink
