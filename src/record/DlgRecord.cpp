#include "record/DlgRecord.h"

#include "device/FileKinds.h"
#include "device/TimeScales.h"
#include "device/draw/PlotScale.h"
#include "platform/Dialogs.h"
#include "widgets/Captions.h"
#include "widgets/ItemIds.h"

#include <QApplication>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

// Refilling must not reach the handlers: the drawing keeps what is in force.
void FillList(QComboBox& list, const QStringList& entries)
{
    const QSignalBlocker block(list);
    const int previous = list.currentIndex();
    list.clear();
    list.addItems(entries);
    list.setCurrentIndex(previous >= 0 && previous < entries.size() ? previous : 0);
}

QStringList TimeScaleTexts(bool bChinese)
{
    QStringList texts;
    for (const timescale::Scale& scale : timescale::kScales)
        texts << QString::fromUtf16(bChinese ? scale.chinese : scale.english);
    return texts;
}

// Restores the normal cursor however the load ends.
struct WaitCursor
{
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace

CDlgRecord::CDlgRecord(QWidget* parent) : QWidget(parent)
{
    BuildLayout();

    m_wave.InitBackBuffer();
    m_wave.m_bRecordMode = 1;
    m_supply.m_bDisplayMode = 1;
    m_wave.m_pSupply = &m_supply;

    ApplyLanguage(); // English until the main window hands over its flag
    {
        const QSignalBlocker block(m_cbDisplay);
        m_cbDisplay.addItems(CaptionList(captions::kRecordDisplay, false));
    }
    // Index 0 everywhere matches the wave display's defaults: broken line, 50 Sec, both traces.
    m_cbWaveType.setCurrentIndex(0);
    m_cbTimeScale.setCurrentIndex(0);
    m_cbDisplay.setCurrentIndex(0);

    m_scroll.setRange(0, 0);
    m_scroll.setSingleStep(1);
    // The picture follows the thumb when it is released, not while it is dragged.
    m_scroll.setTracking(false);
    m_scroll.setEnabled(false);
    m_scroll.hide();

    connect(&m_cbWaveType, &QComboBox::currentIndexChanged, this, &CDlgRecord::OnSelchangeWaveType);
    connect(&m_cbTimeScale, &QComboBox::currentIndexChanged, this, &CDlgRecord::OnSelchangeTimeScale);
    connect(&m_cbDisplay, &QComboBox::currentIndexChanged, this, &CDlgRecord::OnSelchangeDisplay);
    connect(m_btnOpen, &QPushButton::clicked, this, &CDlgRecord::OnBnClickedOpen);
    connect(&m_scroll, &QAbstractSlider::actionTriggered, this, &CDlgRecord::OnScrollAction);
    // The bar's context menu ("Scroll here") sets the value without an action; the picture must
    // follow it like a released thumb. Our own moves are made with the bar's signals blocked.
    connect(&m_scroll, &QAbstractSlider::valueChanged, this, [this](int value) {
        if (value != m_supply.m_nViewOffset.load())
            OnHScroll(SB_THUMBPOSITION, value);
    });
}

CDlgRecord::~CDlgRecord()
{
    // The wave display must not paint from a record that is going away.
    m_wave.m_pSupply = nullptr;
}

void CDlgRecord::BuildLayout()
{
    // Captions come from the caption tables (ApplyLanguage).
    auto label = [this](QLabel*& target, int nId) {
        target = new QLabel(this);
        target->setObjectName(ItemName(nId));
    };
    label(m_lblWaveType, IDC_WAVE_TYPE_LABEL);
    label(m_lblTimeScale, IDC_TIME_SCALE_LABEL);
    label(m_lblDisplay, IDC_DISPLAY_LABEL);
    label(m_lblFileName, IDC_FILE_NAME_LABEL);
    label(m_lblFileType, IDC_FILE_TYPE_LABEL);
    label(m_lblTotalTime, IDC_TOTAL_TIME_LABEL);
    m_btnOpen = new QPushButton(this);
    m_btnOpen->setObjectName(ItemName(IDC_OPEN));

    m_wave.setObjectName(ItemName(IDC_RECORD_WAVE));
    m_cbWaveType.setObjectName(ItemName(IDC_WAVE_TYPE));
    m_cbTimeScale.setObjectName(ItemName(IDC_TIME_SCALE));
    m_cbDisplay.setObjectName(ItemName(IDC_DISPLAY));
    m_edFileName.setObjectName(ItemName(IDC_FILE_NAME));
    m_edFileType.setObjectName(ItemName(IDC_FILE_TYPE));
    m_edTotalTime.setObjectName(ItemName(IDC_TOTAL_TIME));
    m_scroll.setObjectName(ItemName(IDC_SCROLL));
    for (QLineEdit* field : {&m_edFileName, &m_edFileType, &m_edTotalTime})
        field->setAlignment(Qt::AlignCenter);

    auto* form = new QGridLayout;
    form->setColumnStretch(1, 1);
    form->addWidget(m_lblWaveType, 0, 0);
    form->addWidget(&m_cbWaveType, 0, 1, 1, 2);
    form->addWidget(m_lblTimeScale, 1, 0);
    form->addWidget(&m_cbTimeScale, 1, 1, 1, 2);
    form->addWidget(m_lblDisplay, 2, 0);
    form->addWidget(&m_cbDisplay, 2, 1, 1, 2);
    form->addWidget(m_btnOpen, 3, 1, 1, 2);
    form->addWidget(m_lblFileName, 4, 0);
    form->addWidget(&m_edFileName, 4, 1, 1, 2);
    form->addWidget(m_lblFileType, 5, 0);
    form->addWidget(&m_edFileType, 5, 1, 1, 2);
    form->addWidget(m_lblTotalTime, 6, 0);
    form->addWidget(&m_edTotalTime, 6, 1);
    form->addWidget(new QLabel(QStringLiteral("S"), this), 6, 2);
    form->setRowStretch(7, 1);

    auto* waveColumn = new QVBoxLayout;
    waveColumn->setSpacing(2);
    m_wave.setMinimumSize(200, 150);
    m_wave.setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    waveColumn->addWidget(&m_wave, 1);
    m_scroll.setOrientation(Qt::Horizontal);
    // The bar keeps its place while hidden, so the plot does not move when it appears.
    QSizePolicy barPolicy = m_scroll.sizePolicy();
    barPolicy.setRetainSizeWhenHidden(true);
    m_scroll.setSizePolicy(barPolicy);
    waveColumn->addWidget(&m_scroll);

    auto* root = new QHBoxLayout(this);
    root->addLayout(form, 0);
    root->addLayout(waveColumn, 1);
    m_edFileName.setMinimumWidth(150);
}

void CDlgRecord::ApplyLanguage()
{
    const bool bChinese = IsChinese(m_pLanguage);
    ApplyCaptions(*this, captions::kRecord, bChinese);
    FillList(m_cbWaveType, CaptionList(captions::kRecordWaveTypes, bChinese));
    FillList(m_cbTimeScale, TimeScaleTexts(bChinese));
}

void CDlgRecord::OnSelchangeWaveType()
{
    const int selection = m_cbWaveType.currentIndex();
    if (selection == 0)
        m_wave.m_nLineStyle = 1;
    else if (selection == 1)
        m_wave.m_nLineStyle = 0;
    m_wave.update();
}

void CDlgRecord::OnSelchangeTimeScale()
{
    const int selection = m_cbTimeScale.currentIndex();
    if (selection < 0)
        return;
    m_wave.m_nTimeScale = static_cast<std::uint16_t>(selection);
    // The bar must describe the window now shown, not the one in force at the last Open.
    UpdateScrollRange();
    m_wave.update();
}

void CDlgRecord::OnSelchangeDisplay()
{
    switch (m_cbDisplay.currentIndex()) {
    case 0:
        m_wave.m_bShowVoltage = 1;
        m_wave.m_bShowCurrent = 1;
        break;
    case 1:
        m_wave.m_bShowVoltage = 1;
        m_wave.m_bShowCurrent = 0;
        break;
    case 2:
        m_wave.m_bShowVoltage = 0;
        m_wave.m_bShowCurrent = 1;
        break;
    default:
        break;
    }
    m_wave.update();
}

void CDlgRecord::OnBnClickedOpen()
{
    const std::optional<QString> path = platform::ChooseFile(filekinds::OpenFile());
    if (path) {
        // A name that is refused or a file that cannot be read is said; the page then keeps the
        // record and the fields it had, so they never name a file not shown.
        int loaded = 0;
        {
            // A refused name or an unreadable file fails at once with its message: no wait
            // cursor over that box.
            std::optional<WaitCursor> wait;
            if (filekinds::IsCsv(*path) && QFile(*path).open(QIODevice::ReadOnly))
                wait.emplace();
            const CResult result = m_supply.Load(*path, false);
            wait.reset();
            if (result.Failed())
                platform::MessageBox(result.Message());
            loaded = result.Ok() ? 1 : 0;
            if (loaded != 0)
                m_supply.ExpandProgram();
        }
        if (loaded != 0) {
            m_edFileName.setText(*path);
            m_edFileName.setToolTip(*path); // the field is narrower than most paths
            m_edFileType.setText(QStringLiteral("Data Record File"));
            m_edTotalTime.setText(QString::number(m_supply.m_nPointsPerCycle.load()));
        }
    }
    m_wave.m_bDrawWaves = 1;
    UpdateScrollRange();
    m_wave.update();
}

void CDlgRecord::UpdateScrollRange()
{
    const int points = m_supply.m_nPointsPerCycle.load();
    m_nScrollMax = timescale::MaxViewOffset(points, m_wave.m_nTimeScale);
    m_supply.m_nViewOffset = timescale::ClampViewOffset(points, m_wave.m_nTimeScale, m_supply.m_nViewOffset.load());
    // When the window (almost) holds the whole record there is no bar, and the window starts at 0.
    if (m_nScrollMax > 0) {
        const QSignalBlocker block(m_scroll);
        m_scroll.setRange(0, m_nScrollMax);
        m_scroll.setPageStep(timescale::Window(m_wave.m_nTimeScale));
        m_scroll.setValue(m_supply.m_nViewOffset.load());
        m_scroll.setEnabled(true);
        m_scroll.show();
    } else {
        const QSignalBlocker block(m_scroll);
        m_scroll.setRange(0, 0);
        m_scroll.setEnabled(false);
        m_scroll.hide();
    }
}

void CDlgRecord::OnScrollAction(int action)
{
    int request = SB_ENDSCROLL;
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        request = SB_LINELEFT;
        break;
    case QAbstractSlider::SliderSingleStepAdd:
        request = SB_LINERIGHT;
        break;
    case QAbstractSlider::SliderPageStepSub:
        request = SB_PAGELEFT;
        break;
    case QAbstractSlider::SliderPageStepAdd:
        request = SB_PAGERIGHT;
        break;
    case QAbstractSlider::SliderToMinimum:
        request = SB_LEFT;
        break;
    case QAbstractSlider::SliderToMaximum:
        request = SB_RIGHT;
        break;
    case QAbstractSlider::SliderMove:
        // Without tracking this arrives when the thumb is released (or the wheel turns).
        request = m_scroll.isSliderDown() ? SB_THUMBTRACK : SB_THUMBPOSITION;
        break;
    default:
        break;
    }
    OnHScroll(request, m_scroll.sliderPosition());
    // The bar applies its own idea of the action after this returns; make it ours.
    m_scroll.setSliderPosition(m_supply.m_nViewOffset.load());
}

void CDlgRecord::OnHScroll(int nSBCode, int nPos)
{
    int pos = m_scroll.value();
    switch (nSBCode) {
    case SB_LINELEFT:
        pos -= 1;
        break;
    case SB_LINERIGHT:
        pos += 1;
        break;
    case SB_THUMBPOSITION:
        pos = nPos;
        break;
    case SB_LEFT:
        pos = 0;
        break;
    case SB_RIGHT:
        pos = m_nScrollMax;
        break;
    default:
        break; // paging, dragging and the end of a scroll move nothing
    }
    pos = std::clamp(pos, 0, m_nScrollMax); // held to MaxViewOffset as the bar last took it
    m_supply.m_nViewOffset = pos;
    {
        const QSignalBlocker block(m_scroll);
        m_scroll.setValue(pos);
    }
    m_wave.update();
}

bool CDlgRecord::HitTestPlot(QPoint point)
{
    m_rcPageWindow = QRect(mapToGlobal(QPoint(0, 0)), size());
    m_rcWaveWindow = QRect(m_wave.mapToGlobal(QPoint(0, 0)), m_wave.size());
    m_rcPlotInPage = m_wave.m_rcPlot.translated(m_rcWaveWindow.topLeft() - m_rcPageWindow.topLeft());
    // QRect::contains keeps right() and bottom() inside: those are the last pixels of the plot,
    // and the pixel after them (left + width, top + height) is the edge that lies outside.
    m_wave.m_bShowReadout = m_rcPlotInPage.contains(point) ? 1 : 0;
    return m_wave.m_bShowReadout != 0;
}

void CDlgRecord::ReadoutFromPoint(QPoint point)
{
    const double left = m_rcPlotInPage.left();
    const double top = m_rcPlotInPage.top();
    const double width = m_rcPlotInPage.width();
    const double height = m_rcPlotInPage.height();
    if (width <= 0 || height <= 0)
        return;
    const long x = std::lround((point.x() - left) * 50.0 / width);
    const long volts = plot::kVoltsDivisions - std::lround((point.y() - top) * plot::kVoltsFullScale / height);
    m_wave.m_nReadoutX = static_cast<int>(std::clamp(x, 0L, 50L));
    m_wave.m_nReadoutVolts = static_cast<int>(std::clamp(volts, 0L, static_cast<long>(plot::kVoltsDivisions)));
}

void CDlgRecord::OnLButtonDown(QPoint point)
{
    if (HitTestPlot(point)) {
        ReadoutFromPoint(point);
        m_wave.m_bDrawWaves = 1;
        m_wave.update();
    }
}

void CDlgRecord::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        OnLButtonDown(event->position().toPoint());
    QWidget::mousePressEvent(event);
}
