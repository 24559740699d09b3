// The Control page's command queue, its worker thread and the commands it executes. The worker
// talks to the supply itself; every control it changes is changed on the UI thread (OnUi).
#include "control/DlgControl.h"

#include "device/NumberText.h"
#include "device/SupplyLimits.h"
#include "platform/Dialogs.h"
#include "widgets/Captions.h"
#include "widgets/EditEX.h"
#include "widgets/StaticWave.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <chrono>
#include <vector>


void CDlgControl::PushCommand(std::int16_t nCode, std::int32_t nValue)
{
    m_qCommands.Push({nCode, nValue});
}

ControlCommand CDlgControl::PopCommand()
{
    return m_qCommands.Pop();
}

void CDlgControl::WorkerThreadProc()
{
    while (!m_bStop.load()) {
        for (ControlCommand cmd = PopCommand(); cmd.code != CMD_NONE && !m_bStop.load(); cmd = PopCommand())
            ExecuteCommand(cmd.code, cmd.value);
        if (m_bStop.load())
            break;

        if (m_bDescribePorts.exchange(0) != 0)
            DescribePorts();
        m_hUi.Post([this] { m_wave->update(); });
        ++m_nPass;

        std::unique_lock<std::mutex> guard(m_hSleepLock);
        m_cvWake.wait_for(guard, std::chrono::milliseconds(kWorkerSleepMs), [this] { return m_bStop.load() != 0; });
    }
}

void CDlgControl::ExecuteCommand(std::int16_t nCode, std::int32_t /*nValue*/)
{
    switch (nCode) {
    case CMD_CONNECT:
        ConnectOrDisconnect();
        break;
    case CMD_UP:
        StepPreset(true);
        break;
    case CMD_DOWN:
        StepPreset(false);
        break;
    case CMD_ON:
        StartRun();
        break;
    case CMD_OFF:
        OnUi([this] { m_engine.Run().EndRun(CRun::kEndStopped); });
        break;
    case CMD_APPLY: {
        float fVolts = 0.0f;
        float fAmps = 0.0f;
        int bVoltage = 0;
        if (!OnUi([&] {
                fVolts = m_edVoltage->m_fValue;
                fAmps = m_edCurrent->m_fValue;
                bVoltage = m_bVoltageSelected.load();
            }))
            break;
        m_engine.Commands().SetSetpoint(fVolts, fAmps, bVoltage);
        OnUi([this] {
            SetShown(m_btnOk, false);
            SetShown(m_btnOn, true);
            SetShown(m_btnOff, true);
        });
        break;
    }
    default:
        break;
    }
}

void CDlgControl::ConnectOrDisconnect()
{
    if (m_bConnected.load()) {
        // A run reads the supply every second: end it before the link goes, so nothing is read
        // from a closed link and recorded as data.
        OnUi([this] {
            if (m_engine.Run().IsRunning())
                m_engine.Run().EndRun(CRun::kEndStopped);
        });
        m_engine.Connector().Disconnect();
        OnUi([this] { ShowDisconnectedState(); });
        return;
    }
    // A page closing right after the worker took Connect never starts it.
    const CResult connected = m_engine.Connector().Connect(CConnector::kConnectFull, &m_bStop);
    if (connected.nKind == CResult::kAborted)
        return;
    if (!connected.Ok()) {
        // A port that could not be opened is said, with what to do about it; a supply that is
        // there but silent only shows the disconnected state.
        OnUi([this, connected] {
            ShowDisconnectedState();
            if (connected.nKind == CResult::kNoPort)
                platform::MessageBox(connected.Message());
        });
        return;
    }
    m_bVoltageSelected = 1;
    OnUi([this] { ShowConnectedState(); });
}

void CDlgControl::StartRun()
{
    QString strPath;
    QString strCycles;
    bool bLinked = false;
    const bool bStarted = OnUi([&] {
        // An ON queued behind a disconnect finds no link: a run would only clear the last run's
        // samples (a program run also its record rows) and then end at its first tick.
        bLinked = m_bConnected.load() != 0;
        if (!bLinked)
            return;
        // Running from here on: a Program mode click now is refused, so its count-only load never
        // meets the load below.
        m_engine.Run().BeginRun();
        SetEnabled(m_btnOff, true);
        SetEnabled(m_btnOn, false);
        SetEnabled(m_btnSaveData, false);
        strPath = m_strProgramPath;
        strCycles = m_edCycles->text();
    });
    if (!bStarted || !bLinked)
        return;
    const bool bProgram = m_supply.m_bProgramMode.load() != 0;
    const int nCycles = bProgram ? static_cast<int>(numtext::ParseInt(strCycles)) : 0;
    // A long program loads here, off the UI thread; a file that cannot be read is said, and the
    // run goes on with what the supply object holds.
    const CResult loaded = m_engine.Run().PrepareRun(bProgram, strPath, nCycles);
    OnUi([this, loaded, bProgram] {
        if (loaded.Failed())
            platform::MessageBox(loaded.Message());
        m_engine.Run().StartTimer(bProgram ? CRun::kProgramTimer : CRun::kUserTimer);
    });
}

void CDlgControl::StepPreset(bool bUp)
{
    float fVolts = 0.0f;
    float fAmps = 0.0f;
    int bVoltage = 0;
    // The presets are the fields' values, which the wheel changes on the UI thread: step them
    // there too, and mark the step there together with the text it writes, so a keystroke
    // handled in between is never taken for the step.
    const bool bDone = OnUi([&] {
        bVoltage = m_bVoltageSelected.load();
        CEditEX* field = bVoltage ? m_edVoltage : m_edCurrent;
        const int nStep = m_cbStep->currentIndex();
        // An index outside the table (no selection) steps by 0: the preset stays.
        const float fValue = supply::StepValue(field->m_fValue, nStep, bVoltage != 0, bUp);
        field->m_fValue = fValue;
        (bUp ? m_bUpStep : m_bDownStep) = 1;
        SetPresetText(field, numtext::FixedText(field->m_fValue, supply::Decimals(bVoltage != 0)));
        fVolts = m_edVoltage->m_fValue;
        fAmps = m_edCurrent->m_fValue;
    });
    if (bDone)
        m_engine.Commands().SetSetpoint(fVolts, fAmps, bVoltage);
}

void CDlgControl::ShowConnectedState()
{
    m_bConnected = 1;
    SetEnabled(m_edVoltage, true);
    SetEnabled(m_edCurrent, true);
    SetEnabled(m_cbStep, true);
    m_cbStep->setCurrentIndex(m_nInitStep);
    SetEnabled(m_btnUp, true);
    SetEnabled(m_btnDown, true);
    SetEnabled(m_btnOff, false);
    SetEnabled(m_btnOn, true);
    SetEnabled(m_btnOk, true);
    SelectUserMode();
    SetEnabled(m_rbUser, true);
    SetEnabled(m_rbProgram, true);

    ApplyCaptions(*this, captions::kControlConnected, ::IsChinese(m_pLanguage));
}

void CDlgControl::ShowDisconnectedState()
{
    m_bConnected = 0;
    SetEnabled(m_edVoltage, false);
    SetEnabled(m_edCurrent, false);
    SetEnabled(m_cbStep, false);
    m_cbStep->setCurrentIndex(m_nInitStep);
    for (QWidget* w : std::initializer_list<QWidget*>{m_btnUp, m_btnDown, m_btnOff, m_btnOn, m_btnOk})
        SetEnabled(w, false);
    SelectUserMode();
    SetEnabled(m_rbUser, false);
    SetEnabled(m_rbProgram, false);

    ApplyCaptions(*this, captions::kControlDisconnected, ::IsChinese(m_pLanguage));
    // A port may have appeared or gone meanwhile.
    m_bDescribePorts = 1;
}

void CDlgControl::DescribePorts()
{
    std::vector<QString> tips;
    for (int i = 0; i < CPortsView::Count(); ++i)
        tips.push_back(CPortsView::Describe(i));
    OnUi([this, &tips] {
        for (int i = 0; i < m_cbPort->count() && i < static_cast<int>(tips.size()); ++i)
            m_cbPort->setItemData(i, tips[static_cast<size_t>(i)], Qt::ToolTipRole);
    });
}
