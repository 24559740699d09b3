#include "fuzz/harness/FuzzOracles.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace fuzz {

namespace {

bool Digit(char c)
{
    return c >= '0' && c <= '9';
}

bool Space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Length of the decimal number at the start of `text` (sign, digits with an optional point,
// an exponent only when digits follow it); 0 when there is none.
std::size_t NumberLength(std::string_view text)
{
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    std::size_t digits = 0;
    for (; i < text.size() && Digit(text[i]); ++i)
        ++digits;
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && Digit(text[i]); ++i)
            ++digits;
    }
    if (digits == 0)
        return 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            ++j;
        if (j < text.size() && Digit(text[j])) {
            while (j < text.size() && Digit(text[j]))
                ++j;
            i = j;
        }
    }
    return i;
}

} // namespace

long long ReferenceInt(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && Space(text[i]))
        ++i;
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    std::size_t end = i;
    while (end < text.size() && Digit(text[end]))
        ++end;
    while (i < end && text[i] == '0')
        ++i;
    if (end - i > 10)
        return negative ? INT_MIN : INT_MAX;
    long long magnitude = 0;
    for (; i < end; ++i)
        magnitude = magnitude * 10 + (text[i] - '0');
    return negative ? std::max<long long>(-magnitude, INT_MIN) : std::min<long long>(magnitude, INT_MAX);
}

double ReferenceFloat(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && Space(text[i]))
        ++i;
    const std::size_t n = NumberLength(text.substr(i));
    if (n == 0)
        return 0.0;
    const std::string number(text.substr(i, n));
    return std::strtod(number.c_str(), nullptr);
}

bool SameReading(double a, double b)
{
    return a == b || (std::fabs(a) < DBL_MIN && std::fabs(b) < DBL_MIN);
}

std::optional<Number> WholeNumber(std::string_view text)
{
    const std::size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos)
        return std::nullopt;
    text = text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
    if (NumberLength(text) != text.size())
        return std::nullopt;
    const std::string number(text);
    errno = 0;
    std::strtod(number.c_str(), nullptr);
    const bool inRange = errno != ERANGE;
    return Number{std::strtold(number.c_str(), nullptr), inRange};
}

bool CountsOf(long double value, int decimals, int counts)
{
    const long double scaled = value * std::pow(10.0L, decimals);
    if (scaled <= -0.5L)
        return counts == 0;
    if (scaled >= 9999.5L)
        return counts == 9999;
    // A double's rounding may land a value next to a tie on either side of it.
    return std::fabs(scaled - counts) <= 0.5L + 1e-9L * std::max(1.0L, std::fabs(scaled));
}

std::optional<long double> TextReading(std::string_view reply)
{
    if (reply.size() != 5 || std::count(reply.begin(), reply.end(), '.') != 1 || reply.front() == '.'
        || reply.back() == '.')
        return std::nullopt;
    long double whole = 0;
    long double scale = 0;
    for (const char c : reply) {
        if (c == '.') {
            scale = 1;
            continue;
        }
        if (!Digit(c))
            return std::nullopt;
        whole = whole * 10 + (c - '0');
        scale *= 10;
    }
    return whole / scale;
}

bool PrintableByte(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u > ' ' && u < 0x7F;
}

} // namespace fuzz
