// The run engine: timers, ticks, the end of a run. The device work of each tick is the supply
// object's (ReadRecordSample in user mode; ExpandProgram, ApplyNextPoint and ReadProgramSample in
// program mode); the engine only decides when, and reports what a front end shows.
#include "engine/RunEngine.h"

#include "device/NumberText.h"
#include "device/PowerSupply.h"
#include "device/RecordFormat.h"
#include "device/SupplyLimits.h"
#include "device/pslink.h"

#include <QThread>

CRunEngine::CRunEngine(CPowerSupply& supply, QObject* parent)
    : QObject(parent), m_pSupply(&supply), m_pPresence(std::make_shared<Presence>())
{
    m_pPresence->pThread = thread();
    qRegisterMetaType<CRunSample>();
    for (int i = 0; i < 2; ++i) {
        m_tmRun[i].setTimerType(Qt::PreciseTimer);
        m_tmRun[i].setInterval(kTimerPeriodMs);
        connect(&m_tmRun[i], &QTimer::timeout, this, [this, i] { OnTimer(i); });
    }
    connect(&m_tmReconnect, &QTimer::timeout, this, &CRunEngine::TryReconnect);
}

CRunEngine::~CRunEngine()
{
    {
        // A link's late answer must not reach an engine that is gone.
        std::lock_guard<std::mutex> guard(m_pPresence->lock);
        m_pPresence->bAlive = false;
    }
    m_tmRun[kUserTimer].stop();
    m_tmRun[kProgramTimer].stop();
    m_tmReconnect.stop();
    CancelAttempt();
}

void CRunEngine::SetTimer(int nIDEvent)
{
    if (nIDEvent == kUserTimer || nIDEvent == kProgramTimer)
        m_tmRun[nIDEvent].start();
}

void CRunEngine::KillTimer(int nIDEvent)
{
    if (nIDEvent == kUserTimer || nIDEvent == kProgramTimer)
        m_tmRun[nIDEvent].stop();
}

bool CRunEngine::IsTimerActive(int nIDEvent) const
{
    return (nIDEvent == kUserTimer || nIDEvent == kProgramTimer) && m_tmRun[nIDEvent].isActive();
}

void CRunEngine::BeginRun()
{
    if (m_bRunning.load())
        EndRun(kEndStopped);
    m_bRunning = 1;
    m_bAfterReconnect = false;
}

CResult CRunEngine::PrepareRun(bool bProgram, const QString& strPath, int nCycles)
{
    CPowerSupply& supply = *m_pSupply;
    supply.m_nSample = 0;
    supply.m_nWindow = 0;
    {
        std::lock_guard<std::mutex> guard(supply.m_hLock);
        supply.m_logVoltage.clear();
        supply.m_logCurrent.clear();
    }
    // A finish left over from an earlier run must not end this one.
    supply.m_bFinished = 0;
    if (!bProgram) {
        supply.m_bOpenOutput = 1;
        return CResult::Done();
    }
    supply.ResetPlayback();
    supply.m_nCycles = nCycles;
    const CResult loaded = supply.Load(strPath, false);
    supply.m_bExpandPending = 1;
    return loaded;
}

void CRunEngine::StartTimer(int nTimer)
{
    SetTimer(nTimer);
    m_nRunTimer = nTimer;
    m_bRunning = 1;
    if (m_bJournal.load()) {
        // The writer reports from its own thread; the front end hears of it on this one.
        m_nJournal = m_journal.Begin(QDateTime::currentDateTime(), [this](const QString& strReason) {
            QMetaObject::invokeMethod(
                this, [this, strReason] { Q_EMIT JournalFailed(CRunJournal::Folder(), strReason); },
                Qt::QueuedConnection);
        });
    }
    Q_EMIT RunStarted(nTimer);
}

QString CRunEngine::JournalFailureMessage(const QString& strFolder, const QString& strReason)
{
    return QStringLiteral("Cannot keep a journal of this run in %1: %2. The run goes on; its samples are kept in memory "
                          "and written to the journal once it can be written again (it is tried every minute).")
        .arg(strFolder, strReason);
}

std::vector<CRunJournal::CutOff> CRunEngine::TakeCutOffRuns()
{
    return CRunJournal::TakeCutOffRuns();
}

QString CRunEngine::CutOffMessage(const CRunJournal::CutOff& cutOff)
{
    return CRunJournal::CutOffMessage(cutOff);
}

void CRunEngine::Journal(const CRunSample& sample)
{
    if (m_nJournal == 0)
        return;
    std::string row;
    recordfile::AppendSampleRow(row, sample.nSample, sample.fVoltage, sample.fCurrent);
    m_journal.Append(std::move(row));
}

void CRunEngine::OnRecordSaved()
{
    const unsigned nEpoch = m_pSupply->m_nRowsEpoch.load();
    for (const SavableJournal& saved : m_savable) {
        if (saved.nRowsEpoch == nEpoch)
            m_journal.Delete(saved.nJournal);
    }
    m_savable.clear();
}

CResult CRunEngine::StartRun(bool bProgram, const QString& strPath, int nCycles)
{
    BeginRun();
    const CResult loaded = PrepareRun(bProgram, strPath, nCycles);
    if (!loaded.Ok()) {
        EndRun(loaded.nKind == CResult::kAborted ? kEndInterrupted : kEndFileError);
        return loaded;
    }
    StartTimer(bProgram ? kProgramTimer : kUserTimer);
    return loaded;
}

void CRunEngine::EndRun(EndReason nReason)
{
    if (m_bReconnecting)
        StopReconnect(kLinkStopped);
    // The timer this run started, not the one the mode points at now.
    const int nTimer = m_nRunTimer.exchange(-1);
    if (nTimer >= 0)
        KillTimer(nTimer);
    m_bRunning = 0;
    // A sample still waiting for its answers belongs to the run that ends: it is dropped.
    m_bSampling = false;
    ++m_nSampleTicket;
    m_nOwedTick = -1;
    if (m_nJournal != 0) {
        m_journal.End();
        // A user run's rows join the supply's record rows, which Save Data writes.
        if (nTimer == kUserTimer)
            m_savable.push_back({m_nJournal, m_pSupply->m_nRowsEpoch.load()});
        m_nJournal = 0;
    }
    Q_EMIT RunEnded(nReason);
}

void CRunEngine::OnTimer(int nIDEvent)
{
    if (nIDEvent != kUserTimer && nIDEvent != kProgramTimer)
        return;
    if (m_bSampling) {
        // The last sample still waits for the supply's answers: this tick follows it. One tick is
        // kept; more would only pile up behind a supply that answers slower than once a second.
        m_nOwedTick = nIDEvent;
        return;
    }
    if (m_bReconnecting) {
        GapTick(nIDEvent);
        return;
    }
    bool bPlayed = false;
    {
        std::unique_lock<std::mutex> guard(m_hSupplyLock);
        // A supply that stopped answering would only give zeros; what was recorded stays for saving.
        if (m_bRunning.load() && dsoLinkAlive(m_pSupply->m_nDevice) == 0) {
            guard.unlock();
            if (m_reconnectFor.count() > 0) {
                StartReconnect();
                GapTick(nIDEvent);
                return;
            }
            CloseCOM(m_pSupply->m_nDevice);
            EndRun(kEndLinkLost);
            return;
        }
        if (nIDEvent == kUserTimer)
            m_pSupply->BeginRecordSample();
        else
            bPlayed = ApplyPoint();
    }
    if (nIDEvent == kProgramTimer && !bPlayed) {
        // Nothing left to play: the program run ends here.
        if (m_pSupply->m_bFinished.exchange(0) != 0 && m_nRunTimer.load() == kProgramTimer)
            EndRun(kEndDone);
        return;
    }
    if (bPlayed) {
        CPowerSupply& supply = *m_pSupply;
        Q_EMIT PointApplied(supply.m_strSetVoltage, supply.m_strSetCurrent, supply.m_fVoltage, supply.m_fCurrent);
        // After a reconnect the output is never switched on by the run.
        std::lock_guard<std::mutex> guard(m_hSupplyLock);
        if (!m_bAfterReconnect)
            supply.BeginProgramSample();
    }
    AwaitReadings(nIDEvent);
}

bool CRunEngine::ApplyPoint()
{
    CPowerSupply& supply = *m_pSupply;
    if (supply.m_bExpandPending.exchange(0) != 0)
        supply.ExpandProgram();
    // Whether a point was played, from the play index rather than m_bFinished: the worker may
    // clear that flag between the two lines, and the finished run would then read one more
    // sample and record it.
    const int nPlayed = supply.m_nPlayIndex.load();
    supply.ApplyNextPoint();
    return supply.m_nPlayIndex.load() != nPlayed;
}

void CRunEngine::AwaitReadings(int nTimer)
{
    const unsigned nSample = ++m_nSampleTicket;
    m_bSampling = true;
    const std::shared_ptr<Presence> presence = m_pPresence;
    // A serial link answers on its own thread, later; the built-in supply at once, on this one.
    pslink::AfterFreshReadings(m_pSupply->m_nDevice, [this, presence, nSample, nTimer](bool bFresh) {
        std::unique_lock<std::mutex> guard(presence->lock);
        if (!presence->bAlive)
            return;
        if (QThread::currentThread() == presence->pThread) {
            guard.unlock();
            CompleteSample(nSample, nTimer, bFresh);
            return;
        }
        QMetaObject::invokeMethod(
            this, [this, nSample, nTimer, bFresh] { CompleteSample(nSample, nTimer, bFresh); },
            Qt::QueuedConnection);
    });
}

void CRunEngine::CompleteSample(unsigned nSample, int nTimer, bool bFresh)
{
    // A run that ended meanwhile (OFF, a disconnect, a closing window) drops its sample.
    if (!m_bSampling || nSample != m_nSampleTicket)
        return;
    m_bSampling = false;
    if (!bFresh) {
        // No answers: either the link is gone, which the next tick finds, or it was closed. A
        // point played but never measured may not have reached the supply: it is played again
        // once the supply is back, so the program skips none of its points.
        if (nTimer == kProgramTimer) {
            std::lock_guard<std::mutex> guard(m_pSupply->m_hLock);
            if (m_pSupply->m_nPlayIndex.load() > 0)
                --m_pSupply->m_nPlayIndex;
        }
        RunOwedTick();
        return;
    }
    const CRunSample sample = TakeSample(nTimer);
    Journal(sample);
    NoteMaximum();
    NoteProtection(sample.nProtection);
    Q_EMIT Sampled(sample);
    RunOwedTick();
}

CRunSample CRunEngine::TakeSample(int nTimer)
{
    CPowerSupply& supply = *m_pSupply;
    CRunSample sample;
    {
        std::lock_guard<std::mutex> guard(m_hSupplyLock);
        if (nTimer == kUserTimer)
            supply.TakeRecordSample();
        else
            supply.TakeProgramSample();
        sample = LampsAndCount(nTimer == kUserTimer ? 0 : 1);
    }
    if (nTimer == kUserTimer) {
        sample.fVoltage = supply.m_fVoltage;
        sample.fCurrent = supply.m_fCurrent;
        sample.strVoltage = numtext::FixedText(sample.fVoltage, supply::kVoltsDecimals);
        sample.strCurrent = numtext::FixedText(sample.fCurrent, supply::kUserAmpsDecimals);
        return sample;
    }
    {
        std::lock_guard<std::mutex> guard(supply.m_hLock);
        if (!supply.m_logVoltage.empty()) {
            sample.fVoltage = supply.m_logVoltage.back();
            sample.fCurrent = supply.m_logCurrent.back();
        }
    }
    sample.strVoltage = supply.m_strVoltage;
    sample.strCurrent = supply.m_strCurrent;
    return sample;
}

void CRunEngine::RunOwedTick()
{
    const int nTimer = m_nOwedTick;
    m_nOwedTick = -1;
    if (nTimer >= 0 && m_bRunning.load())
        OnTimer(nTimer);
}

CRunSample CRunEngine::LampsAndCount(int bProgram) const
{
    CRunSample sample;
    sample.bProgram = bProgram;
    sample.nSample = m_pSupply->m_nSample.load();
    sample.nOutState = m_pSupply->m_nOutState.load();
    sample.nCvState = m_pSupply->m_nCvState.load();
    sample.nCcState = m_pSupply->m_nCcState.load();
    sample.nProtection = m_pSupply->m_nProtection.load();
    return sample;
}
