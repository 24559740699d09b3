#include "device/link/WireLink.h"

#include "device/link/LinkWorker.h"
#include "device/link/TcpTransport.h"

#include <QThread>

#include <chrono>
#include <utility>

namespace pslink {

namespace {

using std::chrono::milliseconds;
using Change = LinkWorker::Change;

constexpr milliseconds kOpenTimeout{3000};
constexpr milliseconds kCloseTimeout{900}; // CloseCOM must be back within a second

// The callers' face of a wire link: every call hands work to the link thread or reads what
// it last learned.
class WireLink : public Link
{
  public:
    WireLink(std::shared_ptr<LinkWorker> worker, QThread* thread)
        : m_worker(std::move(worker)), m_thread(thread)
    {
    }
    ~WireLink() override { close(); }

    std::string readVersion() override { return m_worker->identify(); }
    void setOutput(bool on) override { m_worker->queue({Change::Output, on ? 1 : 0}); }
    void openPower() override {} // no dialect has a remote-takeover command worth sending

    bool setVoltage(int centivolts) override
    {
        m_worker->queue({Change::Voltage, centivolts});
        return m_worker->portOpen();
    }

    bool setCurrent(int milliamps) override
    {
        m_worker->queue({Change::Current, milliamps});
        return m_worker->portOpen();
    }

    int readVoltage() override { return m_worker->readings().centivolts; }
    int readCurrent() override { return m_worker->readings().milliamps; }

    void readState(int& out, int& cv, int& cc) override
    {
        const SupplyState state = m_worker->readings().state;
        out = state.outputOn ? 1 : 0;
        cv = state.constantVoltage ? 1 : 0;
        cc = state.constantCurrent ? 1 : 0;
    }

    bool alive() override { return m_worker->alive(); }
    UnitMaximum learnedMaximum() override { return m_worker->maximum(); }
    unsigned readProtection() override { return m_worker->readings().state.protection; }
    QString refusal() override { return m_worker->refusal(); }
    QString lastFault() override { return m_worker->lastFault(); }
    QString unitSummary() override { return m_worker->unitSummary(); }
    QString notice() override { return m_worker->notice(); }
    const DialectInfo* dialect() const override { return m_worker->dialect(); }

    void afterCommands(Awaited what, std::function<void(bool ok)> done) override
    {
        m_worker->afterCommands(what, std::move(done));
    }
    Refusal lastRefusal() override { return m_worker->refused(); }
    void askSetpoints() override { m_worker->askSetpoints(); }
    HeldSetpoints heldSetpoints() override { return m_worker->setpoints(); }

    void cancelWaits() override { m_worker->cancelWaits(); }

    void close() override
    {
        if (m_thread) {
            if (m_worker->stop(kCloseTimeout)) {
                m_thread->wait();
                m_thread.reset();
            } else {
                // Stuck in the driver: it owns its share of the worker and cleans up when it ends.
                QThread* stuck = m_thread.release();
                QObject::connect(stuck, &QThread::finished, stuck, &QObject::deleteLater);
                if (stuck->isFinished())
                    stuck->deleteLater(); // it ended before the connection was made
            }
        }
        // Whoever still waits hears "no" now, and nobody after this returns.
        m_worker->dismissWaiters();
    }

  private:
    std::shared_ptr<LinkWorker> m_worker;
    std::unique_ptr<QThread> m_thread;
};

} // namespace

std::unique_ptr<Link> OpenWireLink(const PortSetting& setting, QString* error)
{
    auto worker = std::make_shared<LinkWorker>(setting);
    // A QThread, not a bare std::thread: the serial port's notifiers want one.
    QThread* thread = QThread::create([worker] { worker->run(); });
    thread->setObjectName(QStringLiteral("wire link"));
    auto link = std::make_unique<WireLink>(worker, thread);
    thread->start();
    // A connect gives up by itself after kConnectTimeout, and then says why: let it.
    const milliseconds openTimeout = setting.onNetwork() ? kConnectTimeout + milliseconds(1000) : kOpenTimeout;
    if (!worker->waitOpened(openTimeout, error))
        return nullptr; // the link's destructor stops and joins the thread
    return link;
}

} // namespace pslink
