#pragma once

#include <optional>
#include <string>

namespace pslink {

/// Decimals of the link's counts: hundredths of a volt, thousandths of an ampere.
inline constexpr int kVoltDecimals = 2;
inline constexpr int kAmpDecimals = 3;

/// Parses a decimal reading such as "12.34", "+5.000E+00" or " 0.125 " (C locale, whatever the
/// process locale is) and returns it in counts of 10^-decimals, rounded and clamped to 0..9999.
/// nullopt when the text is not one number (empty, garbage, trailing junk).
std::optional<int> parseCounts(const std::string& text, int decimals);

/// Formats counts of 10^-decimals as a fixed-point decimal, e.g. (500, 2, 5) -> "05.00".
/// `width` pads with leading zeros.
std::string formatCounts(int counts, int decimals, int width = 0);

} // namespace pslink
