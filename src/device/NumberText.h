#pragma once

// Numbers as text, the one way the program writes and reads them: always the C locale (a German
// desktop must still get "5.00"), and one rounding rule, the one printf's "%.2f" uses: the exact
// binary value decides, and exact ties go to the even digit (2.125 gives "2.12", 0.0625 with
// three decimals "0.062"). Also the digit buffer, the form in which setpoints and readings cross
// the device library.

#include <QString>

#include <charconv>
#include <string>
#include <string_view>
#include <system_error>

namespace numtext {

/// The largest count four digits hold: 99.99 V, 9.999 A.
inline constexpr int kMaxCount = 9999;

/// Appends "%.<decimals>f" of `value` to `out`.
void AppendFixed(std::string& out, double value, int decimals);
/// "%.<decimals>f" of `value`.
std::string Fixed(double value, int decimals);
/// "%.<decimals>f" of `value`, as a QString.
QString FixedText(double value, int decimals);

/// Appends "%ld" of `value` to `out`.
void AppendInt(std::string& out, long long value);

/// Leading integer of `text`: white space, an optional sign, decimal digits; stops at the first
/// other character; 0 when there are none. Saturates at the 32-bit range.
long ParseInt(std::string_view text);
long ParseInt(const QString& text);
inline long ParseInt(const char* text)
{
    return ParseInt(std::string_view(text));
}
/// Longest leading decimal number of `text` (optional sign, fraction and exponent), ignoring what
/// follows; 0.0 when there is none. Too large keeps its sign as infinity, too small reads as 0.
double ParseFloat(std::string_view text);
double ParseFloat(const QString& text);
inline double ParseFloat(const char* text)
{
    return ParseFloat(std::string_view(text));
}

/// The whole of `text` as one number of type T (an integer or a floating type, read by
/// std::from_chars: the C locale, no thousands separators), white space around it and one
/// leading '+' allowed; false, with `value` untouched, for anything else or a number that does
/// not fit.
template <typename T>
bool ParseWhole(std::string_view text, T& value)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty())
        return false;
    T parsed{};
    const auto res = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (res.ec != std::errc() || res.ptr != text.data() + text.size())
        return false;
    value = parsed;
    return true;
}
template <typename T>
bool ParseWhole(const QString& text, T& value)
{
    const QByteArray bytes = text.toLatin1();
    return ParseWhole(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())), value);
}

// ---- Digit buffer: 5 bytes, the first four one decimal digit each, most significant first ----

/// Counts a digit buffer holds: 0..9999. A byte above 9 reads as 9.
int CountFromDigits(const unsigned char* digits);
/// Writes `count` (held to 0..9999) as four digits; the fifth byte becomes 0.
void DigitsFromCount(int count, unsigned char* digits);

/// Volts as hundredths, truncated after adding 0.1 (so 3.29, which a float holds just below
/// 3.29, stays 329); values without a four-digit form are held to 0..9999, NaN gives 0.
void EncodeVolts(float volts, unsigned char* digits);
/// Amperes as thousandths, likewise.
void EncodeAmps(float amps, unsigned char* digits);
float DecodeVolts(const unsigned char* digits);
float DecodeAmps(const unsigned char* digits);

} // namespace numtext
