#pragma once

// The wave displays' scales, read by the drawing, the live and record views and the read-out.

namespace plot {

/// Volts at the top of the plot (the left axis) and amperes at the top (the right axis).
inline constexpr double kVoltsFullScale = 35.0;
inline constexpr double kAmpsFullScale = 7.0;
/// Amperes per volt of the vertical axis: what the read-out shows beside a voltage.
inline constexpr double kAmpsPerVolt = kAmpsFullScale / kVoltsFullScale;
/// Whole volts the axis spans, as the grid and the read-out count them.
inline constexpr int kVoltsDivisions = static_cast<int>(kVoltsFullScale);
/// Samples the live wave of a user-mode run shows, one slot a second.
inline constexpr int kLiveWindow = 35;

} // namespace plot
