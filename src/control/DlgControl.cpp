// The Control page: construction and teardown, bound values, and the handlers that only touch
// the page. Controls and captions live in DlgControlView.cpp, the worker and its commands in
// DlgControlWorker.cpp, the mode radios and what the run engine reports in DlgControlRun.cpp.
#include "control/DlgControl.h"

#include "device/NumberText.h"
#include "platform/Dialogs.h"
#include "widgets/EditEX.h"
#include "widgets/StaticWave.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>


namespace {

// Rewrites a field only when its text differs, as the write-back of bound values does.
void SetTextIfDiffers(QLineEdit* edit, const QString& text)
{
    if (edit->text() != text)
        edit->setText(text);
}

} // namespace

CDlgControl::CDlgControl(QWidget* parent) : QWidget(parent)
{
    CreateControls();
    LayOutControls();
    ConnectControls();
    UpdateData(false);
    OnInitDialog();
}

void CDlgControl::OnInitDialog()
{
    m_bVoltageSelected = 1;
    m_edVoltage->setEnabled(false);
    m_edVoltage->m_bVoltage = 1;
    m_edVoltage->setMaxLength(5);
    m_edVoltage->m_fValue = supply::kInitialVolts;
    m_edVoltage->setText(QString::number(supply::kInitialVolts));
    m_edCurrent->setEnabled(false);
    m_edCurrent->m_bVoltage = 0;
    m_edCurrent->setMaxLength(5);
    m_edCurrent->m_fValue = supply::kInitialAmps;
    m_edCurrent->setText(QString::number(supply::kInitialAmps));
    m_cbStep->setEnabled(false);
    m_cbStep->setCurrentIndex(m_nInitStep);
    for (QWidget* w : std::initializer_list<QWidget*>{m_btnUp, m_btnDown, m_chkCv, m_chkOvp, m_chkOut, m_chkCc, m_chkOcp})
        w->setEnabled(false);
    m_btnOff->show();
    m_btnOn->show();
    m_btnOff->setEnabled(false);
    m_btnOn->setEnabled(false);
    m_btnOk->hide();
    m_rbUser->setEnabled(false);
    m_rbUser->setChecked(true);
    m_rbProgram->setEnabled(false);
    for (QWidget* w : std::initializer_list<QWidget*>{m_edProgramFile, m_edTotalTime, m_edCycles, m_btnSaveData})
        w->setEnabled(false);
    m_cbLanguage->setCurrentIndex(0);
    m_wave->InitBackBuffer();
    m_wave->m_pSupply = &m_supply;
    m_hThread = std::thread([this] { WorkerThreadProc(); });
}

CDlgControl::~CDlgControl()
{
    {
        std::lock_guard<std::mutex> guard(m_hSleepLock);
        m_bStop = 1;
    }
    // Release a worker that waits on us before waiting on it; a program it is loading stops
    // between two chunks of the file.
    m_supply.m_bAbortLoad = 1;
    m_hUi.Close();
    m_cvWake.notify_all();
    // A connect waiting on a silent supply ends at once when its link closes, so closing the
    // window never waits out the identity probes; the link is closed for good after the join.
    m_engine.Connector().Abort();
    if (m_hThread.joinable())
        m_hThread.join();
    // The run ends with the page; nothing is shown any more.
    disconnect(&m_engine.Run(), nullptr, this, nullptr);
    disconnect(&m_engine.Watch(), nullptr, this, nullptr);
    m_engine.Run().EndRun(CRun::kEndInterrupted);
    m_engine.Connector().Disconnect();
    m_edVoltage->removeEventFilter(this);
    m_edCurrent->removeEventFilter(this);
    m_wave->m_pSupply = nullptr;
}

// ---- Bound values ----

int CDlgControl::ReadBoundValues()
{
    m_strMeasVoltage = m_edMeasVoltage->text();
    m_strMeasCurrent = m_edMeasCurrent->text();
    int nRead = 2;
    const QString number = QStringLiteral("Please enter a number.");
    const QString integer = QStringLiteral("Please enter an integer.");
    struct Step
    {
        std::function<bool()> read;
        const QString& prompt;
    };
    const Step steps[] = {
        {[&] { return numtext::ParseWhole(m_edVoltage->text(), m_fTypedVoltage); }, number},
        {[&] { return numtext::ParseWhole(m_edCurrent->text(), m_fTypedCurrent); }, number},
        {[&] { return numtext::ParseWhole(m_edElapsed->text(), m_nElapsed); }, integer},
        {[&] { return numtext::ParseWhole(m_edTotalTime->text(), m_nTotalTime); }, integer},
        {[&] { return numtext::ParseWhole(m_edCycles->text(), m_nCycleCount); }, integer},
    };
    for (const Step& step : steps) {
        if (!step.read()) {
            platform::MessageBox(step.prompt);
            return nRead;
        }
        ++nRead;
    }
    return nRead;
}

bool CDlgControl::UpdateData(bool bSaveAndValidate)
{
    if (bSaveAndValidate)
        return ReadBoundValues() == kBoundValues;
    SetTextIfDiffers(m_edMeasVoltage, m_strMeasVoltage);
    SetTextIfDiffers(m_edMeasCurrent, m_strMeasCurrent);
    SetTextIfDiffers(m_edVoltage, QString::number(static_cast<double>(m_fTypedVoltage), 'g', 6));
    SetTextIfDiffers(m_edCurrent, QString::number(static_cast<double>(m_fTypedCurrent), 'g', 6));
    SetTextIfDiffers(m_edElapsed, QString::number(m_nElapsed));
    SetTextIfDiffers(m_edTotalTime, QString::number(m_nTotalTime));
    SetTextIfDiffers(m_edCycles, QString::number(m_nCycleCount));
    return true;
}

// ---- Handlers that queue commands ----

void CDlgControl::OnBnClickedConnect()
{
    PushCommand(CMD_CONNECT, 0);
}

void CDlgControl::OnBnClickedUp()
{
    PushCommand(CMD_UP, 0);
}

void CDlgControl::OnBnClickedDown()
{
    PushCommand(CMD_DOWN, 0);
}

void CDlgControl::OnBnClickedOn()
{
    PushCommand(CMD_ON, 0);
}

void CDlgControl::OnBnClickedOff()
{
    PushCommand(CMD_OFF, 0);
}

void CDlgControl::OnBnClickedOk()
{
    const int nRead = ReadBoundValues();
    const bool bVoltage = m_bVoltageSelected.load() != 0;
    // A selected preset whose field held no number is not applied: the operator was just told
    // so, and the supply must not get a stale value instead.
    if (nRead <= (bVoltage ? kVoltageField : kCurrentField))
        return;
    // No lower clamp here: a typed preset cannot be negative.
    if (bVoltage) {
        m_fTypedVoltage = supply::ClampAbove(m_fTypedVoltage, true);
        m_edVoltage->m_fValue = m_fTypedVoltage;
    } else {
        m_fTypedCurrent = supply::ClampAbove(m_fTypedCurrent, false);
        m_edCurrent->m_fValue = m_fTypedCurrent;
    }
    // The write-back is the page's own doing: it must not move the selection (and with it what
    // the queued apply sends) to the other field.
    m_bWritingBack = true;
    UpdateData(false);
    m_bWritingBack = false;
    PushCommand(CMD_APPLY, 0);
}

// ---- Preset fields and step list ----

bool CDlgControl::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        if (watched == m_edVoltage)
            OnSetfocusVoltage();
        else if (watched == m_edCurrent)
            OnSetfocusCurrent();
    }
    return QWidget::eventFilter(watched, event);
}

void CDlgControl::OnSetfocusVoltage()
{
    m_bVoltageSelected = 1;
    FillStepList(true);
    m_cbStep->setCurrentIndex(m_edVoltage->m_nStep);
    m_lblStepUnit->setText(QStringLiteral("V"));
}

void CDlgControl::OnSetfocusCurrent()
{
    m_bVoltageSelected = 0;
    FillStepList(false);
    m_cbStep->setCurrentIndex(m_edCurrent->m_nStep);
    m_lblStepUnit->setText(QStringLiteral("A"));
}

bool CDlgControl::PresetChangeFromProgram(const CEditEX* field) const
{
    // A program run keeps writing the presets even after a mode click; that is never typing.
    return m_bUpStep.load() || m_bDownStep.load() || field->m_bWheelChanged || m_supply.m_bProgramMode.load() ||
           m_engine.Run().RunTimer() == kProgramTimer;
}

void CDlgControl::OnPresetChanged(bool bFromProgram)
{
    if (bFromProgram) {
        SetShown(m_btnOk, false);
        SetShown(m_btnOn, true);
        SetShown(m_btnOff, true);
        m_bUpStep = 0;
        m_bDownStep = 0;
    } else {
        SetShown(m_btnOk, true);
        SetShown(m_btnOn, false);
        SetShown(m_btnOff, false);
    }
}

void CDlgControl::OnChangeVoltage()
{
    if (m_bWritingBack)
        return;
    OnPresetChanged(PresetChangeFromProgram(m_edVoltage));
    m_bVoltageSelected = 1;
}

void CDlgControl::OnChangeCurrent()
{
    if (m_bWritingBack)
        return;
    OnPresetChanged(PresetChangeFromProgram(m_edCurrent));
    m_bVoltageSelected = 0;
}

void CDlgControl::FillStepList(bool bVoltage)
{
    m_cbStep->clear();
    for (const supply::Step& step : supply::Steps(bVoltage))
        m_cbStep->addItem(QString::fromLatin1(step.text));
}

void CDlgControl::OnSelchangeStep()
{
    CEditEX* field = m_bVoltageSelected ? m_edVoltage : m_edCurrent;
    field->m_nStep = static_cast<std::int16_t>(m_cbStep->currentIndex());
}

void CDlgControl::OnSelchangePort()
{
    // Stored at once; Connect reads it, so it takes effect at the next connect.
    m_supply.m_nPort = static_cast<std::int16_t>(std::max(0, m_cbPort->currentIndex()));
}

// ---- Small helpers ----

void CDlgControl::SetEnabled(QWidget* widget, bool bEnable)
{
    // Park the focus on the page first: Qt would pass it on to the next control, whose focus
    // handler (a preset field's) would change the selected preset behind the operator's back.
    if (!bEnable && widget->hasFocus())
        setFocus(Qt::OtherFocusReason);
    widget->setEnabled(bEnable);
}

void CDlgControl::SetPresetText(QLineEdit* field, const QString& strText)
{
    if (field->text() == strText)
        Q_EMIT field->textChanged(strText);
    else
        field->setText(strText);
}

void CDlgControl::SetShown(QWidget* widget, bool bShow)
{
    if (!bShow && widget->hasFocus())
        setFocus(Qt::OtherFocusReason);
    widget->setVisible(bShow);
}
