#include "record/StaticWave.h"

#include "device/PowerSupply.h"

#include <QPainter>

CStaticWave::CStaticWave(QWidget* parent) : QWidget(parent) {}

CStaticWave::~CStaticWave() = default;

void CStaticWave::InitBackBuffer()
{
    m_rcClient = rect();
    m_rcPlot = m_rcClient.adjusted(20, 20, -20, -20);
    m_bmpBack = QImage(m_rcClient.size(), QImage::Format_RGB32);
    m_bmpBack.fill(Qt::black);
}

void CStaticWave::Render() {}
void CStaticWave::DrawGrid(QPainter&) {}
void CStaticWave::DrawLiveWaves(QPainter&) {}
void CStaticWave::DrawRecordWaves(QPainter&) {}
void CStaticWave::DrawReadout(QPainter&) {}
void CStaticWave::OnPaint() {}

void CStaticWave::Invalidate()
{
    QMetaObject::invokeMethod(this, [this] { update(); }, Qt::QueuedConnection);
}

QString CStaticWave::FormatReadout(std::uint16_t, std::uint32_t, int, int)
{
    return {};
}

void CStaticWave::paintEvent(QPaintEvent*)
{
    OnPaint();
}
