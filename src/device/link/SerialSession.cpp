#include "device/link/SerialSession.h"

#include "device/link/ScpiDialect.h"
#include "device/link/TextDialect.h"

#include <algorithm>

namespace pslink {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A margin over the plain-text minimum: a unit that drops a command costs a whole tick, and a
// USB bridge may hold one command back a little and pass the next on at once.
constexpr milliseconds kTextGap = text::kMinCommandGap + milliseconds(15);
// SCPI needs no spacing; a short one keeps the polling from flooding a slow USB bridge.
constexpr milliseconds kScpiGap{10};
constexpr milliseconds kScpiFirstByte{1500};
// Between two bytes of one SCPI line; longer means the line was cut.
constexpr milliseconds kScpiByteGap{100};
// After the identity: anything still coming is a duplicate answer to drain.
constexpr milliseconds kSettle{150};
// How long a SCPI unit gets to answer an "*IDN?" it had buffered from the plain-text probe.
constexpr milliseconds kBufferedProbe{300};

} // namespace

SerialSession::SerialSession(SerialTransport& transport, Dialect dialect)
    : m_transport(transport), m_dialect(dialect), m_lastCommand(Clock::now()), m_lastAnswer(Clock::now())
{
    // Counting the open as a command keeps the gap to whatever the last session sent just
    // before a quick reconnect.
}

void SerialSession::answered()
{
    m_lastAnswer = Clock::now();
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
    const milliseconds gap = m_dialect == Dialect::Scpi ? kScpiGap : kTextGap;
    const auto next = m_lastCommand + gap;
    const auto now = Clock::now();
    if (now < next)
        m_transport.pause(std::chrono::duration_cast<milliseconds>(next - now) + milliseconds(1));
}

bool SerialSession::sendText(const std::string& command)
{
    keepGap();
    if (m_transport.stopping())
        return false;
    // A stray byte some units add after a reply must not be taken for the next one.
    m_transport.drain();
    return stamped(m_transport.write(command));
}

bool SerialSession::sendScpi(const std::string& command)
{
    keepGap();
    if (m_transport.stopping())
        return false;
    m_transport.drain();
    return stamped(m_transport.write(command + "\n"));
}

std::optional<std::string> SerialSession::textQuery(const std::string& command, int expectedLength)
{
    if (!sendText(command))
        return std::nullopt;
    text::ReplyFramer framer(expectedLength);
    framer.feed(m_transport.readSome(text::kFirstByteTimeout));
    if (framer.empty())
        return std::nullopt;
    while (!framer.complete() && !m_transport.stopping()) {
        const std::string more = m_transport.readSome(text::kReplySilence);
        if (more.empty())
            break; // silence ends the reply
        framer.feed(more);
    }
    if (expectedLength > 0 && !framer.complete())
        return std::nullopt; // cut short
    return framer.reply();
}

std::optional<std::string> SerialSession::scpiReadLine(milliseconds firstByte)
{
    scpi::LineFramer framer;
    milliseconds wait = firstByte;
    while (!m_transport.stopping()) {
        const std::string bytes = m_transport.readSome(wait);
        if (bytes.empty())
            return std::nullopt; // nothing, or a line cut short
        framer.feed(bytes);
        if (auto line = framer.takeLine())
            return line;
        wait = kScpiByteGap;
    }
    return std::nullopt;
}

std::optional<std::string> SerialSession::scpiQuery(const std::string& command)
{
    if (!sendScpi(command))
        return std::nullopt;
    return scpiReadLine(kScpiFirstByte);
}

std::string SerialSession::textIdentity()
{
    const auto reply = textQuery(text::kQueryIdentity, 0);
    return reply ? text::cleanIdentity(*reply) : std::string();
}

std::string SerialSession::scpiIdentity(bool probing)
{
    std::optional<std::string> line;
    if (probing) {
        // A SCPI unit has buffered the unterminated plain-text probe: a lone LF completes it
        // into a query it answers. Sending the query again at once would earn two answers.
        keepGap();
        if (stamped(m_transport.write("\n")))
            line = scpiReadLine(kBufferedProbe);
    }
    if (!line)
        line = scpiQuery(scpi::kQueryIdentity);
    if (!line)
        return {};
    const std::string identity = text::cleanIdentity(*line);
    if (!identity.empty()) {
        // Let any duplicate answer arrive, then throw it away.
        while (!m_transport.stopping() && !m_transport.readSome(kSettle).empty()) {
        }
        m_transport.drain();
    }
    return identity;
}

std::string SerialSession::identify()
{
    std::string identity;
    switch (m_dialect) {
    case Dialect::Text:
        identity = textIdentity();
        break;
    case Dialect::Scpi:
        identity = scpiIdentity(false);
        break;
    case Dialect::Auto:
        identity = textIdentity();
        if (!identity.empty()) {
            m_dialect = Dialect::Text;
            break;
        }
        if (m_transport.stopping())
            break;
        identity = scpiIdentity(true);
        if (!identity.empty())
            m_dialect = Dialect::Scpi;
        break;
    }
    if (!identity.empty())
        answered();
    return identity;
}

bool SerialSession::setVoltage(int centivolts)
{
    switch (m_dialect) {
    case Dialect::Text:
        return sendText(text::setVoltageCommand(centivolts));
    case Dialect::Scpi:
        m_setCentivolts = std::clamp(centivolts, 0, 9999);
        return sendScpi(scpi::setVoltageCommand(centivolts));
    case Dialect::Auto:
        break;
    }
    return false;
}

bool SerialSession::setCurrent(int milliamps)
{
    switch (m_dialect) {
    case Dialect::Text:
        return sendText(text::setCurrentCommand(milliamps));
    case Dialect::Scpi:
        m_setMilliamps = std::clamp(milliamps, 0, 9999);
        return sendScpi(scpi::setCurrentCommand(milliamps));
    case Dialect::Auto:
        break;
    }
    return false;
}

bool SerialSession::setOutput(bool on)
{
    switch (m_dialect) {
    case Dialect::Text:
        return sendText(text::outputCommand(on));
    case Dialect::Scpi:
        return sendScpi(scpi::outputCommand(on));
    case Dialect::Auto:
        break;
    }
    return false;
}

std::optional<int> SerialSession::queryVoltage()
{
    std::optional<int> value;
    if (m_dialect == Dialect::Text) {
        if (const auto reply = textQuery(text::kQueryVoltage, text::kReadingLength))
            value = text::parseVoltage(*reply);
    } else if (m_dialect == Dialect::Scpi) {
        if (const auto line = scpiQuery(scpi::kQueryVoltage))
            value = scpi::parseCounts(*line, 2);
    }
    if (value) {
        m_lastCentivolts = *value;
        answered();
    }
    return value;
}

std::optional<int> SerialSession::queryCurrent()
{
    std::optional<int> value;
    if (m_dialect == Dialect::Text) {
        if (const auto reply = textQuery(text::kQueryCurrent, text::kReadingLength))
            value = text::parseCurrent(*reply);
    } else if (m_dialect == Dialect::Scpi) {
        if (const auto line = scpiQuery(scpi::kQueryCurrent))
            value = scpi::parseCounts(*line, 3);
    }
    if (value) {
        m_lastMilliamps = *value;
        answered();
    }
    return value;
}

std::optional<SerialSession::State> SerialSession::queryState()
{
    State state;
    if (m_dialect == Dialect::Text) {
        const auto reply = textQuery(text::kQueryStatus, text::kStatusLength);
        const auto status = reply ? text::parseStatus(*reply) : std::nullopt;
        if (!status)
            return std::nullopt;
        answered();
        state.outputOn = status->outputOn;
        state.constantVoltage = status->outputOn && status->constantVoltage;
        state.constantCurrent = status->outputOn && !status->constantVoltage;
        return state;
    }
    if (m_dialect != Dialect::Scpi)
        return std::nullopt;

    const auto outLine = scpiQuery(scpi::kQueryOutput);
    const auto on = outLine ? scpi::parseOnOff(*outLine) : std::nullopt;
    if (!on)
        return std::nullopt;
    answered();
    state.outputOn = *on;
    if (!state.outputOn)
        return state;

    std::optional<scpi::Mode> mode;
    if (m_modeQueryWorks.value_or(true)) {
        const auto modeLine = scpiQuery(scpi::kQueryMode);
        mode = modeLine ? scpi::parseMode(*modeLine) : std::nullopt;
        // Decided once: a unit without the query would cost a time-out on every poll.
        if (!m_modeQueryWorks)
            m_modeQueryWorks = mode.has_value();
        if (mode)
            answered();
    }
    if (!mode) {
        // Setpoints not sent by us yet: ask once; a unit that cannot tell counts as 0.
        if (m_setCentivolts < 0) {
            const auto line = scpiQuery(scpi::kQuerySetVoltage);
            m_setCentivolts = line ? scpi::parseCounts(*line, 2).value_or(0) : 0;
        }
        if (m_setMilliamps < 0) {
            const auto line = scpiQuery(scpi::kQuerySetCurrent);
            m_setMilliamps = line ? scpi::parseCounts(*line, 3).value_or(0) : 0;
        }
        mode = scpi::inferMode(m_lastCentivolts, m_lastMilliamps, m_setCentivolts, m_setMilliamps);
    }
    state.constantVoltage = *mode == scpi::Mode::ConstantVoltage;
    state.constantCurrent = *mode == scpi::Mode::ConstantCurrent;
    return state;
}

} // namespace pslink
