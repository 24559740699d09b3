#pragma once

#include "device/Result.h"
#include "engine/Reconnector.h"
#include "engine/RunJournal.h"
#include "engine/RunReasons.h"
#include "engine/RunSample.h"
#include "engine/RunSampler.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <vector>

class CConnector;
class CPowerSupply;
class CSupplyThread;
class CSupplyWatch;

/// A run: the two one-second precise timers (kUserTimer samples a user-mode run, kProgramTimer
/// plays a program), what each tick comes to, the seconds without readings while the link is
/// down and the tries to reach the supply again, the one way a run ends, with one reason, and
/// the run's journal. The device work of each tick is the supply object's, on the supply's
/// thread (CRunSampler); the run decides when, and reports what a front end shows as signals.
///
/// Lives on the engine's home thread and is driven from there (PrepareRun excepted), by any
/// number of front ends on that thread.
class CRun : public QObject, public CRunReasons
{
    Q_OBJECT
public:
    CRun(CPowerSupply& supply, CSupplyThread& thread, CSupplyWatch& watch, const CConnector& connector);
    ~CRun() override;

    /// Marks a run as begun, first ending one still going (never two runs, never an orphaned
    /// timer). From here a front end refuses what a run forbids, e.g. choosing another program.
    void BeginRun();
    /// Resets the sample counter and the wave series and, for a program run, the playback and the
    /// cycles, then loads the program file, on the supply's thread; waits for it (a worker, or a
    /// front end without a window). The load's result: a front end that goes on after a failed
    /// load (the window does) shows it and starts the timer all the same.
    CResult PrepareRun(bool bProgram, const QString& strPath, int nCycles);
    /// Starts the prepared run's timer (kUserTimer or kProgramTimer); emits RunStarted.
    void StartTimer(int nTimer);
    /// BeginRun, PrepareRun and StartTimer, for front ends without a worker. A program that cannot
    /// be read ends the run at once (kEndFileError) and is returned.
    CResult StartRun(bool bProgram, const QString& strPath, int nCycles);
    /// A user-mode run that switches nothing and keeps no record rows in memory: the supply
    /// sampled once a second for as long as a front end serves it (tarnwell-cli serve).
    void StartWatch();
    /// The one way a run ends: stops the timer it started and emits RunEnded (also when idle, so a
    /// front end always returns to its idle state). Samples the supply already gave are shown
    /// first; nothing is sent to the supply, so the output stays as it is.
    void EndRun(EndReason nReason = kEndStopped);

    /// A tick of timer 0 or 1 (the timers call it; tests may too). What it comes to arrives as
    /// signals once the supply's thread has done its part.
    void OnTimer(int nIDEvent);
    bool IsTimerActive(int nIDEvent) const;
    bool IsRunning() const { return m_bRunning.load() != 0; }
    /// The timer the active run started, -1 when idle. Ending a run stops this one, whatever the
    /// mode is by then.
    int RunTimer() const { return m_nRunTimer.load(); }
    /// A tick is on its way: its device work or its readings are awaited.
    bool IsSampling() const { return m_bSampling; }
    /// The seconds of this run so far, those without readings included.
    int SampleCount() const { return m_nSampleCount; }

    /// How long a run keeps trying to reach its supply again when the link is lost, about once a
    /// second; zero (the default) ends the run at once. A program run then sends its current
    /// point again, or ends (kEndOutputOff) when the supply came back with its output off.
    void SetReconnectTime(std::chrono::milliseconds duration) { m_reconnect.SetTime(duration); }
    bool IsReconnecting() const { return m_reconnect.IsTrying(); }

    /// Keep a journal of each run (on by default).
    void SetJournal(bool bOn) { m_bJournal = bOn; }
    /// A record file was written from the supply's rows (Save Data): the journals of the user
    /// runs whose rows it holds are no longer needed.
    void OnRecordSaved();
    /// Waits until every row and note given to the journal so far is on disk.
    void FlushJournal() { m_journal.Flush(); }
    /// How often a journal that could not be written is tried again (a minute).
    void SetJournalRetry(std::chrono::milliseconds interval) { m_journal.SetRetryInterval(interval); }

    /// Stops the timers and the tries without a word: the engine is going away.
    void Shutdown();

Q_SIGNALS:
    void RunStarted(int nTimer);
    /// After the run's state is idle again; `nReason` is an EndReason.
    void RunEnded(int nReason);
    /// A program tick applied a point: the texts and values the preset fields show.
    void PointApplied(const QString& strVoltage, const QString& strCurrent, float fVoltage, float fCurrent);
    /// A tick took a sample.
    void Sampled(const CRunSample& sample);
    /// The run's journal cannot be written (once a run); the run goes on in memory.
    void JournalFailed(const QString& strFolder, const QString& strReason);
    /// The link went, came back, met another supply, or trying ended; `nSample` is the sample
    /// count at that moment, `strDetail` the identity that answered, where one did.
    void LinkEvent(int nEvent, const QDateTime& at, int nSample, const QString& strDetail);

private:
    void SetTimer(int nIDEvent);
    void KillTimer(int nIDEvent);
    /// What the supply's thread handed over, in order.
    void TakeEvents();
    void OnEvent(const CTickEvent& event);
    /// A sample or a point a run's end found waiting: shown as its tick would have.
    void ShowTaken(const CTickEvent& event);
    void OnSample(const CTickEvent& event);
    void RunOwedTick();
    void Journal(const CRunSample& sample);
    /// A tick while the link is down: the second is counted and recorded as one without a reading.
    void GapTick(int nTimer);
    void StartReconnect();
    void StopReconnect(LinkEventKind nWhy);
    void OnBack(bool bOutputOn, const QString& strIdentity);
    void TellLink(LinkEventKind nEvent, const QString& strDetail = QString());

    CPowerSupply& m_supply;
    CSupplyWatch& m_watch;
    CRunSampler m_sampler;
    CReconnector m_reconnect;
    std::atomic<int> m_bRunning{0};
    std::atomic<int> m_nRunTimer{-1};
    QTimer m_tmRun[2];
    unsigned m_nRun = 0;          ///< the sampler's number for the run going on
    bool m_bSampling = false;     ///< a tick's sample is awaited
    unsigned m_nTicket = 0;       ///< the tick awaited; a run's end moves it on
    int m_nOwedTick = -1;         ///< a tick that came while a sample was awaited
    bool m_bEnding = false;       ///< EndRun is under way: what it shows cannot end the run twice
    int m_nSampleCount = 0;
    bool m_bAfterReconnect = false; ///< the output is never switched on again in this run

    std::atomic<bool> m_bJournal{true};
    CRunJournal m_journal;
    int m_nJournal = 0; ///< the running run's journal, 0 when none
    struct SavableJournal
    {
        int nJournal;
        unsigned nRowsEpoch; ///< the supply's rows epoch the run's rows went into
    };
    std::vector<SavableJournal> m_savable; ///< ended user runs whose journals Save Data may replace
};
