#pragma once

// The picture of a record window: the DataRecord page's wave display draws it and tarnwell-cli
// plot writes it to a file, so both show the same grid, colours and traces.

#include <QRect>
#include <QSize>

class QPainter;

namespace pslink {

/// What a record window shows. A trace whose data is nullptr (or whose count is 0) is not drawn.
struct RecordView
{
    int timeScale = 0;  ///< index 0..6 of device/TimeScales.h
    int viewOffset = 0; ///< first sample shown
    const float* volts = nullptr;
    int voltCount = 0;
    const float* amps = nullptr;
    int ampCount = 0;
    int lineStyle = 1; ///< 1 joins the samples, 0 holds each for its second
};

/// The plot rectangle of a wave picture of `size`: plot::kMargin in from every side.
QRect PlotArea(QSize size);

/// Draws the whole picture of `size` (logical pixels, from the painter's origin): black
/// background, the record grid with its time axis, the voltage trace in red, then the current
/// trace in yellow over it.
void DrawRecordPicture(QPainter& dc, QSize size, const RecordView& view);

} // namespace pslink
