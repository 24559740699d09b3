#include "engine/RunSampler.h"

#include "device/NumberText.h"
#include "device/PowerSupply.h"
#include "device/RecordFormat.h"
#include "device/SupplyLimits.h"
#include "engine/RunReasons.h"
#include "engine/SupplyThread.h"

#include <utility>

CRunSampler::CRunSampler(CPowerSupply& supply, CSupplyThread& thread, std::function<void()> onEvents)
    : m_supply(supply), m_thread(thread), m_onEvents(std::move(onEvents))
{
}

void CRunSampler::PrepareWatch()
{
    Prepare(false, QString(), 0);
    m_thread.Wait<bool>([this] {
        m_supply.m_bOpenOutput = 0;
        m_bKeepRows = false;
        return true;
    });
}

CResult CRunSampler::Prepare(bool bProgram, const QString& strPath, int nCycles)
{
    return m_thread.Wait<CResult>([this, bProgram, strPath, nCycles] {
        CPowerSupply& supply = m_supply;
        supply.m_nSample = 0;
        supply.m_nWindow = 0;
        {
            std::lock_guard<std::mutex> guard(supply.m_hLock);
            supply.m_logVoltage.clear();
            supply.m_logCurrent.clear();
        }
        // A finish left over from an earlier run must not end this one.
        supply.m_bFinished = 0;
        m_bKeepRows = true;
        if (!bProgram) {
            supply.m_bOpenOutput = 1;
            return CResult::Done();
        }
        supply.ResetPlayback();
        supply.m_nCycles = nCycles;
        const CResult loaded = supply.Load(strPath, false);
        supply.m_bExpandPending = 1;
        return loaded;
    });
}

void CRunSampler::Tick(unsigned nRun, unsigned nTicket, int nTimer, TickWay way)
{
    m_thread.Post([this, nRun, nTicket, nTimer, way] {
        std::unique_lock<std::mutex> guard(m_hLock);
        if (nRun != m_nRun)
            return; // the run ended before its tick came here
        CTickEvent event;
        event.nTicket = nTicket;
        event.nTimer = nTimer;
        // A supply that stopped answering would only give zeros; what was recorded stays for saving.
        if (way.bCheckLink && dsoLinkAlive(m_supply.m_nDevice) == 0) {
            if (way.bCloseLost)
                CloseCOM(m_supply.m_nDevice);
            event.nKind = CTickEvent::kLinkDead;
            Queue(std::move(event));
            return;
        }
        if (nTimer == CRunReasons::kUserTimer) {
            m_supply.BeginRecordSample();
        } else if (!ApplyPoint()) {
            event.nKind = CTickEvent::kNothingLeft;
            event.bFinished = m_supply.m_bFinished.exchange(0) != 0;
            Queue(std::move(event));
            return;
        } else {
            event.nKind = CTickEvent::kPoint;
            event.strVoltage = m_supply.m_strSetVoltage;
            event.strCurrent = m_supply.m_strSetCurrent;
            event.fVoltage = m_supply.m_fVoltage;
            event.fCurrent = m_supply.m_fCurrent;
            Queue(std::move(event));
            if (way.bSwitchOn)
                m_supply.BeginProgramSample();
        }
        guard.unlock();
        // A wire link answers later, on its own thread; the built-in supply at once.
        m_thread.AwaitFresh(
            m_supply.m_nDevice, std::nullopt,
            [this, nRun, nTicket, nTimer](bool bFresh) { Complete(nRun, nTicket, nTimer, bFresh); },
            CSupplyThread::kSampleOnly);
    });
}

bool CRunSampler::ApplyPoint()
{
    CPowerSupply& supply = m_supply;
    if (supply.m_bExpandPending.exchange(0) != 0)
        supply.ExpandProgram();
    // Whether a point was played, from the play index rather than m_bFinished: a finished run
    // must not read one more sample and record it.
    const int nPlayed = supply.m_nPlayIndex.load();
    supply.ApplyNextPoint();
    return supply.m_nPlayIndex.load() != nPlayed;
}

void CRunSampler::Complete(unsigned nRun, unsigned nTicket, int nTimer, bool bFresh)
{
    std::lock_guard<std::mutex> guard(m_hLock);
    // A run that ended meanwhile (OFF, a disconnect, a closing window) drops its sample.
    if (nRun != m_nRun)
        return;
    CTickEvent event;
    event.nTicket = nTicket;
    event.nTimer = nTimer;
    if (!bFresh) {
        // No answers: either the link is gone, which the next tick finds, or it was closed. A
        // point played but never measured may not have reached the supply: it is played again
        // once the supply is back, so the program skips none of its points.
        if (nTimer != CRunReasons::kUserTimer) {
            std::lock_guard<std::mutex> series(m_supply.m_hLock);
            if (m_supply.m_nPlayIndex.load() > 0)
                --m_supply.m_nPlayIndex;
        }
        event.nKind = CTickEvent::kNoAnswer;
        Queue(std::move(event));
        return;
    }
    event.nKind = CTickEvent::kSample;
    event.sample = TakeSample(nTimer);
    if (!m_bKeepRows) {
        std::lock_guard<std::mutex> rows(m_supply.m_hLock);
        m_supply.m_rows.clear();
    }
    event.maximum = pslink::LearnedMaximum(m_supply.m_nDevice);
    event.refusal = pslink::LastRefusal(m_supply.m_nDevice);
    Queue(std::move(event));
}

CRunSample CRunSampler::TakeSample(int nTimer)
{
    CPowerSupply& supply = m_supply;
    if (nTimer == CRunReasons::kUserTimer)
        supply.TakeRecordSample();
    else
        supply.TakeProgramSample();
    CRunSample sample = LampsAndCount(supply, nTimer == CRunReasons::kUserTimer ? 0 : 1);
    if (nTimer == CRunReasons::kUserTimer) {
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

void CRunSampler::GapSecond(int nSample, bool bUserRun)
{
    m_thread.Post([this, nSample, bUserRun] {
        m_supply.m_nSample = nSample;
        if (!bUserRun || !m_bKeepRows)
            return;
        std::string row;
        recordfile::AppendGapRow(row, nSample);
        std::lock_guard<std::mutex> guard(m_supply.m_hLock);
        m_supply.m_rows.push_back(row + '\n');
    });
}

void CRunSampler::AfterReconnect(bool bResend)
{
    m_thread.Post([this, bResend] {
        m_supply.m_bOpenOutput = 0;
        // The point in force when the link went, sent again: the program goes on from there.
        if (bResend && m_supply.m_nPlayIndex.load() > 0) {
            dsoSetVoltage(m_supply.m_nDevice, m_supply.m_abSetVoltage);
            dsoSetCurrent(m_supply.m_nDevice, m_supply.m_abSetCurrent);
        }
    });
}

void CRunSampler::Queue(CTickEvent event)
{
    m_events.push_back(std::move(event));
    m_thread.ToHome(m_onEvents);
}

std::vector<CTickEvent> CRunSampler::Take()
{
    std::lock_guard<std::mutex> guard(m_hLock);
    return std::exchange(m_events, {});
}

std::vector<CTickEvent> CRunSampler::Close(unsigned* pRun)
{
    std::lock_guard<std::mutex> guard(m_hLock);
    *pRun = ++m_nRun;
    return std::exchange(m_events, {});
}
