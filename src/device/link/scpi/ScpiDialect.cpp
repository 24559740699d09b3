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
// Error-queue entries read at most after a change that did not hold.
constexpr int kErrorQueueReads = 8;

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
    m_setVoltage.sentSince = true;
    return channel.send(line(setVoltageCommand(centivolts).c_str()), Pace::Busy);
}

bool ScpiDialect::setCurrent(Channel& channel, int milliamps)
{
    m_setCurrent.sentSince = true;
    return channel.send(line(setCurrentCommand(milliamps).c_str()), Pace::Busy);
}

bool ScpiDialect::setOutput(Channel& channel, bool on)
{
    return channel.send(line(outputCommand(on).c_str()), Pace::Busy);
}

std::optional<int> ScpiDialect::queryVoltage(Channel& channel)
{
    const auto reply = query(channel, kQueryVoltage);
    return reply ? parseCounts(*reply, kVoltDecimals) : std::nullopt;
}

std::optional<int> ScpiDialect::queryCurrent(Channel& channel)
{
    const auto reply = query(channel, kQueryCurrent);
    return reply ? parseCounts(*reply, kAmpDecimals) : std::nullopt;
}

std::optional<SupplyState> ScpiDialect::queryState(Channel& channel)
{
    return state(channel, nullptr);
}

bool ScpiDialect::readReadings(Channel& channel, Sample& sample)
{
    const auto centivolts = queryVoltage(channel);
    const auto milliamps = centivolts ? queryCurrent(channel) : std::nullopt;
    if (!milliamps)
        return false;
    sample.centivolts = *centivolts;
    sample.milliamps = *milliamps;
    return true;
}

std::optional<Sample> ScpiDialect::readAll(Channel& channel)
{
    Sample sample;
    if (!readReadings(channel, sample))
        return std::nullopt;
    const auto lamps = state(channel, &sample);
    if (!lamps)
        return std::nullopt;
    sample.state = *lamps;
    return sample;
}

// The output, then the mode. `readings`: the poll's, which the inference uses and completes
// with the setpoints it read; nullptr: the inference reads its own.
std::optional<SupplyState> ScpiDialect::state(Channel& channel, Sample* readings)
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
        Sample own;
        Sample& sample = readings ? *readings : own;
        if ((!readings && !readReadings(channel, sample)) || !inferSetpoints(channel, sample))
            return std::nullopt;
        mode = inferMode(sample.centivolts, sample.milliamps, m_setVoltage.counts, m_setCurrent.counts);
    }
    state.constantVoltage = *mode == Mode::ConstantVoltage;
    state.constantCurrent = *mode == Mode::ConstantCurrent;
    return state;
}

// The setpoints the inference compares the readings with, read where not known as the unit
// holds them: not yet read, or sent since (the unit may have refused the value).
bool ScpiDialect::inferSetpoints(Channel& channel, Sample& sample)
{
    if (m_setVoltage.sentSince) {
        sample.setCentivolts = querySetVoltage(channel);
        if (!sample.setCentivolts)
            return false;
    }
    if (m_setCurrent.sentSince) {
        sample.setMilliamps = querySetCurrent(channel);
        if (!sample.setMilliamps)
            return false;
    }
    return true;
}

std::optional<int> ScpiDialect::querySetpoint(Channel& channel, const char* command, int decimals, Setpoint& setpoint)
{
    const auto reply = query(channel, command);
    const auto value = reply ? parseCounts(*reply, decimals) : std::nullopt;
    if (value)
        setpoint = {*value, false};
    return value;
}

std::optional<int> ScpiDialect::querySetVoltage(Channel& channel)
{
    return querySetpoint(channel, kQuerySetVoltage, kVoltDecimals, m_setVoltage);
}

std::optional<int> ScpiDialect::querySetCurrent(Channel& channel)
{
    return querySetpoint(channel, kQuerySetCurrent, kAmpDecimals, m_setCurrent);
}

std::optional<bool> ScpiDialect::queryOutput(Channel& channel)
{
    const auto reply = query(channel, kQueryOutput);
    return reply ? parseOnOff(*reply) : std::nullopt;
}

// A unit without the MAX form stays silent or answers an error text: neither reads as a number.
// One that reads only the header answers its setpoint (0.000 after power-on): asked beside it,
// that is no maximum.
std::optional<int> ScpiDialect::toldMaximum(Channel& channel, const char* maximum, const char* present, int decimals,
                                            Setpoint& setpoint)
{
    const auto reply = query(channel, maximum);
    const auto told = reply ? parseCounts(*reply, decimals) : std::nullopt;
    if (!told || *told <= 0)
        return std::nullopt;
    const auto held = querySetpoint(channel, present, decimals, setpoint);
    return held && *held != *told ? told : std::nullopt;
}

std::optional<int> ScpiDialect::queryMaximumVoltage(Channel& channel)
{
    return toldMaximum(channel, kQueryMaxVoltage, kQuerySetVoltage, kVoltDecimals, m_setVoltage);
}

std::optional<int> ScpiDialect::queryMaximumCurrent(Channel& channel)
{
    return toldMaximum(channel, kQueryMaxCurrent, kQuerySetCurrent, kAmpDecimals, m_setCurrent);
}

std::optional<std::string> ScpiDialect::queryRefusal(Channel& channel)
{
    if (!m_errorQueryWorks.value_or(true))
        return std::nullopt;
    std::optional<std::string> refusal;
    // Read until empty, so that an old entry is not taken for the next refusal; bounded, as a
    // queue that never empties is no queue.
    for (int entries = 0; entries < kErrorQueueReads; ++entries) {
        const auto reply = query(channel, kQueryError);
        const auto entry = reply ? parseError(*reply) : std::nullopt;
        if (!m_errorQueryWorks)
            m_errorQueryWorks = entry.has_value(); // decided once, as for the mode
        if (!entry || entry->code == 0)
            break;
        if (!refusal && entry->refusedValue())
            refusal = entry->text;
    }
    return refusal;
}

} // namespace pslink::scpi
