#pragma once

// Geometry and trace drawing shared by the live and record wave functions of the library.

#include <QColor>

#include <cstdint>

class QPainter;

namespace pslink {

/// A plot rectangle as the drawing functions take it: right and bottom are the far border lines,
/// so the plot is right - left columns wide.
struct PlotRect
{
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool isEmpty() const { return right <= left || bottom <= top; }
};

/// The horizontal mapping of a trace: sample `origin` lands on the left border and sample
/// `origin + span` on the right border.
struct TimeAxis
{
    std::int64_t origin = 0;
    std::int64_t span = 1;
};

/// Pixel column of sample `index`: left + floor((index - origin) * width / span).
int SampleColumn(const PlotRect& plot, const TimeAxis& axis, std::int64_t index);

/// Pixel row of `value`: `minimum` on the bottom border, `maximum` on the top border; values
/// outside the range (and NaN, read as the minimum) are held to the plot.
int ValueRow(const PlotRect& plot, float value, double minimum, double maximum);

/// Draws samples [first, last) of `data`. `steps` holds each sample until the next one (one
/// second) instead of joining them with straight segments. When the samples outnumber the pixel
/// columns, each column gets one vertical line from its lowest to its highest value (including
/// the value carried in from the column before), which is the picture a full polyline would give
/// at a fraction of the cost. `plot` is in logical pixels; on a surface with a device pixel ratio
/// above 1 columns and rows are device pixels.
void DrawTrace(QPainter& dc, const PlotRect& plot, const TimeAxis& axis, const float* data, std::int64_t first,
               std::int64_t last, double minimum, double maximum, bool steps, const QColor& colour);

} // namespace pslink
