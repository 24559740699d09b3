// Grid and wave drawing of the device library.
#include "device/pslink.h"

#include <QPainter>

void dsoDrawGrid(QPainter*, int, int, int, int, std::uint16_t, std::int16_t) {}
void dsoDrawGridRecord(QPainter*, int, int, int, int, std::uint16_t, std::int16_t, std::int16_t, int) {}
void dsoDrawWave(QPainter*, int, int, int, int, const float*, int, double, double, DsoColor) {}
void dsoDrawWaveRecord(QPainter*, int, int, int, int, const float*, std::int16_t, int, int, double, double, int,
                       DsoColor)
{
}
void dsoDrawWaveMea(QPainter*, int, int, const char*, int, DsoColor) {}
