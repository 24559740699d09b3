#include "device/link/Session.h"

#include "device/NumberText.h"
#include "device/SupplyLimits.h"

#include "device/link/Dialects.h"

#include <algorithm>
#include <map>

namespace pslink {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long a unit gets to answer a request it had buffered from the previous probe.
constexpr milliseconds kBufferedProbe{300};
// How much shorter the spacing after a busy command gets with each change that held.
constexpr milliseconds kEaseStep{25};
// How long a unit that closed the connection at once gets before it is asked again.
constexpr milliseconds kClosedAgain{500};

} // namespace

// The requests of one detection pass, so that each dialect's probe can build on the last.
class Session::DetectionProbe : public Probe
{
public:
    explicit DetectionProbe(Session& session) : m_session(session) {}

    std::optional<std::string> ask(const std::string& request, Framer& framer, ReplyTiming timing) override
    {
        // Dialects that ask alike share the answer (or the silence) instead of asking twice.
        if (const auto known = m_asked.find(request); known != m_asked.end())
            return known->second;
        std::optional<std::string> reply;
        const bool extends = m_session.m_writes == m_writesAtLast && !m_last.empty() && request.size() > m_last.size()
                             && request.compare(0, m_last.size(), m_last) == 0;
        if (extends && m_session.append(request.substr(m_last.size())))
            reply = m_session.receive(framer, {kBufferedProbe, timing.between});
        if (!reply) {
            framer.reset();
            if (m_session.send(request, Pace::Quick))
                reply = m_session.receive(framer, timing);
        }
        m_last = request;
        m_writesAtLast = m_session.m_writes;
        m_asked[request] = reply;
        return reply;
    }

    Channel& channel() override { return m_session; }

private:
    Session& m_session;
    std::map<std::string, std::optional<std::string>> m_asked;
    std::string m_last;
    unsigned m_writesAtLast = 0;
};

Session::Session(Transport& transport, const DialectInfo* dialect, PortSetting setting)
    : m_transport(transport), m_info(dialect), m_dialect(dialect ? dialect->open(setting) : nullptr),
      m_gap(dialect ? dialect->commandGap : WireDialects().front()->commandGap), m_busyGap(m_gap),
      m_lastCommand(Clock::now()), m_lastAnswer(Clock::now()), m_setting(std::move(setting)),
      m_baud(m_setting.baud)
{
    // Counting the open as a command keeps the gap to whatever the last session sent just
    // before a quick reconnect.
}

Session::~Session() = default;

void Session::answered()
{
    m_lastAnswer = Clock::now();
    if (m_onAnswer)
        m_onAnswer();
}

template <typename T>
T Session::answeredIf(T value)
{
    if (value)
        answered();
    else if (std::string why = reason(); !why.empty())
        m_lastFault = std::move(why);
    return value;
}

void Session::keepGap()
{
    milliseconds gap = m_lastPace == Pace::Busy ? std::max(m_gap, m_busyGap) : m_gap;
    if (m_dialect)
        gap = std::max(gap, m_dialect->spacing()); // a slow family, or after its slow status query
    const auto next = m_lastCommand + gap;
    const auto now = Clock::now();
    if (now < next)
        m_transport.pause(std::chrono::duration_cast<milliseconds>(next - now) + milliseconds(1));
}

void Session::growBusyGap()
{
    if (!m_info)
        return;
    // One ignored command is enough to go to the slowest spacing: every further miss would cost
    // a whole reply timeout, and a unit left behind the clicks holds stale values for seconds.
    // The spacing that failed is remembered so that coming back down stops short of it.
    if (m_busyGap < m_info->slowestGap)
        m_tooShort = std::max(m_tooShort, m_busyGap);
    m_busyGap = m_info->slowestGap;
    m_grown = true;
}

void Session::easeBusyGap()
{
    if (!m_info)
        return;
    // Never up: before any spacing failed, the floor is the plain one.
    const milliseconds floor = m_grown ? m_tooShort + kEaseStep : m_gap;
    const milliseconds eased = std::max({m_busyGap - kEaseStep, floor, m_gap});
    m_busyGap = std::min({eased, m_busyGap, m_info->slowestGap});
}

void Session::waitSlowest()
{
    if (!m_info)
        return;
    const auto next = m_lastCommand + m_info->slowestGap;
    const auto now = Clock::now();
    if (now < next)
        m_transport.pause(std::chrono::duration_cast<milliseconds>(next - now) + milliseconds(1));
}

bool Session::write(const std::string& bytes, Pace pace)
{
    const bool written = m_transport.write(bytes);
    // The gap counts from when the command has reached the driver, not from before the write:
    // a write held up (thread preempted, slow bridge) must not eat into the next gap.
    m_lastCommand = Clock::now();
    m_sentAfterBusy = m_lastPace == Pace::Busy;
    m_lastPace = pace;
    ++m_writes;
    return written;
}

bool Session::send(const std::string& bytes, Pace pace)
{
    keepGap();
    if (m_transport.stopping())
        return false;
    m_transport.drain();
    return write(bytes, pace);
}

bool Session::append(const std::string& bytes)
{
    keepGap();
    return write(bytes, Pace::Quick);
}

std::optional<std::string> Session::receive(Framer& framer, ReplyTiming timing)
{
    const std::string first = m_transport.readSome(timing.firstByte);
    if (first.empty()) {
        // Not a word right after a busy command: most likely the unit was still busy and never
        // heard the query.
        if (m_sentAfterBusy && !m_transport.stopping())
            growBusyGap();
        return std::nullopt;
    }
    framer.feed(first);
    while (!framer.complete() && !m_transport.stopping()) {
        const std::string more = m_transport.readSome(timing.between);
        if (more.empty())
            break; // silence ends the reply
        framer.feed(more);
    }
    return framer.take();
}

void Session::settle(milliseconds quiet)
{
    while (!m_transport.stopping() && !m_transport.readSome(quiet).empty()) {
    }
    m_transport.drain();
}

// The rates to ask `info` at: the one the unit answered at before, else the dialect's own first
// rate and then the setting's; only the setting's when it names one.
std::vector<int> Session::baudsFor(const DialectInfo& info) const
{
    if (m_setting.baudGiven || info.firstBaud == 0 || info.firstBaud == m_setting.baud)
        return {m_setting.baud};
    if (m_foundBaud != 0)
        return {m_foundBaud, m_foundBaud == info.firstBaud ? m_setting.baud : info.firstBaud};
    return {info.firstBaud, m_setting.baud};
}

// A fresh link side of `info` that identifies the unit, or nullptr. Requests at the setting's
// rate share the pass's probe; at another rate what the others heard means nothing.
std::unique_ptr<Dialect> Session::tryDialect(const DialectInfo& info, Probe& shared, std::string& identity)
{
    for (const int baud : baudsFor(info)) {
        if (m_transport.stopping())
            break;
        if (baud != m_baud && !m_transport.setBaud(baud))
            continue;
        m_baud = baud;
        PortSetting at = m_setting;
        at.baud = baud;
        auto dialect = info.open(at);
        m_gap = info.commandGap;
        DetectionProbe own(*this);
        identity = dialect->identify(baud == m_setting.baud ? shared : own);
        if (!identity.empty()) {
            m_foundBaud = baud;
            return dialect;
        }
        if (m_refusal.empty())
            m_refusal = dialect->refusal();
    }
    return nullptr;
}

// A unit on the network that takes one client drops a second at once; it may also still be
// dropping the connection a program just closed, so it is asked once more after a pause. A unit
// of a known dialect that said nothing may still have been busy with the last program's query
// (slow firmware ignores what comes meanwhile): by the end of the first wait it is idle again.
std::string Session::identify()
{
    std::string identity = identifyHere();
    if (identity.empty() && m_info && m_refusal.empty() && !m_transport.closedAtOnce() && !m_transport.stopping())
        identity = identifyHere();
    if (identity.empty() && m_transport.closedAtOnce() && m_transport.pause(kClosedAgain)
        && m_transport.open(m_setting))
        identity = identifyHere();
    if (identity.empty() && m_transport.closedAtOnce() && m_refusal.empty())
        m_refusal = "the unit closed the connection at once; another program may be connected to it";
    return identity;
}

std::string Session::identifyHere()
{
    DetectionProbe probe(*this);
    m_refusal.clear();
    std::string identity;
    if (m_info) {
        if (auto dialect = tryDialect(*m_info, probe, identity)) {
            m_dialect = std::move(dialect);
            answered();
        }
        return identity;
    }
    for (const DialectInfo* info : WireDialects()) {
        if (m_transport.stopping())
            break;
        if (auto dialect = tryDialect(*info, probe, identity)) {
            m_info = info;
            m_dialect = std::move(dialect);
            m_busyGap = m_gap;
            answered();
            return identity;
        }
    }
    m_gap = WireDialects().front()->commandGap;
    if (m_baud != m_setting.baud && m_transport.setBaud(m_setting.baud))
        m_baud = m_setting.baud;
    return {};
}

bool Session::setVoltage(int centivolts)
{
    return m_dialect && m_dialect->setVoltage(*this, centivolts);
}

bool Session::setCurrent(int milliamps)
{
    return m_dialect && m_dialect->setCurrent(*this, milliamps);
}

bool Session::setOutput(bool on)
{
    return m_dialect && m_dialect->setOutput(*this, on);
}

std::optional<int> Session::readBack(Change::Kind kind)
{
    switch (kind) {
    case Change::Voltage:
        return answeredIf(m_dialect->querySetVoltage(*this));
    case Change::Current:
        return answeredIf(m_dialect->querySetCurrent(*this));
    case Change::Output:
        if (const auto on = answeredIf(m_dialect->queryOutput(*this)))
            return *on ? 1 : 0;
        break;
    }
    return std::nullopt;
}

// What the dialects put on the wire for `change`, and so what the unit should read back.
int Session::wantedOf(const Change& change)
{
    if (change.kind == Change::Output)
        return change.value != 0 ? 1 : 0;
    return std::clamp(change.value, 0, numtext::kMaxCount);
}

Session::Applied Session::sendChange(const Change& change)
{
    if (!m_dialect)
        return Applied::Unanswered;
    bool sent = false;
    switch (change.kind) {
    case Change::Voltage:
        sent = setVoltage(change.value);
        break;
    case Change::Current:
        sent = setCurrent(change.value);
        break;
    case Change::Output:
        sent = setOutput(change.value != 0);
        break;
    }
    if (!sent)
        return stopping() ? Applied::Stopped : Applied::Unanswered;
    return Applied::Sent;
}

Session::Applied Session::confirm(const Change& change, std::optional<int> shown, int* held)
{
    if (!m_dialect)
        return Applied::Unanswered;
    const int wanted = wantedOf(change);
    for (;;) {
        // A cut or garbled read-back is no answer: ask again until the supply counts as lost.
        if (const auto back = shown ? shown : readBack(change.kind)) {
            if (held)
                *held = *back;
            return *back == wanted ? Applied::Held : Applied::NotHeld;
        }
        if (stopping())
            return Applied::Stopped;
        if (m_transport.failed() || Clock::now() - m_lastAnswer >= kAnswerLost)
            return Applied::Unanswered;
    }
}

Session::Applied Session::apply(const Change& change, int* held)
{
    const Applied sent = sendChange(change);
    return sent == Applied::Sent ? confirm(change, std::nullopt, held) : sent;
}

std::optional<std::string> Session::queryRefusal()
{
    return m_dialect ? m_dialect->queryRefusal(*this) : std::nullopt;
}

std::optional<int> Session::queryVoltage()
{
    return m_dialect ? answeredIf(m_dialect->queryVoltage(*this)) : std::nullopt;
}

std::optional<int> Session::queryCurrent()
{
    return m_dialect ? answeredIf(m_dialect->queryCurrent(*this)) : std::nullopt;
}

std::optional<Session::State> Session::queryState()
{
    return m_dialect ? answeredIf(m_dialect->queryState(*this)) : std::nullopt;
}

std::optional<Sample> Session::readAll()
{
    return m_dialect ? answeredIf(m_dialect->readAll(*this)) : std::nullopt;
}

UnitMaximum Session::queryMaximum()
{
    if (!m_dialect)
        return {};
    // A maximum at or above what the program ever asks holds nothing back.
    const auto below = [](std::optional<int> told, int limit) { return told && *told > 0 && *told < limit ? *told : 0; };
    UnitMaximum maximum;
    maximum.centivolts = below(answeredIf(m_dialect->queryMaximumVoltage(*this)), supply::kMaxCentivolts);
    maximum.milliamps = below(answeredIf(m_dialect->queryMaximumCurrent(*this)), supply::kMaxMilliamps);
    return maximum;
}

} // namespace pslink
