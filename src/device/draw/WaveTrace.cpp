#include "device/draw/WaveTrace.h"

#include <QLine>
#include <QPainter>
#include <QPen>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <limits>

namespace pslink {

namespace {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    const std::int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

std::int64_t CeilDiv(std::int64_t a, std::int64_t b)
{
    return -FloorDiv(-a, b);
}

// First sample of pixel column `column` (columns counted from the left border).
std::int64_t ColumnStart(const TimeAxis& axis, int width, std::int64_t column)
{
    return axis.origin + CeilDiv(column * axis.span, width);
}

// Lowest and highest of `count` values, NaN skipped. Eight independent lanes keep the loop from
// waiting on one running minimum; on a 100-hour record this is most of the render.
void MinMax(const float* data, std::int64_t count, float& low, float& high)
{
    constexpr int kLanes = 8;
    float lows[kLanes];
    float highs[kLanes];
    for (int k = 0; k < kLanes; ++k) {
        lows[k] = std::numeric_limits<float>::infinity();
        highs[k] = -std::numeric_limits<float>::infinity();
    }
    std::int64_t i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        for (int k = 0; k < kLanes; ++k) {
            const float v = data[i + k];
            lows[k] = v < lows[k] ? v : lows[k];
            highs[k] = v > highs[k] ? v : highs[k];
        }
    }
    for (; i < count; ++i) {
        const float v = data[i];
        lows[0] = v < lows[0] ? v : lows[0];
        highs[0] = v > highs[0] ? v : highs[0];
    }
    low = lows[0];
    high = highs[0];
    for (int k = 1; k < kLanes; ++k) {
        low = lows[k] < low ? lows[k] : low;
        high = highs[k] > high ? highs[k] : high;
    }
}

} // namespace

int SampleColumn(const PlotRect& plot, const TimeAxis& axis, std::int64_t index)
{
    if (axis.span <= 0)
        return plot.left;
    return plot.left + static_cast<int>(FloorDiv((index - axis.origin) * plot.width(), axis.span));
}

int ValueRow(const PlotRect& plot, float value, double minimum, double maximum)
{
    if (!(maximum > minimum))
        return plot.bottom;
    double fraction = (static_cast<double>(value) - minimum) / (maximum - minimum);
    if (!(fraction > 0.0)) // also NaN
        fraction = 0.0;
    if (fraction > 1.0)
        fraction = 1.0;
    return plot.bottom - static_cast<int>(std::lround(fraction * plot.height()));
}

void DrawTrace(QPainter& dc, const PlotRect& plot, const TimeAxis& axis, const float* data, std::int64_t first,
               std::int64_t last, double minimum, double maximum, bool steps, const QColor& colour)
{
    if (plot.isEmpty() || !data || axis.span <= 0)
        return;
    first = std::max<std::int64_t>(first, 0);
    // Only what can touch the plot: the sample coming in from the left, the window, and the
    // sample the last segment runs to.
    const std::int64_t lo = std::max(first, axis.origin - 1);
    const std::int64_t hi = std::min(last, axis.origin + axis.span + 1);
    // Nothing at or after the window's start (a window past the end of the record): nothing to show.
    if (lo >= hi || hi <= axis.origin)
        return;

    const int width = plot.width();
    dc.save();
    dc.setRenderHint(QPainter::Antialiasing, false);
    QPen pen(colour);
    pen.setWidth(0);
    dc.setPen(pen);
    dc.setClipRect(QRect(plot.left, plot.top, width + 1, plot.height() + 1));

    if (axis.span <= width) {
        // At least one pixel per second: draw the samples themselves.
        QVector<QPoint> points;
        points.reserve(static_cast<int>((hi - lo) * (steps ? 2 : 1)));
        for (std::int64_t i = lo; i < hi; ++i) {
            const int x = SampleColumn(plot, axis, i);
            const int y = ValueRow(plot, data[i], minimum, maximum);
            points.append(QPoint(x, y));
            if (steps)
                points.append(QPoint(SampleColumn(plot, axis, i + 1), y));
        }
        if (points.size() == 1) {
            const QPoint p = points.front();
            dc.drawLine(p.x() - 1, p.y(), p.x() + 1, p.y());
        } else {
            dc.drawPolyline(points.constData(), static_cast<int>(points.size()));
        }
    } else {
        // More samples than columns: one min-to-max line per column.
        const std::int64_t firstColumn = std::max<std::int64_t>(0, SampleColumn(plot, axis, lo) - plot.left);
        const std::int64_t lastColumn = std::min<std::int64_t>(width, SampleColumn(plot, axis, hi - 1) - plot.left);
        QVector<QLine> lines;
        lines.reserve(static_cast<int>(lastColumn - firstColumn + 1));
        std::int64_t begin = ColumnStart(axis, width, firstColumn);
        for (std::int64_t column = firstColumn; column <= lastColumn; ++column) {
            const std::int64_t end = ColumnStart(axis, width, column + 1);
            // The value held (or joined) into this column from the one before counts too.
            const std::int64_t from = std::max(begin - 1, first);
            const std::int64_t to = std::min(end, last);
            begin = end;
            if (from >= to)
                continue;
            float low = 0.0f;
            float high = 0.0f;
            MinMax(data + from, to - from, low, high);
            if (low > high) // every value NaN
                low = high = static_cast<float>(minimum);
            const int x = plot.left + static_cast<int>(column);
            lines.append(QLine(x, ValueRow(plot, high, minimum, maximum), x, ValueRow(plot, low, minimum, maximum)));
        }
        dc.drawLines(lines.constData(), static_cast<int>(lines.size()));
    }
    dc.restore();
}

} // namespace pslink
