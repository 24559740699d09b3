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
    const char* head; // channel 1's
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
// The patterns that name a channel.
constexpr size_t kChannelPatterns = 6;

bool startsWith(const std::string& s, std::string_view head)
{
    return s.rfind(head, 0) == 0;
}

// The value of a whole setpoint command with this head; nullopt for any other command.
std::optional<std::string> setValue(const std::string& command, const std::string& head)
{
    const std::string_view text = head;
    if (!startsWith(command, head) || command.size() != text.size() + kSetValueLength)
        return std::nullopt;
    return command.substr(text.size());
}

} // namespace

TextResponder::TextResponder(SimulatedSupply& supply, Quirks quirks, bool lineTerminated,
                             std::vector<SimulatedSupply*> more)
    : m_supply(supply), m_channels(std::move(more)), m_quirks(std::move(quirks)), m_lineTerminated(lineTerminated)
{
    m_channels.insert(m_channels.begin(), &supply);
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
    const int channels = static_cast<int>(m_channels.size());
    while (!m_buffer.empty()) {
        bool matched = false;
        bool waiting = false;
        for (size_t i = 0; i < kPatterns.size() * static_cast<size_t>(channels) && !matched; ++i) {
            const Pattern& p = kPatterns[i % kPatterns.size()];
            const int channel = static_cast<int>(i / kPatterns.size()) + 1;
            if (channel > 1 && i % kPatterns.size() >= kChannelPatterns)
                continue;
            const std::string head = onChannel(p.head, channel);
            const size_t full = head.size() + p.valueLength;
            const size_t n = std::min(m_buffer.size(), head.size());
            if (m_buffer.compare(0, n, head, 0, n) != 0)
                continue;
            if (m_buffer.size() >= full) {
                flushGarbage();
                commands.push_back(m_buffer.substr(0, full));
                m_buffer.erase(0, full);
                matched = true;
                continue;
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

// A command that names a channel, carried out on that channel; nullopt for any other.
std::optional<std::string> TextResponder::channelCommand(const std::string& command)
{
    const std::string stray = m_quirks.noisyReplies ? std::string("\n") : std::string();
    for (size_t i = 0; i < m_channels.size(); ++i) {
        SimulatedSupply& supply = *m_channels[i];
        const int channel = static_cast<int>(i) + 1;
        if (const auto value = setValue(command, onChannel(kSetVoltage, channel))) {
            if (const auto v = parseCounts(*value, kVoltDecimals))
                supply.setVoltage(*v);
            return std::string();
        }
        if (const auto value = setValue(command, onChannel(kSetCurrent, channel))) {
            if (const auto a = parseCounts(*value, kAmpDecimals))
                supply.setCurrent(*a);
            return std::string();
        }
        if (command == onChannel(kQueryVoltage, channel))
            return formatCounts(supply.measuredCentivolts(), kVoltDecimals, kReadingLength) + stray;
        if (command == onChannel(kQueryCurrent, channel))
            return formatCounts(supply.measuredMilliamps(), kAmpDecimals, kReadingLength) + stray;
        if (command == onChannel(kQuerySetVoltage, channel))
            return formatCounts(supply.setCentivolts(), kVoltDecimals, kReadingLength);
        if (command == onChannel(kQuerySetCurrent, channel)) {
            // Old firmware sends one byte too many here: the sixth of its identity.
            const std::string id = identity();
            const std::string extra = m_quirks.isetStray && id.size() > 5 ? id.substr(5, 1) : std::string();
            return formatCounts(supply.setMilliamps(), kAmpDecimals, kReadingLength) + extra;
        }
    }
    return std::nullopt;
}

std::string TextResponder::status()
{
    unsigned char status = 0;
    for (size_t i = 0; i < m_channels.size(); ++i)
        if (!m_channels[i]->constantCurrent())
            status |= static_cast<unsigned char>(kStatusConstantVoltage << i);
    if (m_supply.outputOn())
        status |= kStatusOutputOn;
    if (m_quirks.statusNoise) {
        // Beep, lock, protection and whatever a model puts there: not ours to read.
        m_noise ^= m_noise << 13;
        m_noise ^= m_noise >> 17;
        m_noise ^= m_noise << 5;
        const unsigned ours = ((1u << m_channels.size()) - 1u) | kStatusOutputOn; // the channels' CV bits and the output
        status |= static_cast<unsigned char>(m_noise & ~ours & 0xFF);
    }
    return std::string(1, static_cast<char>(status));
}

std::string TextResponder::execute(const std::string& command)
{
    if (!m_supply.answering())
        return {}; // powered off / cable pulled: nothing is carried out, nothing comes back
    if (auto reply = channelCommand(command))
        return *reply;
    if (command == kOutputOn || command == kOutputOff) {
        for (SimulatedSupply* supply : m_channels)
            supply->setOutput(command == kOutputOn); // one switch for every channel
        return {};
    }
    if (command == kQueryStatus)
        return status();
    if (command == kQueryIdentity)
        return identity() + (m_quirks.noisyReplies ? std::string("\r\n\0\xff", 4) : std::string());
    return {};
}

bool TextResponder::changesSupply(const std::string& command) const
{
    const bool setpoint = command.size() > 5 && command[5] == ':'
                          && (startsWith(command, "VSET") || startsWith(command, "ISET"));
    return setpoint || command == kOutputOn || command == kOutputOff;
}

bool TextResponder::leavesBusy(const std::string& command) const
{
    return changesSupply(command) || command == kQueryStatus;
}

} // namespace pslink::text
