#include "engine/Reconnector.h"

#include "device/pslink.h"
#include "engine/Connector.h"
#include "engine/SupplyThread.h"

namespace {

constexpr int kTryEveryMs = 1000;
// Bound on the first readings after the identity, so a unit that answers who it is but then
// falls silent is not taken for back.
constexpr std::chrono::seconds kFreshWait{3};

} // namespace

CReconnector::CReconnector(CSupplyThread& thread, const CConnector& connector, int nDevice)
    : m_thread(thread), m_connector(connector), m_nDevice(nDevice)
{
    m_tmTry.setInterval(kTryEveryMs);
    connect(&m_tmTry, &QTimer::timeout, this, &CReconnector::Try);
}

CReconnector::~CReconnector()
{
    if (m_pCancel)
        *m_pCancel = true;
}

bool CReconnector::TimeUp() const
{
    return m_lostFor.isValid() && m_lostFor.elapsed() >= m_time.count();
}

void CReconnector::Start()
{
    m_bTrying = true;
    m_bOtherTold = false;
    m_lostFor.start();
    const int nDevice = m_nDevice;
    m_thread.Post([nDevice] { CloseCOM(nDevice); });
    m_tmTry.start();
    Try();
}

void CReconnector::Stop()
{
    m_bTrying = false;
    m_tmTry.stop();
    ++m_nTicket;
    // A try under way gives up at once, without this thread waiting for it.
    if (m_pCancel)
        *m_pCancel = true;
    const int nDevice = m_nDevice;
    pslink::CancelWaits(nDevice);
    m_thread.Post([nDevice] {
        CloseCOM(nDevice);
        pslink::ResumeWaits(nDevice); // behind the try: what comes next waits as usual
    });
}

void CReconnector::Try()
{
    if (!m_bTrying)
        return;
    if (TimeUp()) {
        Q_EMIT TimeRanOut();
        return;
    }
    if (m_bTryUnderWay)
        return; // still asking; the next second tries again
    m_bTryUnderWay = true;
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    m_pCancel = cancel;
    const unsigned nTicket = m_nTicket;
    m_thread.Post([this, cancel, nTicket] {
        const int nDevice = m_nDevice;
        auto tell = [this, nTicket](bool bSame, bool bOutputOn, const QString& strIdentity) {
            m_thread.ToHome([this, nTicket, bSame, bOutputOn, strIdentity] { OnTried(nTicket, bSame, bOutputOn, strIdentity); });
        };
        // A Stop after the looks below reaches whatever link the try opens.
        std::string identity;
        // Reopen only opens (the same adapter, found again if its number changed); the connect
        // sequence, which switches the output off, is never run here.
        if (!cancel->load() && pslink::Reopen(nDevice) != 0 && !cancel->load())
            identity = pslink::ReadIdentity(nDevice);
        const QString strIdentity = QString::fromStdString(identity).trimmed();
        if (identity.empty() || identity != m_connector.RawIdentity() || cancel->load()) {
            CloseCOM(nDevice); // another supply, or none: not ours to keep open
            tell(false, false, strIdentity);
            return;
        }
        // What the supply holds now, read rather than assumed.
        m_thread.AwaitFresh(nDevice, kFreshWait, [nDevice, cancel, tell, strIdentity](bool bFresh) {
            int nOut = 0, nCv = 0, nCc = 0;
            dsoReadState(nDevice, &nOut, &nCv, &nCc);
            const bool bBack = bFresh && !cancel->load();
            if (!bBack)
                CloseCOM(nDevice);
            tell(bBack, nOut != 0, strIdentity);
        });
    });
}

void CReconnector::OnTried(unsigned nTicket, bool bSame, bool bOutputOn, const QString& strIdentity)
{
    m_bTryUnderWay = false;
    if (nTicket != m_nTicket || !m_bTrying) {
        // Trying ended while this try was under way: the link it opened is not wanted.
        if (bSame && !m_bTrying) {
            const int nDevice = m_nDevice;
            m_thread.Post([nDevice] { CloseCOM(nDevice); });
        }
        return;
    }
    if (!bSame) {
        if (!strIdentity.isEmpty() && !m_bOtherTold) {
            m_bOtherTold = true;
            Q_EMIT Other(strIdentity);
        }
        return;
    }
    m_bTrying = false;
    m_tmTry.stop();
    Q_EMIT Back(bOutputOn, strIdentity);
}
