#include "device/link/scpi/ScpiProtocol.h"

#include "device/NumberText.h"

#include "device/link/Decimal.h"

#include <algorithm>
#include <cctype>

namespace pslink::scpi {

namespace {

std::string upperTrimmed(const std::string& line)
{
    const size_t begin = line.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return {};
    const size_t end = line.find_last_not_of(" \t");
    std::string out = line.substr(begin, end - begin + 1);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

std::string setVoltageCommand(int centivolts)
{
    return std::string(kSetVoltage) + ' ' + formatCounts(std::clamp(centivolts, 0, numtext::kMaxCount), kVoltDecimals);
}

std::string setCurrentCommand(int milliamps)
{
    return std::string(kSetCurrent) + ' ' + formatCounts(std::clamp(milliamps, 0, numtext::kMaxCount), kAmpDecimals);
}

std::string outputCommand(bool on)
{
    return std::string(kOutput) + ' ' + (on ? kOn : kOff);
}

std::optional<int> parseCounts(const std::string& line, int decimals)
{
    return pslink::parseCounts(line, decimals);
}

std::optional<bool> parseOnOff(const std::string& line)
{
    const std::string word = upperTrimmed(line);
    if (word == "1" || word == kOn)
        return true;
    if (word == "0" || word == kOff)
        return false;
    return std::nullopt;
}

std::optional<ErrorEntry> parseError(const std::string& line)
{
    const size_t comma = line.find(',');
    const std::string number = comma == std::string::npos ? std::string() : upperTrimmed(line.substr(0, comma));
    const size_t digits = number.empty() || number[0] == '+' || number[0] == '-' ? 1 : 0;
    // Six characters at most: a code has four digits, and stoi cannot overflow.
    if (number.size() <= digits || number.size() > 6
        || number.find_first_not_of("0123456789", digits) != std::string::npos)
        return std::nullopt;
    const size_t begin = line.find_first_not_of(" \t");
    const size_t end = line.find_last_not_of(" \t\r\n");
    return ErrorEntry{std::stoi(number), line.substr(begin, end + 1 - begin)};
}

std::optional<Mode> parseMode(const std::string& line)
{
    const std::string word = upperTrimmed(line);
    if (word == kModeCv)
        return Mode::ConstantVoltage;
    if (word == kModeCc)
        return Mode::ConstantCurrent;
    return std::nullopt;
}

Mode inferMode(int centivolts, int milliamps, int setCentivolts, int setMilliamps)
{
    // A couple of counts of tolerance: readings are rarely exactly on the setpoint.
    const bool atCurrentLimit = setMilliamps > 0 && milliamps >= setMilliamps - 2;
    const bool belowVoltage = centivolts < setCentivolts - 2;
    return atCurrentLimit && belowVoltage ? Mode::ConstantCurrent : Mode::ConstantVoltage;
}

void LineFramer::feed(const std::string& bytes)
{
    m_buffer += bytes;
}

std::optional<std::string> LineFramer::takeLine()
{
    for (;;) {
        const size_t end = m_buffer.find_first_of("\r\n");
        if (end == std::string::npos)
            return std::nullopt;
        std::string line = m_buffer.substr(0, end);
        m_buffer.erase(0, end + 1);
        if (!line.empty())
            return line;
        // The second byte of CR LF / LF CR: nothing to hand out.
    }
}

void ReplyLine::feed(const std::string& bytes)
{
    if (m_line)
        return; // what follows the line is not part of this reply
    m_framer.feed(bytes);
    m_line = m_framer.takeLine();
}

void ReplyLine::reset()
{
    m_framer.clear();
    m_line.reset();
}

} // namespace pslink::scpi
