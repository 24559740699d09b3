#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <memory>

class CConnector;
class CSupplyThread;

/// Reaching a run's supply again after its link was lost: about once a second, for the time
/// given, a try on the supply's thread reopens the port (the same adapter, found again), asks the
/// identity and takes the supply back only when it is the same one and its readings answer.
/// Reconnecting is not connecting: nothing is switched and no setpoint is sent. Lives on the run's
/// thread; a try never holds it up.
class CReconnector : public QObject
{
    Q_OBJECT
public:
    CReconnector(CSupplyThread& thread, const CConnector& connector, int nDevice);
    ~CReconnector() override;

    /// How long to keep trying; zero (the default) means a lost link is not tried again.
    void SetTime(std::chrono::milliseconds duration) { m_time = duration; }
    std::chrono::milliseconds Time() const { return m_time; }
    bool IsTrying() const { return m_bTrying; }
    /// The time given has passed since the link went.
    bool TimeUp() const;

    /// The link went: it is closed, and tried again from now on.
    void Start();
    /// No more tries: a try under way gives up, and the link is closed.
    void Stop();

Q_SIGNALS:
    /// The same supply answers again, its readings with it; trying has ended.
    void Back(bool bOutputOn, const QString& strIdentity);
    /// Another supply answers on the port (told once per loss).
    void Other(const QString& strIdentity);
    /// The time given passed without the supply coming back; trying goes on until Stop().
    void TimeRanOut();

private:
    void Try();
    void OnTried(unsigned nTicket, bool bSame, bool bOutputOn, const QString& strIdentity);

    CSupplyThread& m_thread;
    const CConnector& m_connector;
    const int m_nDevice;
    std::chrono::milliseconds m_time{0};
    bool m_bTrying = false;
    bool m_bTryUnderWay = false;
    bool m_bOtherTold = false;
    unsigned m_nTicket = 0; ///< moves on with each Stop: an answer for an older loss is not ours
    std::shared_ptr<std::atomic<bool>> m_pCancel; ///< the try under way gives up when set
    QElapsedTimer m_lostFor;
    QTimer m_tmTry;
};
