#include "widgets/StaticWave.h"

#include "device/NumberText.h"
#include "device/PowerSupply.h"
#include "device/TimeScales.h"
#include "device/draw/PictureFile.h"
#include "device/draw/RecordPicture.h"

#include <QPainter>
#include <QtMath>

#include <algorithm>
#include <vector>

CStaticWave::CStaticWave(QWidget* parent) : QWidget(parent), m_actSavePicture(QStringLiteral("Save Picture..."))
{
    // The whole picture is ours on every paint; Qt need not clear or compose behind it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(&m_actSavePicture, &QAction::triggered, this, &CStaticWave::OnSavePicture);
    addAction(&m_actSavePicture);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

CStaticWave::~CStaticWave() = default;

void CStaticWave::InitBackBuffer()
{
    ResizeBackBuffer(devicePixelRatioF());
}

void CStaticWave::ResizeBackBuffer(qreal fPixelRatio)
{
    m_rcClient = rect();
    m_rcPlot = pslink::PlotArea(m_rcClient.size());
    // One buffer pixel per device pixel: on a 200 % screen text and lines stay as sharp as the
    // widgets around them instead of being scaled up from logical pixels.
    const QSize logical = m_rcClient.size().expandedTo(QSize(1, 1));
    m_bmpBack = QImage(QSize(qCeil(logical.width() * fPixelRatio), qCeil(logical.height() * fPixelRatio)),
                       QImage::Format_RGB32);
    m_bmpBack.setDevicePixelRatio(fPixelRatio);
    m_bmpBack.fill(Qt::black);
}

void CStaticWave::Render()
{
    Render(devicePixelRatioF());
}

void CStaticWave::Render(qreal fPixelRatio)
{
    // A resized control, one moved to a screen of another density, or one painted before
    // InitBackBuffer takes its new geometry here, so it never shows a stale or cut picture.
    if (m_rcClient != rect() || m_bmpBack.devicePixelRatio() != fPixelRatio)
        ResizeBackBuffer(fPixelRatio);
    if (m_bmpScratch.size() != m_bmpBack.size())
        m_bmpScratch = QImage(m_bmpBack.size(), QImage::Format_RGB32);
    m_bmpScratch.setDevicePixelRatio(fPixelRatio);
    {
        QPainter dc(&m_bmpScratch);
        Paint(dc);
    }
    m_bmpBack.swap(m_bmpScratch);
}

void CStaticWave::Paint(QPainter& dc)
{
    if (m_bRecordMode)
        DrawRecord(dc);
    else
        DrawLive(dc);
}

void CStaticWave::DrawLive(QPainter& dc)
{
    dc.fillRect(m_rcClient, Qt::black);
    const QRect& p = m_rcPlot;
    dsoDrawGrid(&dc, p.left(), p.top(), p.left() + p.width(), p.top() + p.height(), m_gridB, m_gridA);
    if (!m_bDrawWaves || !m_pSupply || m_pSupply->m_nWindow < 1)
        return;
    // Each copy is sized to the whole series under the supply's lock; the count drawn is the
    // count that copy returned.
    const int nVoltage = m_pSupply->CopySeries(m_afVoltage, 1);
    dsoDrawWave(&dc, p.left(), p.top(), p.left() + p.width(), p.top() + p.height(), m_afVoltage.data(), nVoltage, 0.0,
                kVoltageMax, kVoltageColour);
    const int nCurrent = m_pSupply->CopySeries(m_afCurrent, 2);
    dsoDrawWave(&dc, p.left(), p.top(), p.left() + p.width(), p.top() + p.height(), m_afCurrent.data(), nCurrent, 0.0,
                kCurrentMax, kCurrentColour);
}

void CStaticWave::DrawRecord(QPainter& dc)
{
    pslink::RecordView view;
    view.timeScale = static_cast<std::int16_t>(m_nTimeScale);
    view.lineStyle = m_nLineStyle;
    view.viewOffset = m_pSupply ? m_pSupply->m_nViewOffset.load() : 0;
    const int n = m_pSupply && m_bDrawWaves ? m_pSupply->m_nPointsPerCycle.load() : 0;
    if (n > 0) {
        // The count given to the library never exceeds what the copy holds, even if the series
        // and the record length disagree.
        if (m_bShowVoltage) {
            view.voltCount = std::min(n, m_pSupply->CopySeries(m_afVoltage, 1));
            view.volts = m_afVoltage.data();
        }
        if (m_bShowCurrent) {
            view.ampCount = std::min(n, m_pSupply->CopySeries(m_afCurrent, 2));
            view.amps = m_afCurrent.data();
        }
    }
    pslink::DrawRecordPicture(dc, m_rcClient.size(), view);
    if (m_bDrawWaves && m_bShowReadout)
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

platform::FileDialogRequest CStaticWave::SavePictureRequest()
{
    return {true, QStringLiteral("Save Picture As..."),
            QStringLiteral("PNG Picture(*.png)|*.png|SVG Drawing(*.svg)|*.svg|PDF Document(*.pdf)|*.pdf||"),
            QStringLiteral(".png")};
}

QString CStaticWave::SavePicture(const QString& strPath)
{
    if (m_rcClient != rect())
        InitBackBuffer();
    return pslink::WritePicture(strPath, m_rcClient.size(), devicePixelRatioF(), [this](QPainter& dc) { Paint(dc); });
}

void CStaticWave::OnSavePicture()
{
    const std::optional<QString> path = platform::ChooseFile(SavePictureRequest());
    if (!path)
        return;
    const QString strError = SavePicture(*path);
    if (!strError.isEmpty())
        platform::MessageBox(QStringLiteral("Cannot save the picture %1: %2").arg(*path, strError));
}

void CStaticWave::paintEvent(QPaintEvent*)
{
    OnPaint();
}
