#pragma once

// The device library's drawing face: grid and wave drawing on a QPainter (the device context).
// The plot rectangle's right and bottom are its far border lines.

#include <cstdint>

class QPainter;

/// Colour in the 0x00BBGGRR layout the drawing functions take.
using DsoColor = std::uint32_t;
constexpr DsoColor DsoRgb(int r, int g, int b)
{
    return static_cast<DsoColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}

/// Live-mode grid in the plot rectangle: 0..35 V on the left, 0..7 A on the right.
void dsoDrawGrid(QPainter* dc, int left, int top, int right, int bottom, std::uint16_t divisionsX,
                 std::int16_t fullScale);
/// Record-mode grid with a time axis for time-scale index `timeScale` (0..6) from `viewOffset`.
void dsoDrawGridRecord(QPainter* dc, int left, int top, int right, int bottom, std::uint16_t divisionsX,
                       std::int16_t fullScale, std::int16_t timeScale, int viewOffset);
/// Live-mode trace of `count` samples scaled from `minimum` (bottom) to `maximum` (top).
void dsoDrawWave(QPainter* dc, int left, int top, int right, int bottom, const float* data, int count,
                 double minimum, double maximum, DsoColor colour);
/// Record-mode trace: the window of time scale `timeScale` starting at sample `viewOffset`;
/// `total` samples exist in `data`. `lineStyle` 1 joins samples, 0 holds each for one second.
void dsoDrawWaveRecord(QPainter* dc, int left, int top, int right, int bottom, const float* data,
                       std::int16_t timeScale, int viewOffset, int total, double minimum, double maximum,
                       int lineStyle, DsoColor colour);
/// Draws `length` characters of `text` with its top-left corner at (`left`, `top`).
void dsoDrawWaveMea(QPainter* dc, int left, int top, const char* text, int length, DsoColor colour);
