#pragma once

// The engine: connecting to the supply (one sequence), the supply between runs, and the run
// itself. The window's Control page and tarnwell-cli drive the same code through this header and
// render what it reports; failures come back as values (CResult) and reasons, never as dialogs.

#include "device/Result.h"
#include "device/link/PortSetting.h"
#include "engine/RunJournal.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
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
    unsigned nProtection = 0; ///< tripped protections (pslink::ProtectionBit); 0: none, or not known
    int bGap = 0; ///< a second without a reading: the link was down (nothing else is filled in)
};
Q_DECLARE_METATYPE(CRunSample)

/// What a port reaches, and what answered there when it was probed.
struct CPortProbe
{
    QString strName;        ///< "COM1"
    QString strDescription; ///< the port list's tooltip text
    QString strAnswer;      ///< the identity, or why nothing answered (empty when not probed)
};

/// The run engine: connects (one sequence), sends setpoints, and runs: the two one-second precise
/// timers (0 samples a user-mode run, 1 plays a program), each tick's device work through the
/// supply object, and the one way a run ends, with one reason. What a front end shows arrives as
/// signals.
///
/// Lives on the thread of the application object (a QCoreApplication will do). Connect, the
/// setpoint calls and PrepareRun may be called from another thread (the Control page's worker);
/// the run's own calls only from this one.
class CRunEngine : public QObject
{
    Q_OBJECT
public:
    static constexpr int kUserTimer = 0;
    static constexpr int kProgramTimer = 1;
    static constexpr int kTimerPeriodMs = 1000;

    /// Why a run ended.
    enum EndReason {
        kEndDone = 0,        ///< the program's last point was played
        kEndStopped = 1,     ///< OFF, a disconnect, a new run, or the end of the time a front end gave
        kEndLinkLost = 2,    ///< the supply stopped answering; the link has been closed
        kEndFileError = 3,   ///< the program could not be read, so the run never played
        kEndInterrupted = 4, ///< the front end is going away (window closed, a signal)
        kEndOutputOff = 5,   ///< a program's supply came back from a lost link with its output off
    };

    /// What happened to the link during a run (LinkEvent).
    enum LinkEventKind {
        kLinkGone,    ///< the supply stopped answering; the engine tries to reach it again
        kLinkBack,    ///< the same supply answers again; the run goes on
        kLinkOther,   ///< another supply answers on the port: it is not taken for ours
        kLinkGaveUp,  ///< no supply came back in the time given; the run ends as a lost link
        kLinkStopped, ///< the run ended while the engine was trying; the link stays closed
    };

    /// How much of the connect sequence to send.
    enum ConnectMode {
        kConnectFull,  ///< open, identity, output off, the stored setpoints, take over
        kIdentifyOnly, ///< open and ask the identity: nothing is changed on the supply
    };

    explicit CRunEngine(CPowerSupply& supply, QObject* parent = nullptr);
    ~CRunEngine() override;
    CRunEngine(const CRunEngine&) = delete;
    CRunEngine& operator=(const CRunEngine&) = delete;

    // ---- Connecting (any thread) ----
    /// Runs the connect sequence on the supply's port: kOk, or kNoPort (the setting reaches
    /// nothing or the port could not be opened, with the sentence saying why and what to do) or
    /// kNoAnswer; the link is closed again on failure. A set `*pCancel` (a closing window) found
    /// once the connect is announced gives kAborted without opening anything.
    CResult Connect(ConnectMode nMode = kConnectFull, const std::atomic<int>* pCancel = nullptr);
    /// Closes the link; a connect under way gives up at once. Ends no run: a front end ends it
    /// first, on this object's thread.
    void Disconnect();
    /// Closes the link until a connect that is under way has given up (a closing window).
    void AbortConnect();
    bool IsConnecting() const { return m_bConnecting.load() != 0; }
    /// The identity of the supply last connected, as one printable line.
    QString Identity() const;
    /// With `bOn`, every port without its own TARNWELL_COM<n> reaches the built-in simulated supply.
    static void SimulateAll(bool bOn);
    /// The ports of the list, COM1 onwards.
    static int PortCount();
    /// What port index `nPort` reaches, for the port list's tooltips.
    static QString DescribePort(int nPort);
    /// A port setting as a user writes it ("sim", "/dev/ttyUSB0", "scpi:/dev/ttyACM0@115200"),
    /// for a supply object's m_portSetting; nullopt with `pError` saying why it cannot be used.
    static std::optional<pslink::PortSetting> ReadPort(const QString& strText, QString* pError);
    static QString DescribePort(const pslink::PortSetting& setting);
    /// Every port of the list with what it reaches; with `bAsk`, also what answers there (all at
    /// once: a silent port takes seconds to give up).
    static std::vector<CPortProbe> ProbePorts(bool bAsk);
    /// The lines of the user's settings files (ports.conf, modules.csv) that were ignored, each
    /// naming its file, line and why; empty when every line is usable.
    static std::vector<QString> SettingsIssues();
    /// Those issues as one message for the window; empty when there are none.
    static QString SettingsMessage();

    // ---- The supply between runs (any thread) ----
    /// The supply object's SetSetpoint, one supply operation at a time with the ticks.
    int SetSetpoint(float fVolts, float fAmps, int which);
    void SwitchOutput(bool bOn);
    /// Waits, at most `nTimeoutMs`, until the supply has taken every command sent before and
    /// readings reflect them, running this thread's event loop meanwhile (front ends without a
    /// worker). kOk, or kLinkLost when the link is gone or the time ran out.
    CResult WaitForSupply(int nTimeoutMs);
    /// One reading as a user-mode sample takes it, without switching anything (after
    /// WaitForSupply).
    CRunSample ReadSample();
    /// How long a run keeps trying to reach its supply again when the link is lost, about once a
    /// second; zero (the default) ends the run at once. Reconnecting switches nothing: it asks the
    /// identity and reads what the supply holds; a program run then sends its current point again,
    /// or ends (kEndOutputOff) when the supply came back with its output off.
    void SetReconnectTime(std::chrono::milliseconds duration) { m_reconnectFor = duration; }
    bool IsReconnecting() const { return m_bReconnecting; }

    /// What the supply holds at most, as learned from setpoints it held below what was asked: 0
    /// where it is not known.
    float MaxVolts() const;
    float MaxAmps() const;

    // ---- The run (this object's thread, but PrepareRun) ----
    /// Marks a run as begun, first ending one still going (never two runs, never an orphaned
    /// timer). From here a front end refuses what a run forbids, e.g. choosing another program.
    void BeginRun();
    /// Resets the sample counter and the wave series and, for a program run, the playback and the
    /// cycles, then loads the program file. Any thread. The load's result: a front end that goes
    /// on after a failed load (the window does) shows it and starts the timer all the same.
    CResult PrepareRun(bool bProgram, const QString& strPath, int nCycles);
    /// Starts the prepared run's timer (kUserTimer or kProgramTimer); emits RunStarted.
    void StartTimer(int nTimer);
    /// BeginRun, PrepareRun and StartTimer, for front ends without a worker. A program that cannot
    /// be read ends the run at once (kEndFileError) and is returned.
    CResult StartRun(bool bProgram, const QString& strPath, int nCycles);
    /// The one way a run ends: stops the timer it started and emits RunEnded (also when idle, so a
    /// front end always returns to its idle state). Sends nothing to the supply, so the output
    /// stays as it is.
    void EndRun(EndReason nReason = kEndStopped);

    /// A tick of timer 0 or 1 (the timers call it; tests may too).
    void OnTimer(int nIDEvent);
    bool IsTimerActive(int nIDEvent) const;
    bool IsRunning() const { return m_bRunning.load() != 0; }
    /// The timer the active run started (kUserTimer / kProgramTimer), -1 when idle. Ending a run
    /// stops this one, whatever the mode is by then.
    int RunTimer() const { return m_nRunTimer.load(); }

    /// A record file was written from the supply's rows (Save Data): the journals of the user
    /// runs whose rows it holds are no longer needed.
    void OnRecordSaved();
    /// Keep a journal of each run (on by default).
    std::atomic<int> m_bJournal{1};
    CRunJournal m_journal;
    /// Journals of runs that were cut off, each returned once, and the words a front end shows.
    static std::vector<CRunJournal::CutOff> TakeCutOffRuns();
    static QString CutOffMessage(const CRunJournal::CutOff& cutOff);
    /// The protections as words: "OVP", "OCP", "OPP", "OTP", "SCP" (short circuit), joined by
    /// '+'; empty when none has tripped.
    static QString ProtectionText(unsigned nProtection);
    /// What a front end says of a run that ended for `nReason`; empty where nothing needs saying
    /// (done, stopped, interrupted).
    static QString EndMessage(int nReason);
    /// What a front end says when the journal cannot be written.
    static QString JournalFailureMessage(const QString& strFolder, const QString& strReason);

    CPowerSupply* m_pSupply;
    std::atomic<int> m_bRunning{0};
    /// One supply operation at a time between a worker (connect, setpoints) and the ticks: both
    /// write the supply's setpoint digits. Never held while waiting on another thread.
    mutable std::mutex m_hSupplyLock;

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
    /// The supply held a setpoint below what was asked: what it holds at most (0 where unknown).
    void MaximumLearned(float fVolts, float fAmps);
    /// The supply's tripped protections changed (pslink::ProtectionBit values; 0: none, or the
    /// dialect cannot tell): during a run and once a connect's first readings are in.
    void ProtectionChanged(unsigned nProtection);
    /// The link went, came back, met another supply, or trying ended; `nSample` is the sample
    /// count at that moment, `strDetail` the identity that answered, where one did.
    void LinkEvent(int nEvent, const QDateTime& at, int nSample, const QString& strDetail);

private:
    void SetTimer(int nIDEvent);
    void KillTimer(int nIDEvent);
    /// Expands the program at the first tick and applies the next point; true when one was.
    bool ApplyPoint();
    /// Asks the link for readings that reflect the tick's commands; the sample completes when
    /// they are there (at once on the built-in supply).
    void AwaitReadings(int nTimer);
    void CompleteSample(unsigned nSample, int nTimer, bool bFresh);
    CRunSample TakeSample(int nTimer);
    void RunOwedTick();
    CRunSample LampsAndCount(int bProgram) const;
    void Journal(const CRunSample& sample);
    void NoteMaximum();
    /// Tells a change of the protections (and notes a trip in the run's journal).
    void NoteProtection(unsigned nProtection);
    /// Once the link's first readings after a connect are in, tells the protections.
    void WatchProtection();

    // Reconnecting (EngineReconnect.cpp).
    struct Attempt;
    void StartReconnect();
    void StopReconnect(LinkEventKind nWhy);
    /// A tick while the link is down: the second is counted and recorded as one without a reading.
    void GapTick(int nTimer);
    void TryReconnect();
    /// Makes a try under way give up and waits for it.
    void CancelAttempt();
    void OnAttemptDone(unsigned nTicket, bool bSame, bool bOutputOn, const QString& strIdentity);
    void TellLink(LinkEventKind nEvent, const QString& strDetail = QString());

    std::atomic<int> m_bConnecting{0};
    QString m_strIdentity; ///< under m_hSupplyLock
    std::atomic<int> m_nRunTimer{-1};
    QTimer m_tmRun[2];
    bool m_bSampling = false;     ///< a sample waits for the link's answers
    unsigned m_nSampleTicket = 0; ///< the sample awaited; a run's end moves it on
    int m_nOwedTick = -1;         ///< a tick that came while a sample was awaited
    float m_fMaxVolts = 0.0f;     ///< the maximum last reported
    float m_fMaxAmps = 0.0f;
    unsigned m_nProtection = 0;   ///< the protections last told (this object's thread)
    std::string m_rawIdentity;    ///< what the supply answered at connect, under m_hSupplyLock

    std::chrono::milliseconds m_reconnectFor{0};
    bool m_bReconnecting = false;
    bool m_bAfterReconnect = false; ///< the output is never switched on again in this run
    bool m_bOtherTold = false;
    QElapsedTimer m_lostFor;
    QTimer m_tmReconnect;
    unsigned m_nReconnectTicket = 0;
    std::shared_ptr<Attempt> m_pAttempt; ///< the attempt under way, if any
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
