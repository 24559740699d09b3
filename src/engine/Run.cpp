// The run: timers, ticks, what each tick came to, the end of a run and the journal. The device
// work of each tick is the sampler's, on the supply's thread; the run only decides when, and
// reports what a front end shows.
#include "engine/Run.h"

#include "device/PowerSupply.h"
#include "device/RecordFormat.h"
#include "engine/EngineText.h"
#include "engine/SupplyWatch.h"

CRun::CRun(CPowerSupply& supply, CSupplyThread& thread, CSupplyWatch& watch, const CConnector& connector)
    : m_supply(supply),
      m_watch(watch),
      m_sampler(supply, thread, [this] { TakeEvents(); }),
      m_reconnect(thread, connector, supply.m_nDevice)
{
    qRegisterMetaType<CRunSample>();
    for (int i = 0; i < 2; ++i) {
        m_tmRun[i].setTimerType(Qt::PreciseTimer);
        m_tmRun[i].setInterval(kTimerPeriodMs);
        connect(&m_tmRun[i], &QTimer::timeout, this, [this, i] { OnTimer(i); });
    }
    connect(&m_reconnect, &CReconnector::Back, this, &CRun::OnBack);
    connect(&m_reconnect, &CReconnector::Other, this,
            [this](const QString& strIdentity) { TellLink(kLinkOther, strIdentity); });
    connect(&m_reconnect, &CReconnector::TimeRanOut, this, [this] {
        StopReconnect(kLinkGaveUp);
        EndRun(kEndLinkLost);
    });
}

CRun::~CRun()
{
    Shutdown();
}

void CRun::Shutdown()
{
    m_tmRun[kUserTimer].stop();
    m_tmRun[kProgramTimer].stop();
    if (m_reconnect.IsTrying())
        m_reconnect.Stop();
}

void CRun::SetTimer(int nIDEvent)
{
    if (nIDEvent == kUserTimer || nIDEvent == kProgramTimer)
        m_tmRun[nIDEvent].start();
}

void CRun::KillTimer(int nIDEvent)
{
    if (nIDEvent == kUserTimer || nIDEvent == kProgramTimer)
        m_tmRun[nIDEvent].stop();
}

bool CRun::IsTimerActive(int nIDEvent) const
{
    return (nIDEvent == kUserTimer || nIDEvent == kProgramTimer) && m_tmRun[nIDEvent].isActive();
}

void CRun::BeginRun()
{
    if (m_bRunning.load())
        EndRun(kEndStopped);
    m_bRunning = 1;
    m_bAfterReconnect = false;
}

CResult CRun::PrepareRun(bool bProgram, const QString& strPath, int nCycles)
{
    return m_sampler.Prepare(bProgram, strPath, nCycles);
}

void CRun::StartTimer(int nTimer)
{
    SetTimer(nTimer);
    m_nRunTimer = nTimer;
    m_bRunning = 1;
    m_nSampleCount = 0;
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

CResult CRun::StartRun(bool bProgram, const QString& strPath, int nCycles)
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

void CRun::StartWatch()
{
    BeginRun();
    m_sampler.PrepareWatch();
    StartTimer(kUserTimer);
}

void CRun::EndRun(EndReason nReason)
{
    if (m_bEnding)
        return;
    m_bEnding = true;
    if (m_reconnect.IsTrying())
        StopReconnect(kLinkStopped);
    // The timer this run started, not the one the mode points at now.
    const int nTimer = m_nRunTimer.exchange(-1);
    if (nTimer >= 0)
        KillTimer(nTimer);
    // What the supply already gave for this run is this run's: shown before its end. A sample
    // still waiting for its answers belongs to the run that ends: it is dropped.
    for (const CTickEvent& event : m_sampler.Close(&m_nRun))
        ShowTaken(event);
    m_bRunning = 0;
    m_bSampling = false;
    ++m_nTicket;
    m_nOwedTick = -1;
    if (m_nJournal != 0) {
        m_journal.End();
        // A user run's rows join the supply's record rows, which Save Data writes.
        if (nTimer == kUserTimer)
            m_savable.push_back({m_nJournal, m_supply.m_nRowsEpoch.load()});
        m_nJournal = 0;
    }
    m_bEnding = false;
    Q_EMIT RunEnded(nReason);
}

void CRun::OnTimer(int nIDEvent)
{
    if (nIDEvent != kUserTimer && nIDEvent != kProgramTimer)
        return;
    if (m_bSampling) {
        // The last sample still waits for the supply's answers: this tick follows it. One tick is
        // kept; more would only pile up behind a supply that answers slower than once a second.
        m_nOwedTick = nIDEvent;
        return;
    }
    if (m_reconnect.IsTrying()) {
        GapTick(nIDEvent);
        return;
    }
    m_bSampling = true;
    CRunSampler::TickWay way;
    way.bCheckLink = m_bRunning.load() != 0;
    way.bCloseLost = m_reconnect.Time().count() <= 0;
    way.bSwitchOn = !m_bAfterReconnect; // after a reconnect the output is never switched on by the run
    m_sampler.Tick(m_nRun, ++m_nTicket, nIDEvent, way);
}

void CRun::TakeEvents()
{
    for (const CTickEvent& event : m_sampler.Take())
        OnEvent(event);
}

void CRun::OnEvent(const CTickEvent& event)
{
    // A tick of a run that has ended since, or of one before it.
    if (!m_bSampling || event.nTicket != m_nTicket)
        return;
    switch (event.nKind) {
    case CTickEvent::kPoint:
        Q_EMIT PointApplied(event.strVoltage, event.strCurrent, event.fVoltage, event.fCurrent);
        return; // its sample follows
    case CTickEvent::kLinkDead:
        m_bSampling = false;
        if (m_reconnect.Time().count() > 0) {
            StartReconnect();
            GapTick(event.nTimer);
            return;
        }
        EndRun(kEndLinkLost); // the sampler closed the link
        return;
    case CTickEvent::kNothingLeft:
        // Nothing left to play: the program run ends here.
        m_bSampling = false;
        if (event.bFinished && m_nRunTimer.load() == kProgramTimer)
            EndRun(kEndDone);
        return;
    case CTickEvent::kNoAnswer:
        m_bSampling = false;
        RunOwedTick();
        return;
    case CTickEvent::kSample:
        m_bSampling = false;
        OnSample(event);
        RunOwedTick();
        return;
    }
}

void CRun::ShowTaken(const CTickEvent& event)
{
    if (!m_bSampling || event.nTicket != m_nTicket)
        return;
    if (event.nKind == CTickEvent::kPoint)
        Q_EMIT PointApplied(event.strVoltage, event.strCurrent, event.fVoltage, event.fCurrent);
    else if (event.nKind == CTickEvent::kSample)
        OnSample(event);
}

void CRun::OnSample(const CTickEvent& event)
{
    const CRunSample& sample = event.sample;
    m_nSampleCount = sample.nSample;
    Journal(sample);
    m_watch.NoteMaximum(event.maximum);
    m_watch.NoteRefusal(event.refusal);
    if (sample.nProtection != m_watch.Protection() && sample.nProtection != 0 && m_nJournal != 0)
        m_journal.Note(QDateTime::currentDateTime(), enginetext::ProtectionNote(sample.nSample, sample.nProtection));
    m_watch.NoteProtection(sample.nProtection);
    Q_EMIT Sampled(sample);
}

void CRun::RunOwedTick()
{
    const int nTimer = m_nOwedTick;
    m_nOwedTick = -1;
    if (nTimer >= 0 && m_bRunning.load())
        OnTimer(nTimer);
}

void CRun::Journal(const CRunSample& sample)
{
    if (m_nJournal == 0)
        return;
    std::string row;
    recordfile::AppendSampleRow(row, sample.nSample, sample.fVoltage, sample.fCurrent);
    m_journal.Append(std::move(row));
}

void CRun::OnRecordSaved()
{
    const unsigned nEpoch = m_supply.m_nRowsEpoch.load();
    for (const SavableJournal& saved : m_savable) {
        if (saved.nRowsEpoch == nEpoch)
            m_journal.Delete(saved.nJournal);
    }
    m_savable.clear();
}

// ---- The link lost and found again ----

void CRun::GapTick(int nTimer)
{
    const int nSample = ++m_nSampleCount;
    m_sampler.GapSecond(nSample, nTimer == kUserTimer);
    if (m_nJournal != 0) {
        std::string row;
        recordfile::AppendGapRow(row, nSample);
        m_journal.Append(std::move(row));
    }
    CRunSample sample;
    sample.nSample = nSample;
    sample.bProgram = nTimer == kProgramTimer ? 1 : 0;
    sample.bGap = 1;
    Q_EMIT Sampled(sample);
    if (m_reconnect.TimeUp()) {
        StopReconnect(kLinkGaveUp);
        EndRun(kEndLinkLost);
    }
}

void CRun::StartReconnect()
{
    m_reconnect.Start();
    TellLink(kLinkGone);
}

void CRun::StopReconnect(LinkEventKind nWhy)
{
    m_reconnect.Stop();
    TellLink(nWhy);
}

void CRun::OnBack(bool bOutputOn, const QString& strIdentity)
{
    m_bAfterReconnect = true; // never switched on again by this run
    TellLink(kLinkBack, strIdentity);
    const bool bProgram = m_nRunTimer.load() == kProgramTimer;
    if (bProgram && !bOutputOn) {
        // The supply lost its power, or was switched off: the program is not played on blind.
        m_sampler.AfterReconnect(false);
        EndRun(kEndOutputOff);
        return;
    }
    m_sampler.AfterReconnect(bProgram);
}

void CRun::TellLink(LinkEventKind nEvent, const QString& strDetail)
{
    const QDateTime now = QDateTime::currentDateTime();
    if (m_nJournal != 0)
        m_journal.Note(now, enginetext::LinkNote(m_nSampleCount, nEvent, strDetail));
    Q_EMIT LinkEvent(nEvent, now, m_nSampleCount, strDetail);
}
