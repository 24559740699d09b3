// A run that survives the bench: when the link is lost the run goes on, the seconds without
// readings are counted and recorded as such, and the same supply is tried about once a second.
// Reconnecting is not connecting: nothing is switched and no setpoint is sent blindly.
#include "engine/RunEngine.h"

#include "device/PowerSupply.h"
#include "device/RecordFormat.h"
#include "device/pslink.h"

#include <QThread>

#include <thread>

namespace {

constexpr int kAttemptEveryMs = 1000;
// Bound on the first readings after the identity, so a unit that answers who it is but then
// falls silent is not taken for back.
constexpr auto kFreshWait = std::chrono::seconds(3);

} // namespace

/// One try at reaching the supply again, on a thread of its own: opening a port and asking who
/// answers can take seconds, which the window must not wait out.
struct CRunEngine::Attempt
{
    std::thread thread;
    std::atomic<bool> bDone{false};
    std::atomic<bool> bCancel{false};
    int nDevice = 0;

    /// Makes a try under way give up: its link is closed until it has noticed.
    void Cancel()
    {
        bCancel = true;
        for (int nTry = 0; nTry < 300 && !bDone.load(); ++nTry) {
            CloseCOM(nDevice);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    ~Attempt()
    {
        if (thread.joinable())
            thread.join();
    }
};

void CRunEngine::CancelAttempt()
{
    if (m_pAttempt)
        m_pAttempt->Cancel();
    m_pAttempt.reset();
}

void CRunEngine::StartReconnect()
{
    m_bReconnecting = true;
    m_bOtherTold = false;
    m_lostFor.start();
    CloseCOM(m_pSupply->m_nDevice);
    TellLink(kLinkGone);
    if (!m_tmReconnect.isActive()) {
        m_tmReconnect.setInterval(kAttemptEveryMs);
        m_tmReconnect.start();
    }
    TryReconnect();
}

void CRunEngine::StopReconnect(LinkEventKind nWhy)
{
    m_bReconnecting = false;
    m_tmReconnect.stop();
    ++m_nReconnectTicket;
    // A try under way gives up at once; whatever it opened is closed by it.
    if (m_pAttempt)
        m_pAttempt->bCancel = true;
    CloseCOM(m_pSupply->m_nDevice);
    TellLink(nWhy);
}

void CRunEngine::GapTick(int nTimer)
{
    CPowerSupply& supply = *m_pSupply;
    const int nSample = ++supply.m_nSample;
    std::string row;
    recordfile::AppendGapRow(row, nSample);
    if (nTimer == kUserTimer) {
        std::lock_guard<std::mutex> guard(supply.m_hLock);
        supply.m_rows.push_back(row + '\n');
    }
    if (m_nJournal != 0)
        m_journal.Append(std::move(row));
    CRunSample sample;
    sample.nSample = nSample;
    sample.bProgram = nTimer == kProgramTimer ? 1 : 0;
    sample.bGap = 1;
    Q_EMIT Sampled(sample);
    if (m_lostFor.elapsed() >= m_reconnectFor.count()) {
        StopReconnect(kLinkGaveUp);
        EndRun(kEndLinkLost);
    }
}

void CRunEngine::TryReconnect()
{
    if (!m_bReconnecting)
        return;
    if (m_lostFor.elapsed() >= m_reconnectFor.count()) {
        StopReconnect(kLinkGaveUp);
        EndRun(kEndLinkLost);
        return;
    }
    if (m_pAttempt && !m_pAttempt->bDone.load())
        return; // still asking; the next second tries again
    m_pAttempt.reset();
    auto attempt = std::make_shared<Attempt>();
    attempt->nDevice = m_pSupply->m_nDevice;
    m_pAttempt = attempt;
    const unsigned nTicket = m_nReconnectTicket;
    const int nDevice = m_pSupply->m_nDevice;
    const std::shared_ptr<Presence> presence = m_pPresence;
    attempt->thread = std::thread([this, attempt, presence, nTicket, nDevice] {
        bool bSame = false;
        bool bOutputOn = false;
        std::string identity;
        {
            // One supply operation at a time: a connect or a setpoint waits for this try.
            std::lock_guard<std::mutex> guard(m_hSupplyLock);
            // Reopen only opens (the same adapter, found again if its number changed); the
            // connect sequence, which switches the output off, is never run here.
            if (!attempt->bCancel.load() && pslink::Reopen(nDevice) != 0 && !attempt->bCancel.load())
                identity = pslink::ReadIdentity(nDevice);
            bSame = !identity.empty() && identity == m_rawIdentity && !attempt->bCancel.load();
            if (bSame) {
                // What the supply holds now, read rather than assumed.
                auto fresh = std::make_shared<std::atomic<int>>(-1);
                pslink::AfterFreshReadings(nDevice, [fresh](bool bOk) { fresh->store(bOk ? 1 : 0); });
                const auto until = std::chrono::steady_clock::now() + kFreshWait;
                while (fresh->load() < 0 && std::chrono::steady_clock::now() < until)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                int nOut = 0, nCv = 0, nCc = 0;
                dsoReadState(nDevice, &nOut, &nCv, &nCc);
                bSame = fresh->load() == 1 && !attempt->bCancel.load();
                bOutputOn = nOut != 0;
            }
            if (!bSame || attempt->bCancel.load())
                CloseCOM(nDevice); // another supply, or none: not ours to keep open
        }
        const QString strIdentity = QString::fromStdString(identity).trimmed();
        std::lock_guard<std::mutex> guard(presence->lock);
        if (presence->bAlive)
            QMetaObject::invokeMethod(
                this, [this, nTicket, bSame, bOutputOn, strIdentity] { OnAttemptDone(nTicket, bSame, bOutputOn, strIdentity); },
                Qt::QueuedConnection);
        attempt->bDone = true;
    });
}

void CRunEngine::OnAttemptDone(unsigned nTicket, bool bSame, bool bOutputOn, const QString& strIdentity)
{
    if (nTicket != m_nReconnectTicket || !m_bReconnecting) {
        // The run ended while this try was under way: the link it opened is not wanted.
        if (bSame && !m_bReconnecting)
            CloseCOM(m_pSupply->m_nDevice);
        return;
    }
    if (!bSame) {
        if (!strIdentity.isEmpty() && !m_bOtherTold) {
            m_bOtherTold = true;
            TellLink(kLinkOther, strIdentity);
        }
        return;
    }
    m_bReconnecting = false;
    m_tmReconnect.stop();
    m_bAfterReconnect = true;
    m_pSupply->m_bOpenOutput = 0; // never switched on again by this run
    TellLink(kLinkBack, strIdentity);
    if (m_nRunTimer.load() != kProgramTimer)
        return;
    if (!bOutputOn) {
        // The supply lost its power, or was switched off: the program is not played on blind.
        EndRun(kEndOutputOff);
        return;
    }
    // The point in force when the link went, sent again: the program goes on from there.
    if (m_pSupply->m_nPlayIndex.load() > 0) {
        std::lock_guard<std::mutex> guard(m_hSupplyLock);
        dsoSetVoltage(m_pSupply->m_nDevice, m_pSupply->m_abSetVoltage);
        dsoSetCurrent(m_pSupply->m_nDevice, m_pSupply->m_abSetCurrent);
    }
}

QString CRunEngine::EndMessage(int nReason)
{
    switch (nReason) {
    case kEndLinkLost:
        return QStringLiteral("The supply stopped answering; the run has ended. Its samples are kept.");
    case kEndOutputOff:
        return QStringLiteral("The supply came back with its output off (it may have lost its power); the program "
                              "run has stopped and the output stays off. Its samples are kept.");
    case kEndFileError:
        return QStringLiteral("The program file could not be read; the run has not started.");
    default:
        return {};
    }
}

void CRunEngine::TellLink(LinkEventKind nEvent, const QString& strDetail)
{
    const QDateTime now = QDateTime::currentDateTime();
    const int nSample = m_pSupply->m_nSample.load();
    static const char* const kNotes[] = {"link lost", "link back", "another supply answers", "gave up reconnecting",
                                         "stopped reconnecting"};
    QString strNote = QStringLiteral("sample %1: %2").arg(nSample).arg(QLatin1String(kNotes[nEvent]));
    if (!strDetail.isEmpty())
        strNote += QStringLiteral(" (%1)").arg(strDetail);
    if (m_nJournal != 0)
        m_journal.Note(now, strNote);
    Q_EMIT LinkEvent(nEvent, now, nSample, strDetail);
}
