#pragma once

// Record and program files: one format. 8-bit text, a header line, then one row per second of
// three comma-separated fields (whole seconds, volts, amperes), no quotes, no added spaces.
// Written with CR LF; read with CR LF or a lone LF ending a line.

#include <string>
#include <string_view>
#include <type_traits>

namespace recordfile {

/// The header writers put on line 1; readers skip line 1 without looking at it.
inline constexpr std::string_view kHeader = "Time(S),Voltage(V),Current(A)";
/// What ends every line on disk.
inline constexpr std::string_view kLineEnd = "\r\n";

/// Calls `onLine(std::string_view)` for every line of `data`, without its line end: CR LF or a
/// lone LF ends a line, a last line without one is still a line, and an empty line is a line.
/// A callback returning bool stops the walk by returning false.
template <typename F>
void ForEachLine(std::string_view data, F&& onLine)
{
    while (!data.empty()) {
        const size_t nl = data.find('\n');
        std::string_view line = data.substr(0, nl);
        if (nl != std::string_view::npos && !line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if constexpr (std::is_same_v<std::invoke_result_t<F&, std::string_view>, bool>) {
            if (!onLine(line))
                return;
        } else {
            onLine(line);
        }
        data = nl == std::string_view::npos ? std::string_view() : data.substr(nl + 1);
    }
}

/// The three texts of a row. The time is the part before the first comma; of the rest after it,
/// the voltage is the part before its first comma and the current everything after that comma.
/// Where a comma is missing the part before it is empty and the rest is the whole text, so
/// "5.00" gives an empty time and voltage and the current "5.00"; with more than two commas the
/// current keeps the later ones.
struct RowTexts
{
    std::string_view time;
    std::string_view voltage;
    std::string_view current;
};
RowTexts SplitRow(std::string_view line);

/// Appends a row of a user-mode sample, "%ld,%.2f,%.3f", without a line end.
void AppendSampleRow(std::string& out, long long sample, double volts, double amps);
/// Appends the row of a second without a reading (the link was down): "%ld,,", no line end. It
/// keeps the seconds counting, so a record stays one unbroken run of rows; readers take the empty
/// fields as 0.
void AppendGapRow(std::string& out, long long sample);
/// Appends a row made of texts as they stand: time, ",", voltage, ",", current; no line end.
void AppendRow(std::string& out, std::string_view time, std::string_view voltage, std::string_view current);
/// Appends a row numbered `time` whose voltage and current texts are kept as they stand.
void AppendRow(std::string& out, long long time, std::string_view voltage, std::string_view current);

/// Appends `line` and the CR LF line end.
void AppendLine(std::string& out, std::string_view line);

} // namespace recordfile
