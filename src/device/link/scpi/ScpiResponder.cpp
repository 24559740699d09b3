#include "device/link/scpi/ScpiResponder.h"

#include "device/link/Decimal.h"
#include "device/link/SimulatedSupply.h"
#include "device/link/scpi/ScpiProtocol.h"

#include <cctype>

namespace pslink::scpi {

namespace {

std::string upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string trimmed(const std::string& s)
{
    const size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

} // namespace

ScpiResponder::ScpiResponder(SimulatedSupply& supply, Quirks quirks) : m_supply(supply), m_quirks(std::move(quirks)) {}

std::vector<std::string> ScpiResponder::feed(const std::string& bytes)
{
    std::vector<std::string> commands;
    for (std::string& line : m_lines.feed(bytes)) {
        if (!trimmed(line).empty())
            commands.push_back(std::move(line));
    }
    return commands;
}

std::string ScpiResponder::execute(const std::string& command)
{
    if (!m_supply.answering())
        return {}; // powered off / cable pulled: nothing is carried out, nothing comes back
    const std::string line = upper(trimmed(command));
    const size_t space = line.find(' ');
    const std::string header = line.substr(0, space);
    const std::string argument = space == std::string::npos ? std::string() : trimmed(line.substr(space + 1));
    bool known = true;
    if (header == kSetVoltage)
        known = setpoint(argument, kVoltDecimals, m_supply.maxCentivolts(), &SimulatedSupply::setVoltage);
    else if (header == kSetCurrent)
        known = setpoint(argument, kAmpDecimals, m_supply.maxMilliamps(), &SimulatedSupply::setCurrent);
    else if (header == kOutput) {
        if (const auto on = parseOnOff(argument))
            m_supply.setOutput(*on);
    } else {
        const std::string reply = query(header, argument);
        if (!reply.empty())
            return reply + m_quirks.lineEnd;
        known = false;
    }
    if (!known)
        error("-113,\"Undefined header\"");
    return {};
}

// A setpoint command; false when its argument is no number.
bool ScpiResponder::setpoint(const std::string& argument, int decimals, int maximum,
                             void (SimulatedSupply::*set)(int))
{
    const auto n = pslink::parseCounts(argument, decimals);
    if (!n)
        return false;
    if (m_quirks.refuseOutOfRange && *n > maximum)
        error("-222,\"Data out of range\"");
    else
        (m_supply.*set)(*n);
    return true;
}

// The reply to a query, without its line end; empty for a command that is no query it knows.
std::string ScpiResponder::query(const std::string& header, const std::string& argument)
{
    const bool maximum = argument == kMaximum && !m_quirks.maxAsSetpoint;
    if (header == kQueryIdentity)
        return m_quirks.identity.empty() ? m_supply.version() : m_quirks.identity;
    if (header == kQuerySetVoltage)
        return formatCounts(maximum ? m_supply.maxCentivolts() : m_supply.setCentivolts(), kVoltDecimals);
    if (header == kQuerySetCurrent)
        return formatCounts(maximum ? m_supply.maxMilliamps() : m_supply.setMilliamps(), kAmpDecimals);
    if (header == kQueryVoltage)
        return formatCounts(m_supply.measuredCentivolts(), kVoltDecimals);
    if (header == kQueryCurrent)
        return formatCounts(m_supply.measuredMilliamps(), kAmpDecimals);
    if (header == kQueryOutput)
        return m_supply.outputOn() ? "1" : "0";
    if (header == kQueryMode && m_quirks.modeQuery)
        return m_supply.constantCurrent() ? kModeCc : kModeCv;
    if (header == kQueryError) {
        if (m_errors.empty())
            return "0,\"No error\"";
        std::string entry = std::move(m_errors.front());
        m_errors.pop_front();
        return entry;
    }
    return {};
}

void ScpiResponder::error(const char* entry)
{
    if (m_errors.size() < kErrorQueue)
        m_errors.emplace_back(entry);
    else
        m_errors.back() = "-350,\"Queue overflow\"";
}

bool ScpiResponder::changesSupply(const std::string& command) const
{
    const std::string line = upper(trimmed(command));
    const std::string header = line.substr(0, line.find(' '));
    return header == kSetVoltage || header == kSetCurrent || header == kOutput;
}

bool ScpiResponder::leavesBusy(const std::string& command) const
{
    return changesSupply(command);
}

} // namespace pslink::scpi
