#include "device/link/scpi/ScpiDialect.h"

#include "device/NumberText.h"

#include "device/link/Decimal.h"
#include "device/link/Identity.h"
#include "device/link/PortSetting.h"
#include "device/link/scpi/FamilyDialect.h"
#include "device/link/scpi/ScpiProtocol.h"
#include "device/link/scpi/ScpiResponder.h"

#include <algorithm>

namespace pslink::scpi {

namespace {

using std::chrono::milliseconds;

// After the identity: anything still coming is a duplicate answer to drain.
constexpr milliseconds kSettle{150};

// A unit of a known family is spoken to in its own commands; any other in the generic ones.
std::unique_ptr<Dialect> openScpi(const PortSetting& setting)
{
    return openFamilyDialect(setting);
}

std::unique_ptr<SupplyResponder> respondScpi(SimulatedSupply& supply, const ResponderQuirks& quirks)
{
    return std::make_unique<ScpiResponder>(supply, quirks);
}

std::string line(const char* command)
{
    return std::string(command) + "\n";
}

} // namespace

// SCPI needs no spacing; a short one keeps the polling from flooding a slow USB bridge.
constinit const DialectInfo kDialect{"scpi",           "SCPI",     milliseconds(0), milliseconds(10),
                                     milliseconds(600), &openScpi, &respondScpi, nullptr, 0};

std::optional<std::string> ScpiDialect::query(Channel& channel, const char* command)
{
    ReplyLine framer;
    return channel.exchange(line(command), framer, kReplyTiming);
}

std::string ScpiDialect::identify(Probe& probe)
{
    ReplyLine framer;
    const auto reply = probe.ask(line(kQueryIdentity), framer, kReplyTiming);
    if (!reply)
        return {};
    const std::string identity = cleanIdentity(*reply);
    if (!identity.empty())
        probe.channel().settle(kSettle);
    return identity;
}

bool ScpiDialect::setVoltage(Channel& channel, int centivolts)
{
    m_setCentivolts = std::clamp(centivolts, 0, numtext::kMaxCount);
    return channel.send(line(setVoltageCommand(centivolts).c_str()), Pace::Busy);
}

bool ScpiDialect::setCurrent(Channel& channel, int milliamps)
{
    m_setMilliamps = std::clamp(milliamps, 0, numtext::kMaxCount);
    return channel.send(line(setCurrentCommand(milliamps).c_str()), Pace::Busy);
}

bool ScpiDialect::setOutput(Channel& channel, bool on)
{
    return channel.send(line(outputCommand(on).c_str()), Pace::Busy);
}

std::optional<int> ScpiDialect::queryVoltage(Channel& channel)
{
    const auto reply = query(channel, kQueryVoltage);
    const auto value = reply ? parseCounts(*reply, kVoltDecimals) : std::nullopt;
    if (value)
        m_lastCentivolts = *value;
    return value;
}

std::optional<int> ScpiDialect::queryCurrent(Channel& channel)
{
    const auto reply = query(channel, kQueryCurrent);
    const auto value = reply ? parseCounts(*reply, kAmpDecimals) : std::nullopt;
    if (value)
        m_lastMilliamps = *value;
    return value;
}

std::optional<SupplyState> ScpiDialect::queryState(Channel& channel)
{
    const auto outLine = query(channel, kQueryOutput);
    const auto on = outLine ? parseOnOff(*outLine) : std::nullopt;
    if (!on)
        return std::nullopt;
    SupplyState state;
    state.outputOn = *on;
    if (!state.outputOn)
        return state;

    std::optional<Mode> mode;
    if (m_modeQueryWorks.value_or(true)) {
        const auto modeLine = query(channel, kQueryMode);
        mode = modeLine ? parseMode(*modeLine) : std::nullopt;
        // Decided once: a unit without the query would cost a time-out on every poll.
        if (!m_modeQueryWorks)
            m_modeQueryWorks = mode.has_value();
    }
    if (!mode) {
        // Setpoints not sent by us yet: ask once; a unit that cannot tell counts as 0.
        if (m_setCentivolts < 0) {
            const auto reply = query(channel, kQuerySetVoltage);
            m_setCentivolts = reply ? parseCounts(*reply, kVoltDecimals).value_or(0) : 0;
        }
        if (m_setMilliamps < 0) {
            const auto reply = query(channel, kQuerySetCurrent);
            m_setMilliamps = reply ? parseCounts(*reply, kAmpDecimals).value_or(0) : 0;
        }
        mode = inferMode(m_lastCentivolts, m_lastMilliamps, m_setCentivolts, m_setMilliamps);
    }
    state.constantVoltage = *mode == Mode::ConstantVoltage;
    state.constantCurrent = *mode == Mode::ConstantCurrent;
    return state;
}

std::optional<int> ScpiDialect::querySetVoltage(Channel& channel)
{
    const auto reply = query(channel, kQuerySetVoltage);
    const auto value = reply ? parseCounts(*reply, kVoltDecimals) : std::nullopt;
    if (value)
        m_setCentivolts = *value;
    return value;
}

std::optional<int> ScpiDialect::querySetCurrent(Channel& channel)
{
    const auto reply = query(channel, kQuerySetCurrent);
    const auto value = reply ? parseCounts(*reply, kAmpDecimals) : std::nullopt;
    if (value)
        m_setMilliamps = *value;
    return value;
}

std::optional<bool> ScpiDialect::queryOutput(Channel& channel)
{
    const auto reply = query(channel, kQueryOutput);
    return reply ? parseOnOff(*reply) : std::nullopt;
}

// A unit without the MAX form stays silent or answers an error text: neither reads as a number.
std::optional<int> ScpiDialect::queryMaximumVoltage(Channel& channel)
{
    const auto reply = query(channel, kQueryMaxVoltage);
    return reply ? parseCounts(*reply, kVoltDecimals) : std::nullopt;
}

std::optional<int> ScpiDialect::queryMaximumCurrent(Channel& channel)
{
    const auto reply = query(channel, kQueryMaxCurrent);
    return reply ? parseCounts(*reply, kAmpDecimals) : std::nullopt;
}

} // namespace pslink::scpi
