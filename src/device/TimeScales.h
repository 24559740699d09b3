#pragma once

// The seven time scales of the record view: how many seconds one window spans, the unit its time
// axis and read-out count in, what one of the read-out's fifty steps across the plot is worth,
// and the list texts of both languages. The index (0..6) is what the pages store and pass on.

#include <array>
#include <cstddef>

namespace timescale {

/// Seconds per unit of the axis labels and the read-out.
enum Unit : int { kSeconds = 1, kMinutes = 60, kHours = 3600 };

struct Scale
{
    int window;            ///< samples (one per second) across the plot
    Unit unit;             ///< what the axis and the read-out count in
    double readoutStep;    ///< one fiftieth of the window, in `unit`
    int readoutDecimals;   ///< 1: one decimal; 0: whole units, the fraction dropped
    const char16_t* english;
    const char16_t* chinese;
};

inline constexpr std::array<Scale, 7> kScales = {{
    {50, kSeconds, 1.0, 0, u"50 Sec", u"50秒"},
    {300, kMinutes, 0.1, 1, u"5 min", u"5分钟"},
    {1500, kMinutes, 0.5, 1, u"25 min", u"25分钟"},
    {6000, kMinutes, 2.0, 0, u"100 min", u"100分钟"},
    {18000, kHours, 0.1, 1, u"5 hr", u"5小时"},
    {90000, kHours, 0.5, 1, u"25 hr", u"25小时"},
    {360000, kHours, 2.0, 1, u"100 hr", u"100小时"},
}};
inline constexpr int kCount = static_cast<int>(kScales.size());

/// The scale of index `index`; nullptr outside 0..6.
constexpr const Scale* At(int index)
{
    return index >= 0 && index < kCount ? &kScales[static_cast<std::size_t>(index)] : nullptr;
}

/// Window of index `index` in samples; 0 outside 0..6.
constexpr int Window(int index)
{
    const Scale* scale = At(index);
    return scale ? scale->window : 0;
}

/// Below this many samples of scroll range the window holds (nearly) the whole record: the record
/// view shows no scroll bar and starts at the first sample.
inline constexpr int kMinScrollRange = 2;

/// The last first visible sample the record view allows in a record of `points` samples on scale
/// `index`: points - window, and 0 when that is below kMinScrollRange (or the index names no
/// scale), where the view shows no scroll bar.
constexpr int MaxViewOffset(int points, int index)
{
    const int range = points - Window(index);
    return Window(index) < 1 || range < kMinScrollRange ? 0 : range;
}

/// The first visible sample the record view allows for `wanted`: held to 0..MaxViewOffset.
constexpr int ClampViewOffset(int points, int index, int wanted)
{
    const int range = MaxViewOffset(points, index);
    return wanted < 0 ? 0 : wanted > range ? range : wanted;
}

} // namespace timescale
