#include "device/link/scpi/FamilyDialect.h"

#include "device/NumberText.h"

#include "device/link/Decimal.h"
#include "device/link/Identity.h"
#include "device/link/PortSetting.h"
#include "device/link/scpi/FamilyCommands.h"
#include "device/link/scpi/ScpiProtocol.h"

#include <algorithm>
#include <string_view>

namespace pslink::scpi {

namespace {

using std::chrono::milliseconds;

// After the identity: anything still coming is a duplicate answer to drain.
constexpr milliseconds kSettle{150};
// The link keeps a margin over what a slow family needs: a command that comes too soon is lost.
constexpr milliseconds kGapMargin{15};

bool hasChannel(std::string_view pattern)
{
    return pattern.find("{n}") != std::string_view::npos;
}

milliseconds withMargin(milliseconds gap)
{
    return gap.count() > 0 ? gap + kGapMargin : gap;
}

} // namespace

FamilyDialect::FamilyDialect(UnitTable units, int channel) : m_units(std::move(units)), m_channel(std::max(channel, 1))
{
}

std::string FamilyDialect::identify(Probe& probe)
{
    ReplyLine framer;
    const auto reply = probe.ask(std::string(kQueryIdentity) + "\n", framer, kReplyTiming);
    const std::string identity = reply ? cleanIdentity(*reply) : std::string();
    if (identity.empty())
        return {};
    m_unit = m_units.match(identity, Wire::Scpi);
    m_refusal = channelRefusal(m_unit, m_channel);
    if (!m_refusal.empty()) {
        probe.channel().settle(kSettle);
        return {};
    }
    if (!m_unit.family)
        return ScpiDialect::identify(probe); // the same request: the probe answers it from what came
    m_family = m_unit.family;
    m_negative = negativeChannel(m_unit, m_channel);
    m_selected = 0; // whatever the unit has selected, it is chosen anew
    m_spacing = withMargin(m_family->gap);
    probe.channel().settle(std::max(kSettle, m_spacing));
    return identity;
}

bool FamilyDialect::selectChannel(Channel& channel, const char* pattern)
{
    if (!*m_family->select || hasChannel(pattern) || m_selected == m_channel)
        return true;
    if (!channel.send(expand(m_family->select, m_channel) + "\n", Pace::Busy))
        return false;
    m_spacing = withMargin(m_family->gap);
    m_selected = m_channel;
    return true;
}

bool FamilyDialect::command(Channel& channel, const char* pattern, const std::string& value)
{
    if (!selectChannel(channel, pattern) || !channel.send(expand(pattern, m_channel, value) + "\n", Pace::Busy))
        return false;
    m_spacing = withMargin(m_family->gap);
    return true;
}

std::optional<std::string> FamilyDialect::ask(Channel& channel, const char* pattern, Pace pace)
{
    if (!selectChannel(channel, pattern))
        return std::nullopt;
    ReplyLine framer;
    const auto reply = channel.exchange(expand(pattern, m_channel) + "\n", framer, kReplyTiming, pace);
    const bool mode = std::string_view(pattern) == m_family->modeQuery;
    m_spacing = withMargin(mode ? std::max(m_family->gap, m_family->modeGap) : m_family->gap);
    return reply;
}

std::optional<int> FamilyDialect::value(Channel& channel, const Query& query, int decimals, int& kept)
{
    const auto reply = ask(channel, query.ask);
    // A negative output's readings are read by their magnitude, whichever sign its current has.
    const auto counts = reply ? readValue(query.answer, m_channel, *reply, decimals, m_negative) : std::nullopt;
    // A unit that answers errors as text lines ("Data out of range") says why in its own words.
    m_reason = reply && !counts ? "the unit answered \"" + *reply + "\"" : std::string();
    kept = counts.value_or(kept);
    return counts;
}

bool FamilyDialect::setVoltage(Channel& channel, int centivolts)
{
    if (!m_family)
        return ScpiDialect::setVoltage(channel, centivolts);
    m_setCentivolts = std::clamp(centivolts, 0, numtext::kMaxCount);
    return command(channel, m_family->setVoltage,
                   valueText(m_setCentivolts, kVoltDecimals, m_family->voltDecimals, m_negative));
}

bool FamilyDialect::setCurrent(Channel& channel, int milliamps)
{
    if (!m_family)
        return ScpiDialect::setCurrent(channel, milliamps);
    m_setMilliamps = std::clamp(milliamps, 0, numtext::kMaxCount);
    return command(channel, m_family->setCurrent, valueText(m_setMilliamps, kAmpDecimals, m_family->ampDecimals, false));
}

bool FamilyDialect::setOutput(Channel& channel, bool on)
{
    if (!m_family)
        return ScpiDialect::setOutput(channel, on);
    if (on)
        m_trips = 0; // a trip is told until the output goes on again
    if (!command(channel, on ? m_family->outputOn : m_family->outputOff))
        return false;
    return !on || !*m_family->masterOn || command(channel, m_family->masterOn);
}

std::optional<int> FamilyDialect::queryVoltage(Channel& channel)
{
    return m_family ? value(channel, m_family->voltageReading, kVoltDecimals, m_lastCentivolts) : ScpiDialect::queryVoltage(channel);
}

std::optional<int> FamilyDialect::queryCurrent(Channel& channel)
{
    return m_family ? value(channel, m_family->currentReading, kAmpDecimals, m_lastMilliamps) : ScpiDialect::queryCurrent(channel);
}

std::optional<int> FamilyDialect::querySetVoltage(Channel& channel)
{
    return m_family ? value(channel, m_family->setVoltageQuery, kVoltDecimals, m_setCentivolts) : ScpiDialect::querySetVoltage(channel);
}

std::optional<int> FamilyDialect::querySetCurrent(Channel& channel)
{
    return m_family ? value(channel, m_family->setCurrentQuery, kAmpDecimals, m_setMilliamps) : ScpiDialect::querySetCurrent(channel);
}

std::optional<bool> FamilyDialect::queryOutput(Channel& channel)
{
    if (!m_family)
        return ScpiDialect::queryOutput(channel);
    if (!*m_family->outputQuery) {
        const auto state = queryState(channel); // told by the status
        return state ? std::optional<bool>(state->outputOn) : std::nullopt;
    }
    const auto reply = ask(channel, m_family->outputQuery);
    return reply ? parseOnOff(*reply) : std::nullopt; // a family's words are ON/OFF or 1/0
}

std::optional<SupplyState> FamilyDialect::queryState(Channel& channel)
{
    if (!m_family)
        return ScpiDialect::queryState(channel);
    SupplyState state;
    if (*m_family->outputQuery) {
        const auto on = queryOutput(channel);
        if (!on)
            return std::nullopt;
        state.outputOn = *on;
    }
    if (m_family->modeReply == ModeReply::Inferred)
        return inferred(channel, state);
    // Asked whatever the output: a unit that clears its trips on reading tells them once.
    const auto reply = ask(channel, m_family->modeQuery, Pace::Busy);
    const auto mode = reply ? readMode(m_family->modeReply, *reply, m_channel) : std::nullopt;
    if (!mode)
        return std::nullopt;
    state.outputOn = mode->outputOn.value_or(state.outputOn);
    m_trips |= mode->protection;
    state.protection = m_trips;
    state.constantVoltage = state.outputOn && mode->constantVoltage;
    state.constantCurrent = state.outputOn && mode->constantCurrent;
    return state;
}

std::optional<Sample> FamilyDialect::readAll(Channel& channel)
{
    if (!m_family)
        return ScpiDialect::readAll(channel);
    const auto centivolts = queryVoltage(channel);
    const auto milliamps = centivolts ? queryCurrent(channel) : std::nullopt;
    const auto state = milliamps ? queryState(channel) : std::nullopt;
    if (!state)
        return std::nullopt;
    Sample sample;
    sample.centivolts = *centivolts;
    sample.milliamps = *milliamps;
    sample.state = *state;
    return sample;
}

std::optional<SupplyState> FamilyDialect::inferred(Channel& channel, SupplyState state)
{
    if (!state.outputOn)
        return state;
    // Setpoints not sent by us yet: asked once.
    if (m_setCentivolts < 0 && !querySetVoltage(channel))
        return std::nullopt;
    if (m_setMilliamps < 0 && !querySetCurrent(channel))
        return std::nullopt;
    const Mode mode = inferMode(m_lastCentivolts, m_lastMilliamps, m_setCentivolts, m_setMilliamps);
    state.constantVoltage = mode == Mode::ConstantVoltage;
    state.constantCurrent = mode == Mode::ConstantCurrent;
    return state;
}

std::optional<int> FamilyDialect::queryMaximumVoltage(Channel& channel)
{
    if (!m_family)
        return ScpiDialect::queryMaximumVoltage(channel);
    const int told = channelMaximum(m_unit, m_channel).centivolts;
    return told > 0 ? std::optional<int>(told) : std::nullopt;
}

std::optional<int> FamilyDialect::queryMaximumCurrent(Channel& channel)
{
    if (!m_family)
        return ScpiDialect::queryMaximumCurrent(channel);
    const int told = channelMaximum(m_unit, m_channel).milliamps;
    return told > 0 ? std::optional<int>(told) : std::nullopt;
}

std::unique_ptr<Dialect> openFamilyDialect(const PortSetting& setting)
{
    return std::make_unique<FamilyDialect>(UnitTable::installed(), setting.channel);
}

} // namespace pslink::scpi
