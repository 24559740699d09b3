#include "engine/SupplyThread.h"

#include "device/pslink.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QTimer>

#include <condition_variable>
#include <mutex>

// What posting needs, shared with callbacks that may outlive the thread object: once closed,
// nothing more is posted to objects that are about to go.
struct CSupplyThread::Gate
{
    std::mutex lock;
    bool bOpen = true;
    QObject* pSupply = nullptr; ///< lives on the supply thread
    QObject* pHome = nullptr;   ///< lives on the home thread

    bool Send(QObject* pTo, std::function<void()> fn)
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!bOpen)
            return false;
        // Posting only queues: nothing waits under the lock.
        QMetaObject::invokeMethod(pTo, std::move(fn), Qt::QueuedConnection);
        return true;
    }
};

CSupplyThread::CSupplyThread() : m_gate(std::make_shared<Gate>())
{
    m_thread.setObjectName(QStringLiteral("supply"));
    m_gate->pHome = new QObject;
    m_gate->pSupply = new QObject;
    m_gate->pSupply->moveToThread(&m_thread);
    m_thread.start();
}

CSupplyThread::~CSupplyThread()
{
    Stop();
}

void CSupplyThread::Post(std::function<void()> work)
{
    m_gate->Send(m_gate->pSupply, std::move(work));
}

void CSupplyThread::ToHome(std::function<void()> fn)
{
    m_gate->Send(m_gate->pHome, std::move(fn));
}

std::function<void(std::function<void()>)> CSupplyThread::Poster() const
{
    return [gate = m_gate](std::function<void()> work) { gate->Send(gate->pSupply, std::move(work)); };
}

std::function<void(std::function<void()>)> CSupplyThread::HomePoster() const
{
    return [gate = m_gate](std::function<void()> fn) { gate->Send(gate->pHome, std::move(fn)); };
}

bool CSupplyThread::IsCurrent() const
{
    return QThread::currentThread() == &m_thread;
}

void CSupplyThread::Stop()
{
    {
        std::lock_guard<std::mutex> guard(m_gate->lock);
        if (!m_gate->bOpen)
            return;
        // Behind everything handed over so far: the thread ends once that is done.
        QMetaObject::invokeMethod(
            m_gate->pSupply, [] { QThread::currentThread()->quit(); }, Qt::QueuedConnection);
        m_gate->bOpen = false;
    }
    m_thread.wait();
    delete m_gate->pSupply;
    // Results still queued for home concern parts that are going away with the engine.
    delete m_gate->pHome;
    m_gate->pSupply = nullptr;
    m_gate->pHome = nullptr;
}

void CSupplyThread::AwaitDone(std::function<void(std::function<void()>)> start)
{
    struct Waiting
    {
        std::mutex lock;
        std::condition_variable changed;
        bool bDone = false;
        QEventLoop* pLoop = nullptr; ///< the caller's, while it runs
    };
    auto waiting = std::make_shared<Waiting>();
    std::optional<QEventLoop> events;
    if (QThread::currentThread()->eventDispatcher()) {
        events.emplace();
        waiting->pLoop = &*events;
    }
    std::function<void()> done = [waiting] {
        std::lock_guard<std::mutex> guard(waiting->lock);
        waiting->bDone = true;
        if (waiting->pLoop)
            QMetaObject::invokeMethod(waiting->pLoop, &QEventLoop::quit, Qt::QueuedConnection);
        waiting->changed.notify_all();
    };
    if (!m_gate->Send(m_gate->pSupply, [start = std::move(start), done] { start(done); }))
        return; // stopped: nothing will answer
    if (events)
        events->exec();
    // Without an event loop, or when the loop was ended by someone else: wait plainly.
    std::unique_lock<std::mutex> guard(waiting->lock);
    waiting->pLoop = nullptr;
    waiting->changed.wait(guard, [&] { return waiting->bDone; });
}

void CSupplyThread::AwaitFresh(int nDevice, std::optional<std::chrono::milliseconds> timeout,
                               std::function<void(bool)> done, FreshWait nWait)
{
    // Both ways of ending run on this thread, so the first one alone needs no lock.
    auto pending = std::make_shared<std::function<void(bool)>>(std::move(done));
    auto finish = [pending](bool bFresh) {
        if (!*pending)
            return;
        const std::function<void(bool)> fn = std::move(*pending);
        *pending = nullptr;
        fn(bFresh);
    };
    if (timeout)
        QTimer::singleShot(*timeout, m_gate->pSupply, [finish] { finish(false); });
    // A wire link answers on its own thread: the answer is brought here.
    auto answer = [post = Poster(), finish](bool bFresh) { post([finish, bFresh] { finish(bFresh); }); };
    if (nWait == kSampleOnly)
        pslink::AfterFreshSample(nDevice, std::move(answer));
    else
        pslink::AfterFreshReadings(nDevice, std::move(answer));
}
