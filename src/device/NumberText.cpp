#include "device/NumberText.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>

namespace numtext {
namespace {

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Numbers are ASCII; anything else stops a reader as any other letter would.
std::string Narrow(const QString& text)
{
    return text.toLatin1().toStdString();
}

// Four digits of `scaled` (hundredths or thousandths), truncated after the 0.1 nudge.
void EncodeScaled(double scaled, unsigned char* digits)
{
    long n = 0;
    if (!std::isnan(scaled))
        n = static_cast<long>(std::clamp(scaled + 0.1, 0.0, static_cast<double>(kMaxCount)));
    DigitsFromCount(static_cast<int>(n), digits);
}

// The power of ten of the first significant digit of a decimal number with an optional sign,
// point and exponent ("0.05" gives -2, "120e3" gives 5); held to about +-10^9.
long long DecimalPower(std::string_view number)
{
    long long power = 0;
    bool significant = false;
    bool point = false;
    size_t i = 0;
    if (i < number.size() && (number[i] == '+' || number[i] == '-'))
        ++i;
    for (; i < number.size() && (IsDigit(number[i]) || number[i] == '.'); ++i) {
        if (number[i] == '.')
            point = true;
        else if (significant)
            power += point ? 0 : 1;
        else if (point)
            --power;
        if (IsDigit(number[i]) && number[i] != '0')
            significant = true;
    }
    if (i < number.size() && (number[i] == 'e' || number[i] == 'E')) {
        ++i;
        const bool negative = i < number.size() && number[i] == '-';
        if (i < number.size() && (number[i] == '+' || number[i] == '-'))
            ++i;
        long long exponent = 0;
        for (; i < number.size() && IsDigit(number[i]); ++i)
            exponent = std::min<long long>(exponent * 10 + (number[i] - '0'), 1000000000);
        power += negative ? -exponent : exponent;
    }
    return power;
}

} // namespace

void AppendFixed(std::string& out, double value, int decimals)
{
    // to_chars with a precision is printf's "%.*f" in the C locale, rounding included.
    char buffer[400]; // room for the largest double written out in full
    const auto res = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    out.append(buffer, res.ec == std::errc() ? res.ptr : buffer);
}

std::string Fixed(double value, int decimals)
{
    std::string text;
    AppendFixed(text, value, decimals);
    return text;
}

QString FixedText(double value, int decimals)
{
    return QString::fromStdString(Fixed(value, decimals));
}

void AppendInt(std::string& out, long long value)
{
    char buffer[24];
    const auto res = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, res.ptr);
}

long ParseInt(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    // Saturate like the 32-bit conversion instead of overflowing: INT_MIN is in range.
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) {
            value = limit;
            break;
        }
    }
    return static_cast<long>(negative ? -value : value);
}

long ParseInt(const QString& text)
{
    return ParseInt(std::string_view(Narrow(text)));
}

double ParseFloat(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    const size_t start = i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    std::uint64_t mantissa = 0;
    int digits = 0;
    int fraction = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i, ++digits) {
        if (digits < 19)
            mantissa = mantissa * 10 + static_cast<unsigned>(text[i] - '0');
    }
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && IsDigit(text[i]); ++i, ++digits, ++fraction) {
            if (digits < 19)
                mantissa = mantissa * 10 + static_cast<unsigned>(text[i] - '0');
        }
    }
    if (digits == 0)
        return 0.0;
    bool exponent = false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            ++j;
        if (j < text.size() && IsDigit(text[j])) {
            while (j < text.size() && IsDigit(text[j]))
                ++j;
            i = j;
            exponent = true;
        }
    }
    // Up to 15 digits and a power of ten up to 10^22 are exact in a double, so one division
    // rounds correctly and gives what from_chars gives, much faster (a record has a million).
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                         1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (!exponent && digits <= 15) {
        const double value = static_cast<double>(mantissa) / kPowers[fraction];
        return negative ? -value : value;
    }

    const char* first = text.data() + start;
    if (*first == '+')
        ++first;
    double value = 0.0;
    const auto res = std::from_chars(first, text.data() + i, value);
    if (res.ec == std::errc::result_out_of_range) {
        // Too small reads as 0; too large keeps its sign. "0.000...1" without an exponent is
        // small too: where the first significant digit stands tells which.
        const std::string_view number(first, static_cast<size_t>(text.data() + i - first));
        if (DecimalPower(number) < 0)
            return 0.0;
        return negative ? -HUGE_VAL : HUGE_VAL;
    }
    return value;
}

double ParseFloat(const QString& text)
{
    return ParseFloat(std::string_view(Narrow(text)));
}

int CountFromDigits(const unsigned char* digits)
{
    int n = 0;
    for (int i = 0; i < 4; ++i)
        n = n * 10 + std::min<int>(digits[i], 9);
    return n;
}

void DigitsFromCount(int count, unsigned char* digits)
{
    const int n = std::clamp(count, 0, kMaxCount);
    digits[0] = static_cast<unsigned char>(n / 1000);
    digits[1] = static_cast<unsigned char>((n % 1000) / 100);
    digits[2] = static_cast<unsigned char>((n % 100) / 10);
    digits[3] = static_cast<unsigned char>(n % 10);
    digits[4] = 0;
}

void EncodeVolts(float volts, unsigned char* digits)
{
    EncodeScaled(static_cast<double>(volts) * 100.0, digits);
}

void EncodeAmps(float amps, unsigned char* digits)
{
    EncodeScaled(static_cast<double>(amps) * 1000.0, digits);
}

float DecodeVolts(const unsigned char* digits)
{
    return static_cast<float>(CountFromDigits(digits) / 100.0);
}

float DecodeAmps(const unsigned char* digits)
{
    return static_cast<float>(CountFromDigits(digits) / 1000.0);
}

} // namespace numtext
