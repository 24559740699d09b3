#include "device/link/text/TextResponder.h"

#include "device/link/Decimal.h"
#include "device/link/SimulatedSupply.h"

#include <algorithm>
#include <array>

namespace pslink::text {

namespace {

struct Pattern
{
    const char* head;
    size_t valueLength; // characters that follow the head
};

constexpr std::array<Pattern, 10> kPatterns{{
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

} // namespace

TextResponder::TextResponder(SimulatedSupply& supply, Quirks quirks) : m_supply(supply), m_quirks(std::move(quirks)) {}

std::vector<std::string> TextResponder::feed(const std::string& bytes)
{
    m_buffer += bytes;
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
        for (const auto& p : kPatterns) {
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

std::string TextResponder::execute(const std::string& command)
{
    if (!m_supply.answering())
        return {}; // powered off / cable pulled: nothing is carried out, nothing comes back
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

} // namespace pslink::text
