#include "device/draw/RecordPicture.h"

#include "device/draw/Draw.h"
#include "device/draw/PlotScale.h"

#include <QPainter>

namespace pslink {

QRect PlotArea(QSize size)
{
    return QRect(QPoint(0, 0), size).adjusted(plot::kMargin, plot::kMargin, -plot::kMargin, -plot::kMargin);
}

void DrawRecordPicture(QPainter& dc, QSize size, const RecordView& view)
{
    dc.fillRect(QRect(QPoint(0, 0), size), Qt::black);
    const QRect p = PlotArea(size);
    const int right = p.left() + p.width();
    const int bottom = p.top() + p.height();
    const auto scale = static_cast<std::int16_t>(view.timeScale);
    dsoDrawGridRecord(&dc, p.left(), p.top(), right, bottom, plot::kGridDivisions, plot::kVoltsDivisions, scale,
                      view.viewOffset);
    if (view.volts && view.voltCount > 0)
        dsoDrawWaveRecord(&dc, p.left(), p.top(), right, bottom, view.volts, scale, view.viewOffset, view.voltCount,
                          0.0, plot::kVoltsFullScale, view.lineStyle, plot::kVoltageColour);
    if (view.amps && view.ampCount > 0)
        dsoDrawWaveRecord(&dc, p.left(), p.top(), right, bottom, view.amps, scale, view.viewOffset, view.ampCount,
                          0.0, plot::kAmpsFullScale, view.lineStyle, plot::kCurrentColour);
}

} // namespace pslink
