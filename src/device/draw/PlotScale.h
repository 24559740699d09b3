#pragma once

// The wave displays' scales and colours, read by the drawing, the live and record views, the
// read-out and the record plots of tarnwell-cli.

#include "device/draw/Draw.h"

namespace plot {

/// Trace and read-out colours: voltage red, current yellow, the read-out green, all on black.
inline constexpr DsoColor kVoltageColour = DsoRgb(255, 0, 0);
inline constexpr DsoColor kCurrentColour = DsoRgb(255, 255, 0);
inline constexpr DsoColor kTextColour = DsoRgb(0, 255, 0);

/// Volts at the top of the plot (the left axis) and amperes at the top (the right axis).
inline constexpr double kVoltsFullScale = 35.0;
inline constexpr double kAmpsFullScale = 7.0;
/// Amperes per volt of the vertical axis: what the read-out shows beside a voltage.
inline constexpr double kAmpsPerVolt = kAmpsFullScale / kVoltsFullScale;
/// Whole volts the axis spans, as the grid and the read-out count them.
inline constexpr int kVoltsDivisions = static_cast<int>(kVoltsFullScale);
/// Pixels between the edge of a wave picture and its plot, on every side; the axis labels live there.
inline constexpr int kMargin = 20;
/// The grid's first argument as the wave displays pass it.
inline constexpr int kGridDivisions = 33;
/// Samples the live wave of a user-mode run shows, one slot a second.
inline constexpr int kLiveWindow = 35;

} // namespace plot
