#include "device/link/text/TextResponder.h"

#include "device/link/Decimal.h"
#include "device/link/SimulatedSupply.h"
#include "device/link/text/TextProtocol.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

namespace pslink::text {

namespace {

struct Pattern
{
    const char* head;
    size_t valueLength; // characters that follow the head
};

constexpr std::array<Pattern, 10> kPatterns{{
    {kSetVoltage, kSetValueLength},
    {kSetCurrent, kSetValueLength},
    {kQuerySetVoltage, 0},
    {kQuerySetCurrent, 0},
    {kQueryVoltage, 0},
    {kQueryCurrent, 0},
    {kQueryStatus, 0},
    {kQueryIdentity, 0},
    {kOutputOn, 0},
    {kOutputOff, 0},
}};

bool startsWith(const std::string& s, const char* head)
{
    return s.rfind(head, 0) == 0;
}

// The value of a whole setpoint command with this head; nullopt for any other command.
std::optional<std::string> setValue(const std::string& command, const char* head)
{
    const std::string_view text = head;
    if (!startsWith(command, head) || command.size() != text.size() + kSetValueLength)
        return std::nullopt;
    return command.substr(text.size());
}

} // namespace

TextResponder::TextResponder(SimulatedSupply& supply, Quirks quirks, bool lineTerminated)
    : m_supply(supply), m_quirks(std::move(quirks)), m_lineTerminated(lineTerminated)
{
}

std::vector<std::string> TextResponder::feed(const std::string& bytes)
{
    if (m_lineTerminated)
        return feedLines(bytes);
    // Line ends are not part of this dialect: a unit ignores them wherever they come, inside a
    // command too, so the same bytes make the same commands however the wire splits them.
    for (const char c : bytes) {
        if (c != '\r' && c != '\n')
            m_buffer += c;
    }
    return feedUnterminated();
}

void TextResponder::discardPartial()
{
    // Firmware that waits for the line feed keeps what it has until the line ends.
    if (!m_lineTerminated)
        m_buffer.clear();
}

std::vector<std::string> TextResponder::feedUnterminated()
{
    std::vector<std::string> commands;
    std::string garbage;
    auto flushGarbage = [&] {
        if (!garbage.empty())
            commands.push_back(std::move(garbage));
        garbage.clear();
    };
    while (!m_buffer.empty()) {
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

std::vector<std::string> TextResponder::feedLines(const std::string& bytes)
{
    std::vector<std::string> commands;
    for (std::string& line : m_lines.feed(bytes)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            commands.push_back(std::move(line)); // anything else than one whole command is ignored
    }
    return commands;
}

std::string TextResponder::identity() const
{
    return m_quirks.identity.empty() ? m_supply.version() : m_quirks.identity;
}

std::string TextResponder::execute(const std::string& command)
{
    if (!m_supply.answering())
        return {}; // powered off / cable pulled: nothing is carried out, nothing comes back
    const std::string stray = m_quirks.noisyReplies ? std::string("\n") : std::string();
    if (const auto value = setValue(command, kSetVoltage)) {
        if (const auto v = parseCounts(*value, kVoltDecimals))
            m_supply.setVoltage(*v);
        return {};
    }
    if (const auto value = setValue(command, kSetCurrent)) {
        if (const auto i = parseCounts(*value, kAmpDecimals))
            m_supply.setCurrent(*i);
        return {};
    }
    if (command == kOutputOn || command == kOutputOff) {
        m_supply.setOutput(command == kOutputOn);
        return {};
    }
    if (command == kQueryVoltage)
        return formatCounts(m_supply.measuredCentivolts(), kVoltDecimals, kReadingLength) + stray;
    if (command == kQueryCurrent)
        return formatCounts(m_supply.measuredMilliamps(), kAmpDecimals, kReadingLength) + stray;
    if (command == kQuerySetVoltage)
        return formatCounts(m_supply.setCentivolts(), kVoltDecimals, kReadingLength);
    if (command == kQuerySetCurrent) {
        // Old firmware sends one byte too many here: the sixth of its identity.
        const std::string id = identity();
        const std::string extra = m_quirks.isetStray && id.size() > 5 ? id.substr(5, 1) : std::string();
        return formatCounts(m_supply.setMilliamps(), kAmpDecimals, kReadingLength) + extra;
    }
    if (command == kQueryStatus) {
        unsigned char status = m_supply.constantCurrent() ? 0x00 : kStatusConstantVoltage;
        if (m_supply.outputOn())
            status |= kStatusOutputOn;
        if (m_quirks.statusNoise) {
            // Beep, lock, protection and whatever a model puts there: not ours to read.
            m_noise ^= m_noise << 13;
            m_noise ^= m_noise >> 17;
            m_noise ^= m_noise << 5;
            status |= static_cast<unsigned char>(m_noise & ~(kStatusConstantVoltage | kStatusOutputOn) & 0xFF);
        }
        return std::string(1, static_cast<char>(status));
    }
    if (command == kQueryIdentity)
        return identity() + (m_quirks.noisyReplies ? std::string("\r\n\0\xff", 4) : std::string());
    return {};
}

bool TextResponder::changesSupply(const std::string& command) const
{
    return startsWith(command, kSetVoltage) || startsWith(command, kSetCurrent) || command == kOutputOn
           || command == kOutputOff;
}

bool TextResponder::leavesBusy(const std::string& command) const
{
    return changesSupply(command) || command == kQueryStatus;
}

} // namespace pslink::text
