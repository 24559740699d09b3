#include "device/link/SupplyResponder.h"

#include "device/link/Decimal.h"
#include "device/link/ScpiDialect.h"
#include "device/link/TextDialect.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace pslink {

namespace {

struct TextPattern
{
    const char* head;
    size_t valueLength; // characters that follow the head
};

constexpr std::array<TextPattern, 10> kTextPatterns{{
    {"VSET1:", 5},
    {"ISET1:", 5},
    {"VSET1?", 0},
    {"ISET1?", 0},
    {"VOUT1?", 0},
    {"IOUT1?", 0},
    {"STATUS?", 0},
    {"*IDN?", 0},
    {"OUT1", 0},
    {"OUT0", 0},
}};

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

SupplyResponder::SupplyResponder(SimulatedSupply& supply, Dialect dialect, Quirks quirks)
    : m_supply(supply), m_dialect(dialect == Dialect::Scpi ? Dialect::Scpi : Dialect::Text), m_quirks(std::move(quirks))
{
}

std::vector<std::string> SupplyResponder::feed(const std::string& bytes)
{
    m_buffer += bytes;
    return m_dialect == Dialect::Scpi ? feedScpi() : feedText();
}

void SupplyResponder::discardPartial()
{
    if (m_dialect == Dialect::Text)
        m_buffer.clear();
}

std::vector<std::string> SupplyResponder::feedText()
{
    std::vector<std::string> commands;
    std::string garbage;
    auto flushGarbage = [&] {
        if (!garbage.empty())
            commands.push_back(std::move(garbage));
        garbage.clear();
    };
    while (!m_buffer.empty()) {
        // Line ends are not part of this dialect; a unit ignores them.
        if (m_buffer[0] == '\r' || m_buffer[0] == '\n') {
            m_buffer.erase(0, 1);
            continue;
        }
        bool matched = false;
        bool waiting = false;
        for (const auto& p : kTextPatterns) {
            const std::string head = p.head;
            const size_t full = head.size() + p.valueLength;
            const size_t n = std::min(m_buffer.size(), head.size());
            if (m_buffer.compare(0, n, head, 0, n) != 0)
                continue;
            if (m_buffer.size() >= full) {
                flushGarbage();
                commands.push_back(m_buffer.substr(0, full));
                m_buffer.erase(0, full);
                matched = true;
                break;
            }
            waiting = true; // could still become this command
        }
        if (matched)
            continue;
        if (waiting)
            break;
        garbage.push_back(m_buffer[0]);
        m_buffer.erase(0, 1);
    }
    flushGarbage();
    return commands;
}

std::vector<std::string> SupplyResponder::feedScpi()
{
    std::vector<std::string> commands;
    size_t end;
    while ((end = m_buffer.find('\n')) != std::string::npos) {
        std::string line = m_buffer.substr(0, end);
        m_buffer.erase(0, end + 1);
        if (!trimmed(line).empty())
            commands.push_back(std::move(line));
    }
    return commands;
}

std::string SupplyResponder::execute(const std::string& command)
{
    if (!m_supply.answering())
        return {}; // powered off / cable pulled: nothing is carried out, nothing comes back
    return m_dialect == Dialect::Scpi ? executeScpi(command) : executeText(command);
}

std::string SupplyResponder::executeText(const std::string& command)
{
    const std::string stray = m_quirks.noisyReplies ? std::string("\n") : std::string();
    if (command.rfind("VSET1:", 0) == 0) {
        if (const auto v = parseCounts(command.substr(6), 2))
            m_supply.setVoltage(*v);
        return {};
    }
    if (command.rfind("ISET1:", 0) == 0) {
        if (const auto i = parseCounts(command.substr(6), 3))
            m_supply.setCurrent(*i);
        return {};
    }
    if (command == "OUT1" || command == "OUT0") {
        m_supply.setOutput(command == "OUT1");
        return {};
    }
    if (command == "VOUT1?")
        return formatCounts(m_supply.measuredCentivolts(), 2, 5) + stray;
    if (command == "IOUT1?")
        return formatCounts(m_supply.measuredMilliamps(), 3, 5) + stray;
    if (command == "VSET1?")
        return formatCounts(m_supply.setCentivolts(), 2, 5);
    if (command == "ISET1?")
        return formatCounts(m_supply.setMilliamps(), 3, 5);
    if (command == "STATUS?") {
        unsigned char status = m_supply.constantCurrent() ? 0x00 : 0x01;
        if (m_supply.outputOn())
            status |= 0x40;
        return std::string(1, static_cast<char>(status));
    }
    if (command == "*IDN?")
        return m_supply.version() + (m_quirks.noisyReplies ? std::string("\r\n\0\xff", 4) : std::string());
    return {};
}

std::string SupplyResponder::executeScpi(const std::string& command)
{
    const std::string line = upper(trimmed(command));
    const size_t space = line.find(' ');
    const std::string header = line.substr(0, space);
    const std::string argument = space == std::string::npos ? std::string() : trimmed(line.substr(space + 1));
    std::string reply;
    if (header == "*IDN?") {
        reply = m_supply.version();
    } else if (header == "VOLT" || header == "CURR") {
        if (const auto n = parseCounts(argument, header == "VOLT" ? 2 : 3))
            header == "VOLT" ? m_supply.setVoltage(*n) : m_supply.setCurrent(*n);
    } else if (header == "OUTP") {
        if (const auto on = scpi::parseOnOff(argument))
            m_supply.setOutput(*on);
    } else if (header == "VOLT?") {
        reply = formatCounts(m_supply.setCentivolts(), 2);
    } else if (header == "CURR?") {
        reply = formatCounts(m_supply.setMilliamps(), 3);
    } else if (header == "MEAS:VOLT?") {
        reply = formatCounts(m_supply.measuredCentivolts(), 2);
    } else if (header == "MEAS:CURR?") {
        reply = formatCounts(m_supply.measuredMilliamps(), 3);
    } else if (header == "OUTP?") {
        reply.push_back(m_supply.outputOn() ? '1' : '0');
    } else if (header == "OUTP:MODE?" && m_quirks.modeQuery) {
        reply = std::string(m_supply.constantCurrent() ? "CC" : "CV", 2);
    }
    return reply.empty() ? reply : reply + m_quirks.lineEnd;
}

} // namespace pslink
