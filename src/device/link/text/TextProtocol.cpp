#include "device/link/text/TextProtocol.h"

#include "device/NumberText.h"

#include "device/link/Decimal.h"

#include <algorithm>

namespace pslink::text {

namespace {

// A reading of this dialect is exactly five characters of digits and one point; anything else
// is a cut reply or line noise, and must not become a plausible-looking value.
std::optional<int> parseReading(const std::string& reply, int decimals)
{
    if (static_cast<int>(reply.size()) != kReadingLength)
        return std::nullopt;
    if (std::count(reply.begin(), reply.end(), '.') != 1)
        return std::nullopt;
    const bool plain = std::all_of(reply.begin(), reply.end(),
                                   [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
    if (!plain || reply.front() == '.' || reply.back() == '.')
        return std::nullopt;
    return parseCounts(reply, decimals);
}

} // namespace

std::string onChannel(const char* command, int channel)
{
    std::string text = command;
    if (const size_t digit = text.find('1'); digit != std::string::npos && channel >= 1 && channel <= 9)
        text[digit] = static_cast<char>('0' + channel);
    return text;
}

std::string setVoltageCommand(int centivolts, int channel)
{
    return onChannel(kSetVoltage, channel)
           + formatCounts(std::clamp(centivolts, 0, numtext::kMaxCount), kVoltDecimals, kSetValueLength);
}

std::string setCurrentCommand(int milliamps, int channel)
{
    return onChannel(kSetCurrent, channel)
           + formatCounts(std::clamp(milliamps, 0, numtext::kMaxCount), kAmpDecimals, kSetValueLength);
}

std::string outputCommand(bool on)
{
    return on ? kOutputOn : kOutputOff;
}

std::optional<int> parseVoltage(const std::string& reply)
{
    return parseReading(reply, kVoltDecimals);
}

std::optional<int> parseCurrent(const std::string& reply)
{
    return parseReading(reply, kAmpDecimals);
}

std::optional<Status> parseStatus(const std::string& reply, int channel)
{
    if (reply.size() != static_cast<size_t>(kStatusLength) || channel < 1 || channel > 2)
        return std::nullopt;
    const auto byte = static_cast<unsigned char>(reply[0]);
    Status s;
    s.constantVoltage = (byte & (kStatusConstantVoltage << (channel - 1))) != 0;
    s.outputOn = (byte & kStatusOutputOn) != 0;
    return s;
}

ReplyFramer::ReplyFramer(int expectedLength) : m_expected(std::max(expectedLength, 0)) {}

void ReplyFramer::feed(const std::string& bytes)
{
    for (char c : bytes) {
        if (m_expected > 0 && static_cast<int>(m_reply.size()) >= m_expected)
            m_stray.push_back(c);
        else
            m_reply.push_back(c);
    }
}

bool ReplyFramer::complete() const
{
    return m_expected > 0 && static_cast<int>(m_reply.size()) >= m_expected;
}

std::optional<std::string> ReplyFramer::take()
{
    if (m_reply.empty() || (m_expected > 0 && !complete()))
        return std::nullopt;
    return m_reply;
}

void ReplyFramer::reset()
{
    m_reply.clear();
    m_stray.clear();
}

} // namespace pslink::text
