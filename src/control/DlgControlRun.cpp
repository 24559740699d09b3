// Runs on the Control page: mode radios and the program file, the two one-second timers and
// their ticks, the end of a run, Save Data. Everything here runs on the UI thread.
#include "control/DlgControl.h"

#include "control/EditEX.h"
#include "device/pslink.h"
#include "platform/Dialogs.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

void CDlgControl::SetTimer(int nIDEvent)
{
    if (nIDEvent == kUserTimer || nIDEvent == kProgramTimer)
        m_timer[nIDEvent].start();
}

void CDlgControl::KillTimer(int nIDEvent)
{
    if (nIDEvent == kUserTimer || nIDEvent == kProgramTimer)
        m_timer[nIDEvent].stop();
}

bool CDlgControl::IsTimerActive(int nIDEvent) const
{
    return (nIDEvent == kUserTimer || nIDEvent == kProgramTimer) && m_timer[nIDEvent].isActive();
}

void CDlgControl::EndRun()
{
    SetEnabled(m_btnSaveData, true);
    // The timer this run started, not the one the radios point at now.
    const int nTimer = m_nRunTimer.exchange(-1);
    if (nTimer >= 0)
        KillTimer(nTimer);
    SetEnabled(m_btnOff, false);
    // Without a link ON stays off; connecting enables it again.
    SetEnabled(m_btnOn, m_bConnected.load() != 0);
    m_bRunning = 0;
}

void CDlgControl::OnLinkLost()
{
    EndRun();
    CloseCOM(m_supply.m_nDevice);
    ShowDisconnectedState();
}

void CDlgControl::OnTimer(int nIDEvent)
{
    if (nIDEvent != kUserTimer && nIDEvent != kProgramTimer)
        return;
    std::lock_guard<std::mutex> guard(m_hSupplyLock);
    // A supply that stopped answering would only give zeros; what was recorded stays for saving.
    if (m_bRunning.load() && dsoLinkAlive(m_supply.m_nDevice) == 0) {
        OnLinkLost();
        return;
    }

    auto setLamps = [this] {
        m_chkOut->setChecked(m_supply.m_nOutState.load() != 0);
        m_chkCv->setChecked(m_supply.m_nCvState.load() != 0);
        m_chkCc->setChecked(m_supply.m_nCcState.load() != 0);
    };
    auto showElapsed = [this] {
        m_nElapsed = m_supply.m_nSample.load();
        m_edElapsed->setText(QString::number(m_nElapsed));
    };

    if (nIDEvent == kUserTimer) {
        m_supply.ReadRecordSample();
        m_strMeasVoltage = QString::number(static_cast<double>(m_supply.m_fVoltage), 'f', 2);
        m_strMeasCurrent = QString::number(static_cast<double>(m_supply.m_fCurrent), 'f', 2);
        setLamps();
        m_edMeasVoltage->setText(m_strMeasVoltage);
        m_edMeasCurrent->setText(m_strMeasCurrent);
        showElapsed();
        return;
    }

    if (m_supply.m_bExpandPending.exchange(0) != 0)
        m_supply.ExpandProgram();
    // Whether a point was played, from the play index rather than m_bFinished: the worker may
    // clear that flag between the two lines, and the finished run would then read one more
    // sample and record it.
    const int nPlayed = m_supply.m_nPlayIndex.load();
    m_supply.ApplyNextPoint();
    if (m_supply.m_nPlayIndex.load() == nPlayed)
        return;
    m_edVoltage->setText(m_supply.m_strSetVoltage);
    m_edCurrent->setText(m_supply.m_strSetCurrent);
    m_edVoltage->m_fValue = m_supply.m_fVoltage;
    m_edCurrent->m_fValue = m_supply.m_fCurrent;
    m_supply.ReadProgramSample();
    setLamps();
    m_strMeasVoltage = m_supply.m_strVoltage;
    m_strMeasCurrent = m_supply.m_strCurrent;
    m_edMeasVoltage->setText(m_strMeasVoltage);
    m_edMeasCurrent->setText(m_strMeasCurrent);
    showElapsed();
}

void CDlgControl::SelectUserMode()
{
    m_supply.m_bProgramMode = 0;
    m_rbUser->setChecked(true);
    m_rbProgram->setChecked(false);
    for (QWidget* w : std::initializer_list<QWidget*>{m_edProgramFile, m_edTotalTime, m_edCycles})
        SetEnabled(w, false);
}

void CDlgControl::OnBnClickedUserMode()
{
    SelectUserMode();
}

void CDlgControl::OnBnClickedProgramMode()
{
    if (m_bRunning.load()) {
        SelectUserMode();
        return;
    }
    m_supply.m_bProgramMode = 1;
    m_rbUser->setChecked(false);
    m_rbProgram->setChecked(true);
    for (QWidget* w : std::initializer_list<QWidget*>{m_edProgramFile, m_edTotalTime, m_edCycles})
        SetEnabled(w, true);

    const std::optional<QString> path = platform::ChooseFile(CPowerSupply::OpenFileRequest());
    if (!path)
        return;
    m_strProgramPath = *path;
    // A run may have started while the dialog was open; its own load owns the lists now.
    if (!m_bRunning.load() && CPowerSupply::HasExtension(m_strProgramPath, QStringLiteral(".csv"))) {
        m_supply.m_bCountOnly = 1;
        m_supply.LoadFile(m_strProgramPath);
        m_supply.m_bCountOnly = 0;
    }
    m_edProgramFile->setText(m_strProgramPath);
    m_nTotalTime = m_supply.m_nPointsPerCycle.load();
    m_edTotalTime->setText(QString::number(m_nTotalTime));
}

void CDlgControl::OnBnClickedSaveData()
{
    m_supply.SaveRecordAs();
}
