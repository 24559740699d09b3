#pragma once

// What the readers should have made of an input, worked out the slow and obvious way, so the
// targets can hold the fast readers to it.

#include <optional>
#include <string>
#include <string_view>

namespace fuzz {

/// The leading integer as a 32-bit wide conversion reads it: white space, a sign, digits;
/// saturated at INT_MIN / INT_MAX; 0 without digits.
long long ReferenceInt(std::string_view text);

/// The longest leading decimal number (sign, digits, point, exponent with digits), read by
/// strtod in the C locale; 0 without one.
double ReferenceFloat(std::string_view text);

/// The same double, or both too small to tell apart from 0.
bool SameReading(double a, double b);

/// A number as text stands for it.
struct Number
{
    long double value;
    bool inRange; ///< a double holds it: neither too large nor too small and lost
};
/// `text` when it is one decimal number and nothing else but blanks and tabs around it
/// ("+5.000E+00", " .5 ", "-1"); nullopt for anything else (two signs, junk, "inf").
std::optional<Number> WholeNumber(std::string_view text);

/// Whether `counts` is what a reading `value` gives in counts of 10^-decimals: rounded to the
/// nearest (a tie either way) and held to 0..9999.
bool CountsOf(long double value, int decimals, int counts);

/// The plain-text dialect's reading: exactly five characters, digits and one point neither
/// first nor last; its value.
std::optional<long double> TextReading(std::string_view reply);

/// Printable identity bytes: above the blank and below DEL.
bool PrintableByte(char c);

} // namespace fuzz
