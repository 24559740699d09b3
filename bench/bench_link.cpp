// What a device-library call costs the UI thread with a serial supply: tarnwell-sim emulating
// 9600 baud and 50 ms response latency, one Control-page tick a second. For comparison, the
// same calls made synchronously on the wire.
// Usage: bench_link [--ticks N]   (default 100 one-second ticks)

#include "device/link/Dialects.h"
#include "device/link/SerialTransport.h"
#include "device/link/Session.h"
#include "device/NumberText.h"
#include "device/pslink.h"

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QProcess>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double timed(const std::function<void()>& call)
{
    const auto start = Clock::now();
    call();
    return msSince(start);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bench::UseCLocaleNumbers();
    const int ticks = bench::CountOption(argc, argv, "--ticks", 100);

    QProcess sim;
    const QString pty =
        bench::StartSim(sim, {"--dialect", "text", "--latency", "50", "--baud", "9600", "--load", "10"});
    if (pty.isEmpty()) {
        std::fprintf(stderr, "bench_link: tarnwell-sim did not start\n");
        return 1;
    }
    qputenv("TARNWELL_COM1", ("text:" + pty).toLocal8Bit());

    unsigned char version[10] = {};
    if (!OpenCOM(0, 0) || !dsoReadVersion(0, version)) {
        std::fprintf(stderr, "bench_link: no answer on %s\n", qPrintable(pty));
        return 1;
    }
    unsigned char v[5], i[5];
    dsoCloseOutput(0);
    numtext::DigitsFromCount(500, v);
    numtext::DigitsFromCount(1000, i);
    dsoSetVoltage(0, v);
    dsoSetCurrent(0, i);
    dsoOpenPower(0);
    dsoOpenOutput(0);

    // A program run's tick: the next point goes out, then the sample is read.
    std::vector<double> uiCalls;
    auto next = Clock::now();
    for (int t = 0; t < ticks; ++t) {
        next += std::chrono::seconds(1);
        std::this_thread::sleep_until(next);
        numtext::DigitsFromCount(100 + (t % 3) * 100, v);
        numtext::DigitsFromCount(200 + (t % 3) * 100, i);
        int out = 0, cv = 0, cc = 0;
        uiCalls.push_back(timed([&] { dsoSetVoltage(0, v); }));
        uiCalls.push_back(timed([&] { dsoSetCurrent(0, i); }));
        uiCalls.push_back(timed([&] { dsoReadState(0, &out, &cv, &cc); }));
        uiCalls.push_back(timed([&] { dsoReadVoltage(0, v); }));
        uiCalls.push_back(timed([&] { dsoReadCurrent(0, i); }));
        uiCalls.push_back(timed([&] { (void)dsoLinkAlive(0); }));
    }
    CloseCOM(0);

    // The same calls waiting on the wire, as a link without its own thread would.
    std::vector<double> syncCalls;
    {
        std::atomic<bool> stop{false};
        pslink::SerialTransport transport(stop);
        if (!transport.open(*pslink::ParsePortSetting(pty))) {
            std::fprintf(stderr, "bench_link: cannot reopen %s\n", qPrintable(pty));
            return 1;
        }
        pslink::Session session(transport, pslink::FindDialect("text"));
        for (int t = 0; t < std::min(ticks, 10); ++t) {
            syncCalls.push_back(timed([&] { session.setVoltage(100 + (t % 3) * 100); }));
            syncCalls.push_back(timed([&] { session.setCurrent(200 + (t % 3) * 100); }));
            syncCalls.push_back(timed([&] { (void)session.queryState(); }));
            syncCalls.push_back(timed([&] { (void)session.queryVoltage(); }));
            syncCalls.push_back(timed([&] { (void)session.queryCurrent(); }));
        }
    }
    sim.closeWriteChannel();
    sim.waitForFinished(3000);

    bench::Print("ui_call_max_ms", *std::max_element(uiCalls.begin(), uiCalls.end()), "ms");
    bench::Print("ui_call_median_ms", bench::Median(uiCalls), "ms");
    bench::Print("sync_call_median_ms", bench::Median(syncCalls), "ms");
    return 0;
}
