#include "device/link/text/TextDialect.h"

#include "device/link/Identity.h"
#include "device/link/PortSetting.h"
#include "device/link/text/TextProtocol.h"
#include "device/link/text/TextResponder.h"

namespace pslink::text {

namespace {

using std::chrono::milliseconds;

// An identity has no fixed length and no end mark: it ends when the unit falls silent. A USB
// bridge passes bytes on in bursts up to 16 ms apart, so silence must be longer than that.
constexpr ReplyTiming kIdentityTiming{kFirstByteTimeout, milliseconds(50)};
// A unit of this dialect answers a reading at once; waiting longer only delays the next probe.
// A read-back right after a change: a unit that answers does so well within this, and one still
// busy with the change never will, so waiting the full reply timeout only delays asking again.
constexpr ReplyTiming kConfirmTiming{milliseconds(500), kReplySilence};
constexpr milliseconds kSettle{150};
// A unit that ignores commands arriving soon after a change has been seen to need 450 ms.
constexpr milliseconds kSlowestGap{600};

std::unique_ptr<Dialect> openText(const PortSetting& setting)
{
    return std::make_unique<TextDialect>("", UnitTable::installed(), setting.channel);
}

std::unique_ptr<Dialect> openTextLf(const PortSetting& setting)
{
    return std::make_unique<TextDialect>("\n", UnitTable::installed(), setting.channel);
}

std::unique_ptr<SupplyResponder> respondText(SimulatedSupply& supply, const ResponderQuirks& quirks)
{
    return std::make_unique<TextResponder>(supply, quirks, false);
}

std::unique_ptr<SupplyResponder> respondTextLf(SimulatedSupply& supply, const ResponderQuirks& quirks)
{
    return std::make_unique<TextResponder>(supply, quirks, true);
}

} // namespace

// The link keeps the units' own spacing, start to start: at 9600 baud every exchange costs it,
// and a margin would be paid five times over by each sample after a program's point. A change a
// unit dropped is caught by its read-back and sent again.
constinit const DialectInfo kDialect{"text",      "plain text", kMinCommandGap, kMinCommandGap,
                                     kSlowestGap, &openText,    &respondText,
                                     nullptr,     0};
constinit const DialectInfo kDialectLf{"text-lf",   "plain text, LF after each command",
                                       kMinCommandGap, kMinCommandGap,
                                       kSlowestGap,    &openTextLf,
                                       &respondTextLf, nullptr,
                                       0};

TextDialect::TextDialect(std::string lineEnd, UnitTable units, int channel)
    : m_lineEnd(std::move(lineEnd)), m_units(std::move(units)), m_channel(std::max(channel, 1))
{
}

bool TextDialect::command(Channel& channel, const std::string& text)
{
    return channel.send(text + m_lineEnd, Pace::Busy);
}

std::optional<std::string> TextDialect::query(Channel& channel, const char* command, int replyLength, Pace pace,
                                              ReplyTiming timing)
{
    ReplyFramer framer(replyLength);
    return channel.exchange(onChannel(command, m_channel) + m_lineEnd, framer, timing, pace);
}

std::string TextDialect::identify(Probe& probe)
{
    ReplyFramer framer(0);
    const auto reply = probe.ask(kQueryIdentity + m_lineEnd, framer, kIdentityTiming);
    const std::string identity = reply ? cleanIdentity(*reply) : std::string();
    if (identity.empty() || (!m_lineEnd.empty() && !readsAsText(probe, identity)))
        return {};
    m_unit = m_units.match(identity, Wire::PlainText);
    m_refusal = channelRefusal(m_unit, m_channel);
    return m_refusal.empty() ? identity : std::string();
}

// A SCPI unit answers a terminated identity request too: a unit of a SCPI family is left to that
// dialect, and of any other only a reading in this dialect's form tells the two apart.
bool TextDialect::readsAsText(Probe& probe, const std::string& identity)
{
    if (m_units.match(identity, Wire::Scpi).family)
        return false;
    ReplyFramer reading(kReadingLength);
    const auto value = probe.channel().exchange(kQueryVoltage + m_lineEnd, reading, kConfirmTiming);
    if (value && parseVoltage(*value))
        return true;
    probe.channel().settle(kSettle); // whatever a unit of another dialect made of it
    return false;
}

bool TextDialect::setVoltage(Channel& channel, int centivolts)
{
    return command(channel, setVoltageCommand(centivolts, m_channel));
}

bool TextDialect::setCurrent(Channel& channel, int milliamps)
{
    return command(channel, setCurrentCommand(milliamps, m_channel));
}

bool TextDialect::setOutput(Channel& channel, bool on)
{
    return command(channel, outputCommand(on));
}

std::optional<int> TextDialect::queryVoltage(Channel& channel)
{
    const auto reply = query(channel, kQueryVoltage, kReadingLength, Pace::Quick, kReplyTiming);
    return reply ? parseVoltage(*reply) : std::nullopt;
}

std::optional<int> TextDialect::queryCurrent(Channel& channel)
{
    const auto reply = query(channel, kQueryCurrent, kReadingLength, Pace::Quick, kReplyTiming);
    return reply ? parseCurrent(*reply) : std::nullopt;
}

std::optional<SupplyState> TextDialect::queryState(Channel& channel)
{
    return state(channel, kReplyTiming);
}

std::optional<SupplyState> TextDialect::state(Channel& channel, ReplyTiming timing)
{
    const auto reply = query(channel, kQueryStatus, kStatusLength, Pace::Busy, timing);
    const auto status = reply ? parseStatus(*reply, m_channel) : std::nullopt;
    if (!status)
        return std::nullopt;
    SupplyState state;
    state.outputOn = status->outputOn;
    state.constantVoltage = status->outputOn && status->constantVoltage;
    state.constantCurrent = status->outputOn && !status->constantVoltage;
    return state;
}

std::optional<int> TextDialect::querySetVoltage(Channel& channel)
{
    const auto reply = query(channel, kQuerySetVoltage, kReadingLength, Pace::Quick, kConfirmTiming);
    return reply ? parseVoltage(*reply) : std::nullopt;
}

std::optional<int> TextDialect::querySetCurrent(Channel& channel)
{
    const auto reply = query(channel, kQuerySetCurrent, kReadingLength, Pace::Quick, kConfirmTiming);
    return reply ? parseCurrent(*reply) : std::nullopt;
}

std::optional<bool> TextDialect::queryOutput(Channel& channel)
{
    const auto held = state(channel, kConfirmTiming);
    return held ? std::optional<bool>(held->outputOn) : std::nullopt;
}

std::optional<int> TextDialect::queryMaximumVoltage(Channel& /*channel*/)
{
    const int told = channelMaximum(m_unit, m_channel).centivolts;
    return told > 0 ? std::optional<int>(told) : std::nullopt;
}

std::optional<int> TextDialect::queryMaximumCurrent(Channel& /*channel*/)
{
    const int told = channelMaximum(m_unit, m_channel).milliamps;
    return told > 0 ? std::optional<int>(told) : std::nullopt;
}

} // namespace pslink::text
