#include "device/draw/WaveTrace.h"

#include <QLine>
#include <QPaintDevice>
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

namespace {

// Keeps a polyline within columns left..right, cutting its first and last segments where they
// cross them. The raster clip would do it too, but vector surfaces (SVG) keep no clip.
void ClipColumns(QVector<QPoint>& points, int left, int right)
{
    auto cut = [](QPoint inside, QPoint outside, int x) {
        const double t = static_cast<double>(x - inside.x()) / (outside.x() - inside.x());
        return QPoint(x, inside.y() + static_cast<int>(std::lround(t * (outside.y() - inside.y()))));
    };
    qsizetype a = 0;
    while (a < points.size() && points[a].x() < left)
        ++a;
    qsizetype b = points.size() - 1;
    while (b >= 0 && points[b].x() > right)
        --b;
    if (a > b) {
        points.clear();
        return;
    }
    QVector<QPoint> kept;
    kept.reserve(b - a + 3);
    if (a > 0 && points[a].x() > left)
        kept.append(cut(points[a], points[a - 1], left));
    kept.append(points.mid(a, b - a + 1));
    if (b + 1 < points.size() && points[b].x() < right)
        kept.append(cut(points[b], points[b + 1], right));
    points.swap(kept);
}

// At least one pixel per second: the samples [lo, hi) themselves.
void DrawSamples(QPainter& dc, const PlotRect& plot, const TimeAxis& axis, const float* data, std::int64_t lo,
                 std::int64_t hi, double minimum, double maximum, bool steps)
{
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
        dc.drawLine(std::max(p.x() - 1, plot.left), p.y(), std::min(p.x() + 1, plot.right), p.y());
        return;
    }
    ClipColumns(points, plot.left, plot.right);
    if (points.size() == 1)
        dc.drawPoint(points.front());
    else if (!points.isEmpty())
        dc.drawPolyline(points.constData(), static_cast<int>(points.size()));
}

// More samples than columns: one min-to-max line per column of samples [lo, hi) of [first, last).
void DrawEnvelope(QPainter& dc, const PlotRect& plot, const TimeAxis& axis, const float* data, std::int64_t first,
                  std::int64_t last, std::int64_t lo, std::int64_t hi, double minimum, double maximum)
{
    const int width = plot.width();
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

} // namespace

void DrawTrace(QPainter& dc, const PlotRect& area, const TimeAxis& axis, const float* data, std::int64_t first,
               std::int64_t last, double minimum, double maximum, bool steps, const QColor& colour)
{
    if (area.isEmpty() || !data || axis.span <= 0)
        return;
    // On a surface with more than one device pixel to the logical one (a 200 % screen) the trace
    // is laid out on device pixels, so the envelope has a line in every device column and no gaps.
    const qreal ratio = dc.device() ? dc.device()->devicePixelRatio() : 1.0;
    const bool dense = ratio > 1.0;
    const PlotRect plot = dense ? PlotRect{static_cast<int>(std::lround(area.left * ratio)),
                                           static_cast<int>(std::lround(area.top * ratio)),
                                           static_cast<int>(std::lround(area.right * ratio)),
                                           static_cast<int>(std::lround(area.bottom * ratio))}
                                : area;
    first = std::max<std::int64_t>(first, 0);
    // Only what can touch the plot: the sample coming in from the left, the window, and the
    // sample the last segment runs to.
    const std::int64_t lo = std::max(first, axis.origin - 1);
    const std::int64_t hi = std::min(last, axis.origin + axis.span + 1);
    // Nothing at or after the window's start (a window past the end of the record): nothing to show.
    if (lo >= hi || hi <= axis.origin)
        return;

    dc.save();
    if (dense)
        dc.scale(1.0 / ratio, 1.0 / ratio);
    dc.setRenderHint(QPainter::Antialiasing, false);
    QPen pen(colour);
    pen.setWidth(0);
    dc.setPen(pen);
    dc.setClipRect(QRect(plot.left, plot.top, plot.width() + 1, plot.height() + 1));
    if (axis.span <= plot.width())
        DrawSamples(dc, plot, axis, data, lo, hi, minimum, maximum, steps);
    else
        DrawEnvelope(dc, plot, axis, data, first, last, lo, hi, minimum, maximum);
    dc.restore();
}

} // namespace pslink
