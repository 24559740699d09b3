#pragma once

#include "engine/RunJournal.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class CPowerSupply;
class QThread;

/// One sample of a run as a front end shows it.
struct CRunSample
{
    int nSample = 0;       ///< the supply's sample counter after the tick: elapsed seconds
    int bProgram = 0;      ///< taken in program mode
    float fVoltage = 0.0f; ///< measured volts
    float fCurrent = 0.0f; ///< measured amperes
    QString strVoltage;    ///< the page's measured-voltage text ("%.2f")
    QString strCurrent;    ///< the page's measured-current text ("%.2f" user mode, "%.3f" program mode)
    int nOutState = 0;
    int nCvState = 0;
    int nCcState = 0;
};
Q_DECLARE_METATYPE(CRunSample)

/// The run itself, with no widget: the two one-second precise timers (0 samples a user-mode run,
/// 1 plays a program), each tick's device work through the supply object, the end of a finished
/// program, the end of a run whose link was lost. What a front end shows arrives as signals.
///
/// Lives on the thread of the application object (a QCoreApplication will do). Only PrepareRun may
/// be called from another thread (the Control page's worker); everything else from this one.
class CRunEngine : public QObject
{
    Q_OBJECT
public:
    static constexpr int kUserTimer = 0;
    static constexpr int kProgramTimer = 1;
    static constexpr int kTimerPeriodMs = 1000;

    enum EndReason {
        kEndOff = 0,      ///< OFF, a disconnect, a new run, or the front end's own stop
        kEndFinished = 1, ///< the program's last point was played
        kEndLinkLost = 2, ///< the supply stopped answering; the link has been closed
    };

    explicit CRunEngine(CPowerSupply& supply, QObject* parent = nullptr);
    ~CRunEngine() override;
    CRunEngine(const CRunEngine&) = delete;
    CRunEngine& operator=(const CRunEngine&) = delete;

    /// Marks a run as begun, first ending one still going (never two runs, never an orphaned
    /// timer). From here a front end refuses what a run forbids, e.g. choosing another program.
    void BeginRun();
    /// Resets the sample counter and the wave series and, for a program run, the playback and the
    /// cycles, then loads the program file. Any thread. A load that can only end in a message box
    /// (not a CSV name, an unreadable file) runs through `onUi`, which must run its function on
    /// this object's thread and wait; without it the load runs here. Returns the timer to start.
    int PrepareRun(bool bProgram, const QString& strPath, int nCycles,
                   const std::function<bool(const std::function<void()>&)>& onUi = {});
    /// Starts the prepared run's timer; emits RunStarted.
    void StartTimer(int nTimer);
    /// BeginRun, PrepareRun and StartTimer on this thread, for front ends without a worker.
    void StartRun(bool bProgram, const QString& strPath, int nCycles);
    /// Ends the active run: stops the timer it started and emits RunEnded (also when idle, so a
    /// front end always returns to its idle state). Sends nothing to the supply, so the output
    /// stays as it is.
    void EndRun(EndReason nReason = kEndOff);
    /// What the worker's pass does: when the supply has played its last point, stops the program
    /// timer and ends the program run. True when it found the supply finished.
    bool EndFinishedRun();

    /// A tick of timer 0 or 1 (the timers call it; tests may too).
    void OnTimer(int nIDEvent);
    bool IsTimerActive(int nIDEvent) const;
    bool IsRunning() const { return m_bRunning.load() != 0; }

    /// When set, a tick that finds the program played ends the run itself instead of waiting for
    /// a worker's pass (front ends without a worker).
    std::atomic<int> m_bEndsFinishedRun{0};

    /// A record file was written from the supply's rows (Save Data): the journals of the user
    /// runs whose rows it holds are no longer needed.
    void OnRecordSaved();
    /// Keep a journal of each run (on by default).
    std::atomic<int> m_bJournal{1};
    CRunJournal m_journal;

    CPowerSupply* m_pSupply;
    /// One supply operation at a time between a worker (connect, setpoints) and the ticks: both
    /// write the supply's setpoint digits. Never held while waiting on another thread.
    std::mutex m_hSupplyLock;
    std::atomic<int> m_bRunning{0};
    /// The timer the active run started (kUserTimer / kProgramTimer), -1 when idle. Ending a run
    /// stops this one, whatever the mode is by then.
    std::atomic<int> m_nRunTimer{-1};

Q_SIGNALS:
    void RunStarted(int nTimer);
    /// After the run's state is idle again; `nReason` is an EndReason.
    void RunEnded(int nReason);
    /// A program tick applied a point: the texts and values the preset fields show.
    void PointApplied(const QString& strVoltage, const QString& strCurrent, float fVoltage, float fCurrent);
    /// A tick took a sample.
    void Sampled(const CRunSample& sample);

private:
    void SetTimer(int nIDEvent);
    void KillTimer(int nIDEvent);
    /// Expands the program at the first tick and applies the next point; true when one was.
    bool ApplyPoint();
    /// Asks the link for readings that reflect the tick's commands; the sample completes when
    /// they are there (at once on the built-in supply).
    void AwaitReadings(int nTimer);
    void CompleteSample(unsigned nSample, int nTimer, bool bFresh);
    void RunOwedTick();
    CRunSample LampsAndCount(int bProgram) const;
    void Journal(const CRunSample& sample);
    void ReportJournalFailure(const QString& strPath, const QString& strReason);

    QTimer m_tmRun[2];
    bool m_bSampling = false;      ///< a sample waits for the link's answers
    unsigned m_nSampleTicket = 0;  ///< the sample awaited; a run's end moves it on
    int m_nOwedTick = -1;          ///< a tick that came while a sample was awaited
    /// Whether this engine still exists, for answers arriving on a link's thread.
    struct Presence
    {
        std::mutex lock;
        bool bAlive = true;
        QThread* pThread = nullptr;
    };
    std::shared_ptr<Presence> m_pPresence;
    int m_nJournal = 0; ///< the running run's journal, 0 when none
    struct SavableJournal
    {
        int nJournal;
        unsigned nRowsEpoch; ///< the supply's rows epoch the run's rows went into
    };
    std::vector<SavableJournal> m_savable; ///< ended user runs whose journals Save Data may replace
};
