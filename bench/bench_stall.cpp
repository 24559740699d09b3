// How long the window's UI thread is ever held up while the supply keeps the link waiting: the
// Control page (not shown, so painting does not count) connects to a unit that never answers
// (tarnwell-sim told to hang: every identity probe runs out), and then, connected to a unit that
// answers, runs until the unit falls silent, tries to reach it again for a while, and has it back.
// The figure is the longest event the UI thread handled while that went on during which it
// waited on anything. (A hidden page's text fields cost Qt milliseconds of font work now and
// then; that is the UI thread's own work, not a wait, and is not counted.)
// The rounds' median is printed.
// Usage: bench_stall [--rounds N]   (default 3; BENCH_STALL_DEBUG=1 lists every event over 2 ms on standard error)

#include "control/DlgControl.h"
#include "device/pslink.h"
#include "platform/Dialogs.h"

#include "BenchSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include <sys/resource.h>

namespace {

using Clock = std::chrono::steady_clock;

// Times every event the UI thread handles while measuring. A stall is an event during which
// the UI thread waited (it gave up the processor of its own accord: a lock, a sleep, the
// wire), for as long as the event took. Work it does itself, such as laying out a text, is not
// the supply's doing, and being preempted by another program on a busy machine is no stall.
class CTimedApp : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override
    {
        if (!m_bMeasuring || QThread::currentThread() != thread())
            return QApplication::notify(receiver, event);
        const auto wallStart = Clock::now();
        const long waitsBefore = VoluntarySwitches();
        const int type = static_cast<int>(event->type());
        const char* name = receiver->metaObject()->className();
        const bool handled = QApplication::notify(receiver, event);
        const double wall = std::chrono::duration<double, std::milli>(Clock::now() - wallStart).count();
        const bool waited = VoluntarySwitches() != waitsBefore;
        const double ms = waited ? wall : 0.0;
        if (wall > 2.0 && qEnvironmentVariableIsSet("BENCH_STALL_DEBUG"))
            std::fprintf(stderr, "event of %.1f ms (%s): %s event %d\n", wall, waited ? "waited" : "computed", name, type);
        m_longest = std::max(m_longest, ms);
        return handled;
    }

    bool m_bMeasuring = false;
    double m_longest = 0.0;

private:
    static long VoluntarySwitches()
    {
        rusage usage{};
        getrusage(RUSAGE_THREAD, &usage);
        return usage.ru_nvcsw;
    }
};

void tell(QProcess& sim, const char* line)
{
    sim.write(QByteArray(line) + '\n');
    sim.waitForBytesWritten(1000);
}

} // namespace

int main(int argc, char** argv)
{
    bench::UseOffscreenByDefault();
    CTimedApp app(argc, argv);
    bench::UseCLocaleNumbers();
    platform::SetDialogHandlers([](const QString& text) { std::fprintf(stderr, "bench_stall: %s\n", qPrintable(text)); },
                                {});
    pslink::SetSimulateAll(false);

    QProcess sim;
    const QString pty = bench::StartSim(sim, {"--latency", "20", "--load", "10"});
    if (pty.isEmpty()) {
        std::fprintf(stderr, "bench_stall: tarnwell-sim did not start\n");
        return 1;
    }
    // No dialect named: the connect tries every probe in turn, each running out.
    qputenv("TARNWELL_COM1", pty.toLocal8Bit());
    const int rounds = bench::CountOption(argc, argv, "--rounds", 3);
    std::vector<double> connectStalls;
    std::vector<double> reconnectStalls;
    std::vector<double> roundStalls;
    for (int round = 0; round < rounds; ++round) {
        CDlgControl page;
        app.m_longest = 0.0;
        app.m_bMeasuring = true;

        // A connect to a unit that never answers, until it gives up.
        tell(sim, "hang");
        page.OnBnClickedConnect();
        const bool began = bench::ServeEventsUntil([&] { return page.m_engine.Connector().IsConnecting(); }, 5000);
        const bool gaveUp = began && bench::ServeEventsUntil([&] { return !page.m_engine.Connector().IsConnecting(); }, 30000);
        const double connectStall = app.m_longest;
        if (!gaveUp || page.m_bConnected.load() != 0) {
            std::fprintf(stderr, "bench_stall: the connect to a silent unit did not give up\n");
            return 1;
        }

        // A run whose unit falls silent: the link goes, tries come once a second, the unit is back.
        tell(sim, "resume");
        app.m_longest = 0.0;
        page.OnBnClickedConnect();
        bool ok = bench::ServeEventsUntil([&] { return page.m_bConnected.load() != 0; }, 15000);
        page.OnBnClickedOn();
        ok = ok && bench::ServeEventsUntil([&] { return page.IsRunning() && page.m_nElapsed >= 1; }, 5000);
        tell(sim, "hang");
        ok = ok && bench::ServeEventsUntil([&] { return page.m_engine.Run().IsReconnecting(); }, 10000);
        // Long enough for a few tries, each waiting out the silent unit's identity probes.
        bench::ServeEventsUntil([] { return false; }, 4000);
        tell(sim, "resume");
        ok = ok && bench::ServeEventsUntil([&] { return !page.m_engine.Run().IsReconnecting() && page.IsRunning(); }, 15000);
        const double reconnectStall = app.m_longest;
        app.m_bMeasuring = false;
        if (!ok) {
            std::fprintf(stderr, "bench_stall: the run did not lose its link and get it back\n");
            return 1;
        }
        page.OnBnClickedOff();
        bench::ServeEventsUntil([&] { return !page.IsRunning(); }, 5000);
        page.OnBnClickedConnect();
        bench::ServeEventsUntil([&] { return page.m_bConnected.load() == 0; }, 5000);
        connectStalls.push_back(connectStall);
        reconnectStalls.push_back(reconnectStall);
        roundStalls.push_back(std::max(connectStall, reconnectStall));
    }
    // The median round: one wait that a busy machine's scheduler caused (a thread preempted
    // while it held a lock the UI thread then wanted) does not make the figure.
    bench::Print("ui_stall_connect_silent_ms", bench::Median(connectStalls), "ms");
    bench::Print("ui_stall_reconnect_ms", bench::Median(reconnectStalls), "ms");
    bench::Print("ui_stall_max_ms", bench::Median(roundStalls), "ms");
    qunsetenv("TARNWELL_COM1");
    sim.closeWriteChannel();
    if (!sim.waitForFinished(3000))
        sim.kill();
    return 0;
}
