// Runs on the Control page: mode radios and the program file, what the run engine reports, Save
// Data. Everything here runs on the UI thread.
#include "control/DlgControl.h"

#include "device/FileKinds.h"
#include "device/link/Protection.h"
#include "platform/Dialogs.h"
#include "widgets/Captions.h"
#include "widgets/EditEX.h"
#include "widgets/StaticWave.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

// ---- What the run engine reports ----

void CDlgControl::OnRunStarted(int /*nTimer*/)
{
    m_wave->m_bDrawWaves = 1;
}

void CDlgControl::OnRunEnded(int nReason)
{
    SetEnabled(m_btnSaveData, true);
    SetEnabled(m_btnOff, false);
    // Without a link ON stays off; connecting enables it again.
    SetEnabled(m_btnOn, m_bConnected.load() != 0);
    // The engine has closed a link that stopped answering.
    if (nReason == CRun::kEndLinkLost)
        ShowDisconnectedState();
    // A program that met its supply switched off when the link came back is said to have stopped.
    if (nReason == CRun::kEndOutputOff)
        platform::MessageBox(enginetext::EndMessage(nReason));
}

void CDlgControl::OnProtectionChanged(unsigned nProtection)
{
    // Lit where the supply tells its protection state (dark where it cannot).
    m_chkOvp->setChecked((nProtection & pslink::kOverVoltage) != 0);
    m_chkOcp->setChecked((nProtection & pslink::kOverCurrent) != 0);
}

void CDlgControl::OnLinkEvent(int nEvent, const QDateTime& /*at*/, int /*nSample*/, const QString& /*strDetail*/)
{
    const bool bChinese = ::IsChinese(m_pLanguage);
    switch (nEvent) {
    case CRun::kLinkGone:
        ApplyCaptions(*this, captions::kControlReconnecting, bChinese);
        break;
    case CRun::kLinkBack:
        ApplyCaptions(*this, captions::kControlConnected, bChinese);
        break;
    case CRun::kLinkGaveUp:
    case CRun::kLinkStopped:
        ShowDisconnectedState();
        break;
    default:
        break;
    }
}

void CDlgControl::OnPointApplied(const QString& strVoltage, const QString& strCurrent, float fVoltage,
                                 float fCurrent)
{
    // Each write raises the field's change handling even when the text repeats, so the current
    // field is the selected one after a tick whatever the points were.
    SetPresetText(m_edVoltage, strVoltage);
    SetPresetText(m_edCurrent, strCurrent);
    m_edVoltage->m_fValue = fVoltage;
    m_edCurrent->m_fValue = fCurrent;
}

void CDlgControl::OnSampled(const CRunSample& sample)
{
    // A second without a reading (bGap) comes with no texts and dark lamps: the elapsed time
    // goes on, the readings show none.
    OnProtectionChanged(sample.nProtection);
    m_chkOut->setChecked(sample.nOutState != 0);
    m_chkCv->setChecked(sample.nCvState != 0);
    m_chkCc->setChecked(sample.nCcState != 0);
    m_strMeasVoltage = sample.strVoltage;
    m_strMeasCurrent = sample.strCurrent;
    m_edMeasVoltage->setText(m_strMeasVoltage);
    m_edMeasCurrent->setText(m_strMeasCurrent);
    m_nElapsed = sample.nSample;
    m_edElapsed->setText(QString::number(m_nElapsed));
}

// ---- Mode radios and the program file ----

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
    if (m_engine.Run().IsRunning()) {
        SelectUserMode();
        return;
    }
    m_supply.m_bProgramMode = 1;
    m_rbUser->setChecked(false);
    m_rbProgram->setChecked(true);
    for (QWidget* w : std::initializer_list<QWidget*>{m_edProgramFile, m_edTotalTime, m_edCycles})
        SetEnabled(w, true);

    const std::optional<QString> path = platform::ChooseFile(filekinds::OpenFile());
    if (!path)
        return;
    m_strProgramPath = *path;
    // A run may have started while the dialog was open; its own load owns the lists now.
    // The count is asked of this load alone: a run started while its message box is open loads
    // the whole program with the flag untouched.
    if (!m_engine.Run().IsRunning() && filekinds::IsCsv(m_strProgramPath)) {
        const CResult counted = m_supply.Load(m_strProgramPath, true);
        if (counted.Failed())
            platform::MessageBox(counted.Message());
    }
    m_edProgramFile->setText(m_strProgramPath);
    m_nTotalTime = m_supply.m_nPointsPerCycle.load();
    m_edTotalTime->setText(QString::number(m_nTotalTime));
}

void CDlgControl::OnBnClickedSaveData()
{
    const CResult saved = m_supply.SaveRecordAs(platform::ChooseFile);
    if (saved.Failed())
        platform::MessageBox(saved.Message());
    // A record that holds a run's rows makes that run's journal redundant.
    if (saved.Ok())
        m_engine.Run().OnRecordSaved();
}

void CDlgControl::OnJournalFailed(const QString& strFolder, const QString& strReason)
{
    platform::MessageBox(enginetext::JournalFailureMessage(strFolder, strReason));
}
