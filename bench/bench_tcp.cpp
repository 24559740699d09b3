// How setpoint changes fare on a SCPI unit on the network: tarnwell-sim --tcp on localhost.
//   tcp_setpoint_confirm_ms: median from dsoSetVoltage until the unit has read the value back.
//   tcp_fresh_sample_ms: median from a program tick's two setpoints until a whole poll taken
//     after them is in (AfterFreshSample, what a run's tick waits for).
// Usage: bench_tcp [--changes N]   (default 50)

#include "device/NumberText.h"
#include "device/pslink.h"

#include "BenchSupport.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

void send(std::int16_t (*setter)(int, unsigned char*), int count)
{
    unsigned char d[5];
    numtext::DigitsFromCount(count, d);
    setter(0, d);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bench::UseCLocaleNumbers();
    const int changes = bench::CountOption(argc, argv, "--changes", 50);

    QProcess sim;
    const QString url = bench::StartSim(sim, {"--tcp", "0", "--load", "10"});
    qputenv("TARNWELL_COM1", url.toLocal8Bit());
    unsigned char version[10] = {};
    if (url.isEmpty() || !OpenCOM(0, 0) || !dsoReadVersion(0, version)) {
        std::fprintf(stderr, "bench_tcp: no answer from %s\n", qPrintable(url));
        return 1;
    }
    dsoOpenOutput(0);
    std::vector<double> confirm, fresh;
    for (int n = 0; n < changes; ++n) {
        // Somewhere in the poll cycle: the wait depends on what the link is doing.
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + (n * 37) % 50));
        const auto start = Clock::now();
        send(dsoSetVoltage, 100 + 10 * n);
        confirm.push_back(bench::WaitForLink(pslink::AfterCommandsConfirmed, start));
    }
    for (int n = 0; n < changes; ++n) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + (n * 37) % 50));
        const auto start = Clock::now();
        send(dsoSetVoltage, 300 + 10 * n);
        send(dsoSetCurrent, 500 + 10 * n);
        fresh.push_back(bench::WaitForLink(pslink::AfterFreshSample, start));
    }
    CloseCOM(0);
    sim.closeWriteChannel();
    sim.waitForFinished(3000);
    if (std::count(confirm.begin(), confirm.end(), -1.0) || std::count(fresh.begin(), fresh.end(), -1.0)) {
        std::fprintf(stderr, "bench_tcp: a change was not confirmed\n");
        return 1;
    }
    bench::Print("tcp_setpoint_confirm_ms", bench::Median(confirm), "ms");
    bench::Print("tcp_fresh_sample_ms", bench::Median(fresh), "ms");
    return 0;
}
