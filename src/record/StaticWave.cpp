#include "record/StaticWave.h"

#include "device/NumberText.h"
#include "device/PowerSupply.h"
#include "device/TimeScales.h"

#include <QPainter>

#include <vector>

CStaticWave::CStaticWave(QWidget* parent) : QWidget(parent)
{
    // The whole picture is ours on every paint; Qt need not clear or compose behind it.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CStaticWave::~CStaticWave() = default;

void CStaticWave::InitBackBuffer()
{
    m_rcClient = rect();
    m_rcPlot = m_rcClient.adjusted(20, 20, -20, -20);
    m_bmpBack = QImage(m_rcClient.size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
    m_bmpBack.fill(Qt::black);
}

void CStaticWave::Render()
{
    // A resized control (or one painted before InitBackBuffer) takes its new geometry here, so
    // it never shows a stale or cut picture.
    if (m_rcClient != rect())
        InitBackBuffer();
    if (m_bmpScratch.size() != m_bmpBack.size())
        m_bmpScratch = QImage(m_bmpBack.size(), QImage::Format_RGB32);
    m_bmpScratch.fill(Qt::black);
    {
        QPainter dc(&m_bmpScratch);
        DrawGrid(dc);
        if (m_bDrawWaves) {
            if (m_bRecordMode)
                DrawRecordWaves(dc);
            else
                DrawLiveWaves(dc);
        }
    }
    m_bmpBack.swap(m_bmpScratch);
}

void CStaticWave::DrawGrid(QPainter& dc)
{
    const QRect& p = m_rcPlot;
    if (m_bRecordMode) {
        const int offset = m_pSupply ? m_pSupply->m_nViewOffset.load() : 0;
        dsoDrawGridRecord(&dc, p.left(), p.top(), p.left() + p.width(), p.top() + p.height(), m_gridB, m_gridA,
                          static_cast<std::int16_t>(m_nTimeScale), offset);
    } else {
        dsoDrawGrid(&dc, p.left(), p.top(), p.left() + p.width(), p.top() + p.height(), m_gridB, m_gridA);
    }
}

void CStaticWave::DrawLiveWaves(QPainter& dc)
{
    if (!m_pSupply || m_pSupply->m_nWindow < 1)
        return;
    const QRect& p = m_rcPlot;
    // Each copy is sized to the whole series under the supply's lock; the count drawn is the
    // count that copy returned.
    const int nVoltage = m_pSupply->CopySeries(m_afVoltage, 1);
    dsoDrawWave(&dc, p.left(), p.top(), p.left() + p.width(), p.top() + p.height(), m_afVoltage.data(), nVoltage, 0.0,
                kVoltageMax, kVoltageColour);
    const int nCurrent = m_pSupply->CopySeries(m_afCurrent, 2);
    dsoDrawWave(&dc, p.left(), p.top(), p.left() + p.width(), p.top() + p.height(), m_afCurrent.data(), nCurrent, 0.0,
                kCurrentMax, kCurrentColour);
}

void CStaticWave::DrawRecordWaves(QPainter& dc)
{
    if (m_pSupply) {
        const int n = m_pSupply->m_nPointsPerCycle;
        const int nOffset = m_pSupply->m_nViewOffset;
        const QRect& p = m_rcPlot;
        const auto nScale = static_cast<std::int16_t>(m_nTimeScale);
        if (n > 0) {
            // The count given to the library never exceeds what the copy holds, even if the
            // series and the record length disagree.
            if (m_bShowVoltage) {
                const int nCopied = m_pSupply->CopySeries(m_afVoltage, 1);
                dsoDrawWaveRecord(&dc, p.left(), p.top(), p.left() + p.width(), p.top() + p.height(),
                                  m_afVoltage.data(), nScale, nOffset, std::min(n, nCopied), 0.0, kVoltageMax,
                                  m_nLineStyle, kVoltageColour);
            }
            if (m_bShowCurrent) {
                const int nCopied = m_pSupply->CopySeries(m_afCurrent, 2);
                dsoDrawWaveRecord(&dc, p.left(), p.top(), p.left() + p.width(), p.top() + p.height(),
                                  m_afCurrent.data(), nScale, nOffset, std::min(n, nCopied), 0.0, kCurrentMax,
                                  m_nLineStyle, kCurrentColour);
            }
        }
    }
    if (m_bShowReadout)
        DrawReadout(dc);
}

QString CStaticWave::FormatReadout(std::uint16_t nTimeScale, std::uint32_t nFirst, int nX, int nVolts)
{
    const timescale::Scale* pScale = timescale::At(nTimeScale);
    if (pScale == nullptr)
        return {};
    // The first visible sample in the scale's unit (minutes and hours in single precision), plus
    // nX fiftieths of the window.
    const double fFirst = pScale->unit == timescale::kSeconds
                              ? static_cast<double>(nFirst)
                              : static_cast<double>(static_cast<float>(nFirst) / static_cast<float>(pScale->unit));
    const double fTime = fFirst + nX * pScale->readoutStep;
    QString strTime = pScale->readoutDecimals == 0 ? QString::number(static_cast<long long>(fTime))
                                                   : numtext::FixedText(fTime, pScale->readoutDecimals);
    strTime += QLatin1String(pScale->unit == timescale::kSeconds   ? "Sec"
                             : pScale->unit == timescale::kMinutes ? "Min"
                                                                   : "h");
    return strTime + QLatin1Char(' ') + QString::number(nVolts) + QLatin1String("V ") +
           numtext::FixedText(nVolts * plot::kAmpsPerVolt, 1) + QLatin1Char('A');
}

void CStaticWave::DrawReadout(QPainter& dc)
{
    const std::uint32_t nFirst = m_pSupply ? static_cast<std::uint32_t>(m_pSupply->m_nViewOffset.load()) : 0u;
    const QString strLabel = FormatReadout(m_nTimeScale, nFirst, m_nReadoutX, m_nReadoutVolts);
    // The label is plain ASCII; anything else (or nothing) leaves it out.
    const QByteArray abLabel = strLabel.toLatin1();
    if (abLabel.isEmpty() || abLabel.size() != strLabel.size())
        return;
    dsoDrawWaveMea(&dc, m_rcPlot.left(), m_rcPlot.top(), abLabel.constData(), static_cast<int>(abLabel.size()),
                   kTextColour);
}

void CStaticWave::OnPaint()
{
    Render();
    QPainter dc(this);
    dc.drawImage(0, 0, m_bmpBack);
}

void CStaticWave::paintEvent(QPaintEvent*)
{
    OnPaint();
}
