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
    std::string reply;
    if (header == kQueryIdentity) {
        reply = m_quirks.identity.empty() ? m_supply.version() : m_quirks.identity;
    } else if (header == kSetVoltage) {
        if (const auto n = pslink::parseCounts(argument, kVoltDecimals))
            m_supply.setVoltage(*n);
    } else if (header == kSetCurrent) {
        if (const auto n = pslink::parseCounts(argument, kAmpDecimals))
            m_supply.setCurrent(*n);
    } else if (header == kOutput) {
        if (const auto on = parseOnOff(argument))
            m_supply.setOutput(*on);
    } else if (header == kQuerySetVoltage) {
        reply = formatCounts(argument == kMaximum ? m_supply.maxCentivolts() : m_supply.setCentivolts(), kVoltDecimals);
    } else if (header == kQuerySetCurrent) {
        reply = formatCounts(argument == kMaximum ? m_supply.maxMilliamps() : m_supply.setMilliamps(), kAmpDecimals);
    } else if (header == kQueryVoltage) {
        reply = formatCounts(m_supply.measuredCentivolts(), kVoltDecimals);
    } else if (header == kQueryCurrent) {
        reply = formatCounts(m_supply.measuredMilliamps(), kAmpDecimals);
    } else if (header == kQueryOutput) {
        reply.push_back(m_supply.outputOn() ? '1' : '0');
    } else if (header == kQueryMode && m_quirks.modeQuery) {
        reply = m_supply.constantCurrent() ? kModeCc : kModeCv;
    }
    return reply.empty() ? reply : reply + m_quirks.lineEnd;
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
