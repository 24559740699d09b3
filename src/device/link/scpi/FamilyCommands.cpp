#include "device/link/scpi/FamilyCommands.h"

#include "device/link/TextTrim.h"

#include "device/link/Decimal.h"
#include "device/link/Protection.h"

#include <cctype>
#include <charconv>
#include <cmath>

namespace pslink::scpi {

namespace {

char upper(char c)
{
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool numberChar(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '+' || c == '-' || c == 'e' || c == 'E';
}

std::optional<int> counts(std::string_view text, int decimals, bool negative)
{
    if (negative && !text.empty() && text.front() == '-')
        text.remove_prefix(1);
    return pslink::parseCounts(std::string(text), decimals);
}

std::string exponentText(double value)
{
    if (value == 0.0)
        value = 0.0; // no "-0": a negative output at rest reads +0
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 8);
    std::string text(buffer, ec == std::errc() ? end : buffer);
    for (char& c : text)
        c = upper(c);
    return value < 0 ? text : "+" + text;
}

std::optional<unsigned> readWhole(std::string_view text, int base)
{
    text = trimmedBlanks(text);
    if (base == 16 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

} // namespace

std::string expand(std::string_view pattern, int channel, std::string_view value)
{
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const std::string_view rest = pattern.substr(i);
        if (rest.substr(0, 3) == "{n}") {
            out += std::to_string(channel);
            i += 2;
        } else if (rest.substr(0, 3) == "{v}" || rest.substr(0, 3) == "{e}") {
            out += value;
            i += 2;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

bool matchCommand(std::string_view pattern, std::string_view command, int& channel, std::string& value)
{
    command = trimmedBlanks(command);
    if (!pattern.empty() && pattern.front() == ':')
        pattern.remove_prefix(1);
    if (!command.empty() && command.front() == ':')
        command.remove_prefix(1);
    size_t c = 0;
    for (size_t p = 0; p < pattern.size(); ++p) {
        const std::string_view place = pattern.substr(p, 3);
        if (place == "{n}" || place == "{v}" || place == "{e}") {
            const size_t begin = c;
            while (c < command.size()
                   && (place == "{n}" ? std::isdigit(static_cast<unsigned char>(command[c])) != 0 : numberChar(command[c])))
                ++c;
            if (c == begin)
                return false;
            const std::string_view taken = command.substr(begin, c - begin);
            if (place == "{n}")
                std::from_chars(taken.data(), taken.data() + taken.size(), channel);
            else
                value = taken;
            p += 2;
        } else if (pattern[p] == ' ') {
            // One blank in the pattern stands for any run of them.
            if (c >= command.size() || command[c] != ' ')
                return false;
            while (c < command.size() && command[c] == ' ')
                ++c;
        } else if (c >= command.size() || upper(command[c++]) != upper(pattern[p])) {
            return false;
        }
    }
    return c == command.size();
}

std::string valueText(int counts, int countDecimals, int decimals, bool negative)
{
    long long value = counts;
    for (int d = countDecimals; d < decimals; ++d)
        value *= 10;
    for (int d = decimals; d < countDecimals; ++d)
        value = (value + 5) / 10;
    const std::string text = formatCounts(static_cast<int>(value), decimals);
    return negative && value != 0 ? "-" + text : text;
}

std::optional<int> readValue(std::string_view answer, int channel, const std::string& reply, int decimals,
                             bool negative)
{
    int told = channel;
    std::string value;
    if (matchCommand(answer, reply, told, value) && told == channel)
        return counts(value, decimals, negative);
    return counts(trimmedBlanks(reply), decimals, negative); // a plain number: some firmware drops the header
}

std::string answerText(std::string_view answer, int channel, int counts, int decimals, bool negative)
{
    double value = counts;
    for (int d = 0; d < decimals; ++d)
        value /= 10.0;
    const bool exponent = answer.find("{e}") != std::string_view::npos;
    return expand(answer, channel, exponent ? exponentText(negative ? -value : value)
                                            : valueText(counts, decimals, 3, negative));
}

std::optional<ModeState> readMode(ModeReply kind, const std::string& reply, int channel)
{
    ModeState state;
    const std::string_view text = trimmedBlanks(reply);
    const unsigned shift = static_cast<unsigned>(channel - 1);
    switch (kind) {
    case ModeReply::Inferred:
        return std::nullopt;
    case ModeReply::Words:
        if (text.empty() || !std::isalpha(static_cast<unsigned char>(text.front())))
            return std::nullopt;
        state.constantVoltage = text.size() == 2 && upper(text[0]) == 'C' && upper(text[1]) == 'V';
        state.constantCurrent = text.size() == 2 && upper(text[0]) == 'C' && upper(text[1]) == 'C';
        return state;
    case ModeReply::Condition:
    case ModeReply::LimitStatus: {
        const auto bits = readWhole(text, 10);
        if (!bits)
            return std::nullopt;
        const bool limit = kind == ModeReply::LimitStatus;
        state.constantVoltage = (*bits & (limit ? 1u : 2u)) != 0;
        state.constantCurrent = (*bits & (limit ? 2u : 1u)) != 0;
        if (limit)
            state.protection = ((*bits & 4u) ? kOverVoltage : 0u) | ((*bits & 8u) ? kOverCurrent : 0u);
        return state;
    }
    case ModeReply::StatusWord: {
        const auto bits = readWhole(text, 16);
        if (!bits)
            return std::nullopt;
        state.constantCurrent = (*bits >> shift & 1u) != 0;
        state.constantVoltage = !state.constantCurrent;
        state.outputOn = (*bits >> (shift + 4) & 1u) != 0;
        return state;
    }
    case ModeReply::StatusText:
        if (text.size() != 8 || text.find_first_not_of("01") != std::string_view::npos)
            return std::nullopt;
        // It tells the first two channels' modes only.
        state.constantVoltage = shift < 2 && text[shift] == '1';
        state.constantCurrent = shift < 2 && text[shift] == '0';
        state.outputOn = text[5] == '1';
        return state;
    }
    return std::nullopt;
}

std::string modeText(ModeReply kind, const std::vector<ChannelShown>& channels, int channel)
{
    const auto index = static_cast<size_t>(channel - 1);
    const ChannelShown shown = index < channels.size() ? channels[index] : ChannelShown{};
    switch (kind) {
    case ModeReply::Inferred:
        break;
    case ModeReply::Words:
        return !shown.outputOn ? "UR" : shown.constantCurrent ? "CC" : "CV";
    case ModeReply::Condition:
        return std::to_string(!shown.outputOn ? 0 : shown.constantCurrent ? 1 : 2);
    case ModeReply::LimitStatus: {
        const unsigned mode = !shown.outputOn ? 0u : shown.constantCurrent ? 2u : 1u;
        return std::to_string(mode | ((shown.trips & kOverVoltage) ? 4u : 0u) | ((shown.trips & kOverCurrent) ? 8u : 0u));
    }
    case ModeReply::StatusWord: {
        unsigned bits = 0;
        for (size_t i = 0; i < channels.size() && i < 4; ++i)
            bits |= (channels[i].constantCurrent ? 1u : 0u) << i | (channels[i].outputOn ? 1u : 0u) << (i + 4);
        char hex[8];
        const auto [end, ec] = std::to_chars(hex, hex + sizeof hex, bits, 16);
        return "0x" + std::string(hex, ec == std::errc() ? end : hex);
    }
    case ModeReply::StatusText: {
        std::string text = "00011000"; // the channels' modes, independent tracking, beeper on, output, baud
        for (size_t i = 0; i < channels.size() && i < 2; ++i)
            text[i] = channels[i].constantCurrent ? '0' : '1';
        text[5] = !channels.empty() && channels.front().outputOn ? '1' : '0';
        return text;
    }
    }
    return {};
}

} // namespace pslink::scpi
