#include "device/link/Decimal.h"

#include "device/NumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace pslink {

std::optional<int> parseCounts(const std::string& text, int decimals)
{
    size_t begin = text.find_first_not_of(" \t");
    size_t end = text.find_last_not_of(" \t");
    if (begin == std::string::npos)
        return std::nullopt;
    const bool plus = text[begin] == '+';
    if (plus)
        ++begin;
    // from_chars takes a minus of its own: "+-5" is no number, not -5.
    if (begin > end || (plus && text[begin] == '-'))
        return std::nullopt;
    const char* first = text.data() + begin;
    const char* last = text.data() + end + 1;
    // from_chars ignores the locale: a German desktop must not turn "12.34" into 12.
    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec != std::errc() || ptr != last || !std::isfinite(value))
        return std::nullopt;
    const double scaled = std::round(value * std::pow(10.0, decimals));
    return static_cast<int>(std::clamp(scaled, 0.0, static_cast<double>(numtext::kMaxCount)));
}

std::string formatCounts(int counts, int decimals, int width)
{
    counts = std::max(counts, 0);
    int scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    std::string out = std::to_string(counts / scale);
    if (decimals > 0) {
        const std::string fraction = std::to_string(counts % scale);
        out += '.' + std::string(static_cast<size_t>(decimals) - fraction.size(), '0') + fraction;
    }
    if (static_cast<int>(out.size()) < width)
        out.insert(0, static_cast<size_t>(width) - out.size(), '0');
    return out;
}

} // namespace pslink
