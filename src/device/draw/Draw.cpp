// Grid and wave drawing of the device library.
//
// The plot rectangle's right and bottom are its far border lines. Volts run 0..fullScale (35) on
// the left in 5 V divisions, amperes 0..fullScale/5 (7) on the right in 1 A divisions; time runs
// across ten divisions. Labels go into the margin around the plot (the wave display leaves 20
// pixels on each side).
#include "device/draw/Draw.h"

#include "device/NumberText.h"
#include "device/TimeScales.h"
#include "device/draw/PlotScale.h"
#include "device/draw/WaveTrace.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kTimeDivisions = 10;
constexpr int kFontPixels = 10;
const QColor kGridLine(72, 72, 72);
const QColor kGridBorder(128, 128, 128);
const QColor kGridText(200, 200, 200);

QColor FromDsoColor(DsoColor colour)
{
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}

QFont LabelFont(int pixels)
{
    QFont font;
    font.setPixelSize(pixels);
    // Grey text must stay grey: no coloured subpixel fringes on the black background.
    font.setStyleStrategy(QFont::NoSubpixelAntialias);
    return font;
}

// Time label at `seconds` in the unit of `scale`: seconds, minutes or hours, with one decimal
// where it is not a whole number.
QString TimeLabel(double seconds, const timescale::Scale& scale)
{
    if (scale.unit == timescale::kSeconds)
        return QString::number(std::llround(seconds)) + QLatin1Char('s');
    QString text = numtext::FixedText(seconds / static_cast<double>(scale.unit), 1);
    if (text.endsWith(QLatin1String(".0")))
        text.chop(2);
    return text + QLatin1String(scale.unit == timescale::kHours ? "h" : "min");
}

// Lines, border and the two vertical scales shared by both grids.
void DrawGridFrame(QPainter& dc, const pslink::PlotRect& plot, int fullScale)
{
    const int volts = fullScale > 0 ? fullScale : plot::kVoltsDivisions;
    const int rows = std::max(1, volts / 5);
    QPen dotted(kGridLine);
    dotted.setWidth(0);
    dotted.setStyle(Qt::DotLine);
    dc.setPen(dotted);
    for (int k = 1; k < kTimeDivisions; ++k) {
        const int x = plot.left + plot.width() * k / kTimeDivisions;
        dc.drawLine(x, plot.top, x, plot.bottom);
    }
    for (int k = 1; k < rows; ++k) {
        const int y = plot.bottom - plot.height() * k / rows;
        dc.drawLine(plot.left, y, plot.right, y);
    }
    QPen border(kGridBorder);
    border.setWidth(0);
    dc.setPen(border);
    dc.drawRect(plot.left, plot.top, plot.width(), plot.height());

    dc.setFont(LabelFont(kFontPixels));
    dc.setPen(kGridText);
    const QFontMetrics metrics(dc.font());
    const int rowPixels = std::max(1, plot.height() / rows);
    const int every = std::max(1, (metrics.height() + rowPixels - 1) / rowPixels);
    const int margin = 19;
    for (int k = 0; k <= rows; k += every) {
        const int y = plot.bottom - plot.height() * k / rows;
        const QRect leftBox(plot.left - margin - 1, y - metrics.height() / 2, margin, metrics.height());
        const QRect rightBox(plot.right + 2, y - metrics.height() / 2, margin, metrics.height());
        dc.drawText(leftBox, Qt::AlignRight | Qt::AlignVCenter, QString::number(k * volts / rows));
        dc.drawText(rightBox, Qt::AlignLeft | Qt::AlignVCenter, QString::number(k * volts / rows / 5));
    }
    // Units in the top margin, beside the scale they name.
    const int unitTop = plot.top - margin;
    dc.drawText(QRect(plot.left - margin - 1, unitTop, margin, metrics.height()), Qt::AlignRight | Qt::AlignTop,
                QStringLiteral("V"));
    dc.drawText(QRect(plot.right + 2, unitTop, margin, metrics.height()), Qt::AlignLeft | Qt::AlignTop,
                QStringLiteral("A"));
}

pslink::PlotRect Plot(int left, int top, int right, int bottom)
{
    return pslink::PlotRect{left, top, right, bottom};
}

} // namespace

void dsoDrawGrid(QPainter* dc, int left, int top, int right, int bottom, std::uint16_t, std::int16_t fullScale)
{
    const pslink::PlotRect plot = Plot(left, top, right, bottom);
    if (!dc || plot.isEmpty())
        return;
    dc->save();
    DrawGridFrame(*dc, plot, fullScale);
    dc->restore();
}

void dsoDrawGridRecord(QPainter* dc, int left, int top, int right, int bottom, std::uint16_t,
                       std::int16_t fullScale, std::int16_t timeScale, int viewOffset)
{
    const pslink::PlotRect plot = Plot(left, top, right, bottom);
    if (!dc || plot.isEmpty())
        return;
    dc->save();
    DrawGridFrame(*dc, plot, fullScale);
    if (const timescale::Scale* scale = timescale::At(timeScale)) {
        const int window = scale->window;
        // Time of each division line; thin the labels out where they would collide.
        const QFontMetrics metrics(dc->font());
        QStringList labels;
        int widest = 0;
        for (int k = 0; k <= kTimeDivisions; ++k) {
            labels.append(TimeLabel(static_cast<double>(viewOffset) + static_cast<double>(window) * k / kTimeDivisions,
                                    *scale));
            widest = std::max(widest, metrics.horizontalAdvance(labels.back()));
        }
        const int divisionPixels = std::max(1, plot.width() / kTimeDivisions);
        const int every = std::max(1, (widest + 6 + divisionPixels - 1) / divisionPixels);
        for (int k = 0; k <= kTimeDivisions; k += every) {
            const int x = plot.left + plot.width() * k / kTimeDivisions;
            int boxLeft = x - widest / 2 - 3;
            // Keep the first and the last label on the control.
            boxLeft = std::max(std::min(boxLeft, plot.right + 19 - (widest + 6)), plot.left - 19);
            dc->drawText(QRect(boxLeft, plot.bottom + 3, widest + 6, metrics.height()), Qt::AlignHCenter | Qt::AlignTop,
                         labels[k]);
        }
    }
    dc->restore();
}

void dsoDrawWave(QPainter* dc, int left, int top, int right, int bottom, const float* data, int count,
                 double minimum, double maximum, DsoColor colour)
{
    const pslink::PlotRect plot = Plot(left, top, right, bottom);
    if (!dc || !data || count < 1 || plot.isEmpty())
        return;
    // A user-mode run (at most 35 samples) fills the width one slot per second; a longer run is
    // squeezed so that all of it shows.
    const pslink::TimeAxis axis{0, std::max(count, plot::kLiveWindow) - 1};
    pslink::DrawTrace(*dc, plot, axis, data, 0, count, minimum, maximum, false, FromDsoColor(colour));
}

void dsoDrawWaveRecord(QPainter* dc, int left, int top, int right, int bottom, const float* data,
                       std::int16_t timeScale, int viewOffset, int total, double minimum, double maximum,
                       int lineStyle, DsoColor colour)
{
    const pslink::PlotRect plot = Plot(left, top, right, bottom);
    const int window = timescale::Window(timeScale);
    if (!dc || !data || total < 1 || window < 1 || plot.isEmpty())
        return;
    const pslink::TimeAxis axis{viewOffset, window};
    pslink::DrawTrace(*dc, plot, axis, data, 0, total, minimum, maximum, lineStyle == 0, FromDsoColor(colour));
}

void dsoDrawWaveMea(QPainter* dc, int left, int top, const char* text, int length, DsoColor colour)
{
    if (!dc || !text || length < 1)
        return;
    const QString label = QString::fromLatin1(text, static_cast<qsizetype>(length));
    dc->save();
    dc->setFont(LabelFont(13));
    const QFontMetrics metrics(dc->font());
    const QRect box(left, top, metrics.horizontalAdvance(label) + 6, metrics.height() + 2);
    // A black backing keeps the label readable where it crosses a trace.
    dc->fillRect(box, Qt::black);
    dc->setPen(FromDsoColor(colour));
    dc->drawText(box, Qt::AlignCenter, label);
    dc->restore();
}
