// The Control page's command queue, its worker thread and the commands it executes. The worker
// talks to the supply itself; every control it changes is changed on the UI thread (OnUi).
#include "control/DlgControl.h"

#include "control/EditEX.h"
#include "device/pslink.h"
#include "record/StaticWave.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <chrono>

void CDlgControl::PushCommand(std::int16_t nCode, std::int32_t nValue)
{
    m_queue.Push({nCode, nValue});
}

ControlCommand CDlgControl::PopCommand()
{
    return m_queue.Pop();
}

void CDlgControl::WorkerThreadProc()
{
    while (!m_bStop.load()) {
        for (ControlCommand cmd = PopCommand(); cmd.code != CMD_NONE && !m_bStop.load(); cmd = PopCommand())
            ExecuteCommand(cmd.code, cmd.value);
        if (m_bStop.load())
            break;

        if (m_supply.m_bFinished.exchange(0) != 0) {
            OnUi([this] {
                KillTimer(kProgramTimer);
                if (m_nRunTimer.load() == kProgramTimer)
                    EndRun();
            });
        }
        m_ui.Post([this] { m_wave->update(); });
        ++m_nPass;

        std::unique_lock<std::mutex> guard(m_sleepLock);
        m_wake.wait_for(guard, std::chrono::milliseconds(kWorkerSleepMs), [this] { return m_bStop.load() != 0; });
    }
}

void CDlgControl::ExecuteCommand(std::int16_t nCode, std::int32_t /*nValue*/)
{
    const int device = m_supply.m_nDevice;
    switch (nCode) {
    case CMD_CONNECT:
        if (m_bConnected.load()) {
            // A run reads the supply every second: end it before the link goes, so nothing is
            // read from a closed link and recorded as data.
            OnUi([this] {
                if (m_bRunning.load())
                    EndRun();
            });
            CloseCOM(device);
            OnUi([this] { ShowDisconnectedState(); });
        } else {
            int nConnected = 0;
            {
                std::lock_guard<std::mutex> guard(m_hSupplyLock);
                m_supply.m_nPort = static_cast<std::int16_t>(m_nPortSelected.load());
                m_bConnecting = 1;
                nConnected = m_supply.Connect();
                m_bConnecting = 0;
            }
            if (nConnected == 0) {
                CloseCOM(device);
                OnUi([this] { ShowDisconnectedState(); });
            } else {
                m_bVoltageSelected = 1;
                OnUi([this] { ShowConnectedState(); });
            }
        }
        break;
    case CMD_UP:
        StepPreset(true);
        break;
    case CMD_DOWN:
        StepPreset(false);
        break;
    case CMD_ON: {
        QString strPath;
        QString strCycles;
        bool bLinked = false;
        const bool bStarted = OnUi([&] {
            // An ON queued behind a disconnect finds no link: a run would only clear the last
            // run's samples (a program run also its record rows) and then end at its first tick.
            bLinked = m_bConnected.load() != 0;
            if (!bLinked)
                return;
            if (m_bRunning.load())
                EndRun(); // never two runs, never an orphaned timer
            // Running from here on: a Program mode click now is refused, so its count-only load
            // never meets the load below.
            m_bRunning = 1;
            SetEnabled(m_btnOff, true);
            SetEnabled(m_btnOn, false);
            SetEnabled(m_btnSaveData, false);
            strPath = m_strProgramPath;
            strCycles = m_edCycles->text();
        });
        if (!bStarted || !bLinked)
            break;
        m_supply.m_nSample = 0;
        m_supply.m_nWindow = 0;
        {
            std::lock_guard<std::mutex> guard(m_supply.m_hLock);
            m_supply.m_logVoltage.clear();
            m_supply.m_logCurrent.clear();
        }
        // A finish left over from an earlier run must not end this one.
        m_supply.m_bFinished = 0;
        int nTimer = kUserTimer;
        if (m_supply.m_bProgramMode.load()) {
            m_supply.ResetPlayback();
            m_supply.m_nCycles = static_cast<int>(CPowerSupply::ParseInt(strCycles.toStdString()));
            LoadProgramForRun(strPath);
            m_supply.m_bExpandPending = 1;
            nTimer = kProgramTimer;
        } else {
            m_supply.m_bOpenOutput = 1;
        }
        OnUi([this, nTimer] {
            SetTimer(nTimer);
            m_nRunTimer = nTimer;
            m_bRunning = 1;
            m_wave->m_bDrawWaves = 1;
        });
        break;
    }
    case CMD_OFF:
        OnUi([this] { EndRun(); });
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
        {
            std::lock_guard<std::mutex> guard(m_hSupplyLock);
            m_supply.SetSetpoint(fVolts, fAmps, bVoltage);
        }
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

void CDlgControl::StepPreset(bool bUp)
{
    (bUp ? m_bUpStep : m_bDownStep) = 1;
    float fVolts = 0.0f;
    float fAmps = 0.0f;
    int bVoltage = 0;
    // The presets are the fields' values, which the wheel changes on the UI thread: step them
    // there too.
    const bool bDone = OnUi([&] {
        bVoltage = m_bVoltageSelected.load();
        CEditEX* field = bVoltage ? m_edVoltage : m_edCurrent;
        const int nStep = m_cbStep->currentIndex();
        if (nStep >= 0 && nStep <= 3) {
            const double step = CEditEX::StepSize(static_cast<std::int16_t>(nStep), bVoltage != 0);
            const double value = static_cast<double>(field->m_fValue);
            field->m_fValue = static_cast<float>(bUp ? value + step : value - step);
        }
        if (bUp) {
            if (bVoltage && field->m_fValue > 32.0f)
                field->m_fValue = 32.0f;
            else if (!bVoltage && static_cast<double>(field->m_fValue) > 5.1)
                field->m_fValue = 5.1f;
        } else if (field->m_fValue < 0.0f) {
            field->m_fValue = 0.0f;
        }
        const QString text = QString::number(static_cast<double>(field->m_fValue), 'f', bVoltage ? 2 : 3);
        if (field->text() == text) {
            // Same text, no change signal; the step still counts as the program's change.
            if (bVoltage)
                OnChangeVoltage();
            else
                OnChangeCurrent();
        } else {
            field->setText(text);
        }
        fVolts = m_edVoltage->m_fValue;
        fAmps = m_edCurrent->m_fValue;
    });
    if (bDone) {
        std::lock_guard<std::mutex> guard(m_hSupplyLock);
        m_supply.SetSetpoint(fVolts, fAmps, bVoltage);
    }
}

void CDlgControl::LoadProgramForRun(const QString& strPath)
{
    // LoadFile reports a refused or unreadable file in a message box, which belongs on the UI
    // thread; a file that will load is read here so a long program does not stall the window.
    bool bReadable = CPowerSupply::HasExtension(strPath, QStringLiteral(".csv"));
    if (bReadable) {
        QFile file(strPath);
        bReadable = file.open(QIODevice::ReadOnly);
    }
    if (bReadable)
        m_supply.LoadFile(strPath);
    else
        OnUi([this, strPath] { m_supply.LoadFile(strPath); });
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

    const bool zh = IsChinese();
    m_lblMaxVoltage->setText(zh ? QStringLiteral("最大电压:  32V") : QStringLiteral("MaxVoltage:  32V"));
    m_lblMaxCurrent->setText(zh ? QStringLiteral("最大电流:  5A") : QStringLiteral("MaxCurrent:  5A"));
    m_lblConnection->setText(zh ? QStringLiteral("连接状态") : QStringLiteral("Device Connected"));
    m_btnConnect->setText(zh ? QStringLiteral("断开") : QStringLiteral("DisConnect"));
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

    const bool zh = IsChinese();
    m_lblMaxVoltage->setText(zh ? QStringLiteral("最大电压:  V") : QStringLiteral("MaxVoltage:  V"));
    m_lblMaxCurrent->setText(zh ? QStringLiteral("最大电流:  A") : QStringLiteral("MaxCurrent:  A"));
    m_lblConnection->setText(zh ? QStringLiteral("未连接状态") : QStringLiteral("DisConnected"));
    m_btnConnect->setText(zh ? QStringLiteral(" 连接") : QStringLiteral(" Connect"));
    for (int i = 0; i < m_cbPort->count(); ++i)
        m_cbPort->setItemData(i, pslink::DescribePort(i), Qt::ToolTipRole);
}
