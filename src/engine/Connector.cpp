#include "engine/Connector.h"

#include "device/PowerSupply.h"
#include "device/pslink.h"
#include "engine/EngineText.h"
#include "engine/PortsView.h"
#include "engine/SupplyThread.h"
#include "engine/SupplyWatch.h"

CConnector::CConnector(CPowerSupply& supply, CSupplyThread& thread, CSupplyWatch& watch)
    : m_supply(supply), m_thread(thread), m_watch(watch)
{
}

CResult CConnector::Connect(Mode nMode, const std::atomic<int>* pCancel)
{
    const unsigned nAborts = m_nAborts.load();
    return m_thread.Wait<CResult>([this, nMode, pCancel, nAborts] { return ConnectHere(nMode, pCancel, nAborts); });
}

CResult CConnector::ConnectHere(Mode nMode, const std::atomic<int>* pCancel, unsigned nAborts)
{
    const int nDevice = m_supply.m_nDevice;
    const QString strPort = CPortsView::Name(m_supply.m_nPort.load());
    // Announced before the link opens, so a front end closing from here on finds the connect to
    // cut short; an Abort after the look below reaches whatever link the sequence opens.
    m_bConnecting = 1;
    if (m_nAborts.load() != nAborts || (pCancel && pCancel->load() != 0)) {
        m_bConnecting = 0;
        return CResult::Failure(CResult::kAborted, strPort);
    }
    m_thread.ToHome([this] { m_watch.ForgetMaximum(); });
    std::string identity;
    const int nConnected = nMode == kConnectFull ? m_supply.Connect(&identity) : m_supply.Open(&identity);
    {
        std::lock_guard<std::mutex> guard(m_hLock);
        m_strIdentity = nConnected != 0 ? enginetext::PrintableIdentity(identity) : QString();
        m_rawIdentity = nConnected != 0 ? identity : std::string();
        m_strNotice = nConnected != 0 ? pslink::UnitNotice(nDevice) : QString();
    }
    m_bConnecting = 0;
    if (nConnected != 0) {
        WatchProtection();
        return CResult::Done(strPort);
    }
    // A port that could not be opened is said, with what to do about it; a supply that is there
    // but silent is only that.
    const QString strWhy = pslink::LastOpenError(nDevice);
    CloseCOM(nDevice);
    if (!strWhy.isEmpty())
        return CResult::Failure(CResult::kNoPort, strPort, strWhy);
    return CResult::Failure(CResult::kNoAnswer, strPort, enginetext::NoAnswer());
}

void CConnector::WatchProtection()
{
    const int nDevice = m_supply.m_nDevice;
    m_thread.AwaitFresh(nDevice, std::nullopt, [this, nDevice](bool bFresh) {
        if (!bFresh)
            return;
        const unsigned nProtection = pslink::ReadProtection(nDevice);
        m_thread.ToHome([this, nProtection] { m_watch.NoteProtection(nProtection); });
    });
}

void CConnector::Disconnect()
{
    const int nDevice = m_supply.m_nDevice;
    m_thread.Post([nDevice] { CloseCOM(nDevice); });
}

void CConnector::Abort()
{
    ++m_nAborts;
    // A connect waiting on a silent supply ends at once; one that has not opened yet opens a
    // link that gives up as soon as it would wait. Connects handed over later wait as usual.
    const int nDevice = m_supply.m_nDevice;
    pslink::CancelWaits(nDevice);
    m_thread.Post([nDevice] { pslink::ResumeWaits(nDevice); });
}

QString CConnector::Identity() const
{
    std::lock_guard<std::mutex> guard(m_hLock);
    return m_strIdentity;
}

QString CConnector::Notice() const
{
    std::lock_guard<std::mutex> guard(m_hLock);
    return m_strNotice;
}

std::string CConnector::RawIdentity() const
{
    std::lock_guard<std::mutex> guard(m_hLock);
    return m_rawIdentity;
}
