#pragma once

#include "device/Result.h"
#include "device/pslink.h"
#include "engine/RunSample.h"

#include <QString>

#include <functional>
#include <mutex>
#include <vector>

class CPowerSupply;
class CSupplyThread;

/// What a tick's device work came to, handed from the supply's thread to the run.
struct CTickEvent
{
    enum Kind {
        kPoint,       ///< a program point was sent (the tick goes on to its sample)
        kSample,      ///< the tick's sample was taken
        kNoAnswer,    ///< the readings did not come: the link went, or was closed
        kLinkDead,    ///< the link was found lost before anything was sent
        kNothingLeft, ///< a program tick found no point left to play
    };
    Kind nKind = kSample;
    unsigned nTicket = 0; ///< the tick it belongs to
    int nTimer = 0;
    // kPoint: what the preset fields show.
    QString strVoltage;
    QString strCurrent;
    float fVoltage = 0.0f;
    float fCurrent = 0.0f;
    // kSample
    CRunSample sample;
    pslink::UnitMaximum maximum;
    pslink::Refusal refusal;
    // kNothingLeft: the playback had set its finish.
    bool bFinished = false;
};

/// The run's device work, on the supply's thread: preparing a run, each tick's sending and
/// reading through the supply object, the seconds without readings, the point sent again after
/// a reconnect. What it comes to waits here for the run to take it on its own thread; a run that
/// ends takes what is still waiting, and work of an ended run that reaches the supply's thread
/// later does nothing, so a run's end is exact: every sample taken is shown, none after.
class CRunSampler
{
public:
    /// `onEvents` runs on the run's thread whenever events wait.
    CRunSampler(CPowerSupply& supply, CSupplyThread& thread, std::function<void()> onEvents);
    CRunSampler(const CRunSampler&) = delete;
    CRunSampler& operator=(const CRunSampler&) = delete;

    // ---- Handed to the supply's thread (any thread) ----
    /// Resets the sample counter and the wave series and, for a program run, the playback and
    /// the cycles, then loads the program file. Waits for the result (not the UI thread).
    CResult Prepare(bool bProgram, const QString& strPath, int nCycles);
    /// A user run that switches nothing and keeps no record rows in memory (a service samples
    /// for months; what it records goes to disk). Waits as Prepare.
    void PrepareWatch();
    /// How a tick goes about its work.
    struct TickWay
    {
        bool bCheckLink = true;  ///< the run is going: a lost link is told, nothing sent
        bool bCloseLost = false; ///< a lost link is closed at once (the run will not try it again)
        bool bSwitchOn = true;   ///< the output may be switched on (not after a reconnect)
    };
    /// One tick of run `nRun` (the number Close last returned).
    void Tick(unsigned nRun, unsigned nTicket, int nTimer, TickWay way);
    /// A second without a reading: the sample counter goes to `nSample`, and a user run's record
    /// gets a row without values.
    void GapSecond(int nSample, bool bUserRun);
    /// After a reconnect: never switched on again by this run, and a program's point in force
    /// sent again (`bResend`).
    void AfterReconnect(bool bResend);

    // ---- The run's thread ----
    /// Events waiting, in the order they happened.
    std::vector<CTickEvent> Take();
    /// Ends the current run: what it still had waiting is returned, and its work that reaches
    /// the supply's thread from now on does nothing. Returns the next run's number in `*pRun`.
    std::vector<CTickEvent> Close(unsigned* pRun);

private:
    /// Expands the program at the first tick and applies the next point; true when one was.
    bool ApplyPoint();
    void Complete(unsigned nRun, unsigned nTicket, int nTimer, bool bFresh);
    CRunSample TakeSample(int nTimer);
    /// Under m_hLock.
    void Queue(CTickEvent event);

    CPowerSupply& m_supply;
    CSupplyThread& m_thread;
    std::function<void()> m_onEvents;
    /// The run number and the waiting events, between the two threads. Held only for a tick's
    /// own device calls, which hand over or read what the link has and never wait on it.
    std::mutex m_hLock;
    unsigned m_nRun = 0;
    bool m_bKeepRows = true; ///< the supply's record rows grow with the run (not when watching)
    std::vector<CTickEvent> m_events;
};
