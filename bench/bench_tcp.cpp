// How setpoint changes fare on a SCPI unit on the network: tarnwell-sim --tcp on localhost.
//   tcp_setpoint_confirm_ms: median from dsoSetVoltage until the unit has read the value back.
//   tcp_fresh_sample_ms: median from a program tick's two setpoints until a whole poll taken
//     after them is in (AfterFreshReadings).
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

// Milliseconds until the link reports the request done; -1 when it failed or took over 10 s.
double waitFor(void (*request)(int, std::function<void(bool)>), Clock::time_point since)
{
    auto state = std::make_shared<std::atomic<int>>(-1);
    request(0, [state](bool ok) { state->store(ok ? 1 : 0); });
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (state->load() < 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    return state->load() == 1 ? std::chrono::duration<double, std::milli>(Clock::now() - since).count() : -1.0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bench::UseCLocaleNumbers();
    int changes = 50;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--changes") == 0)
            changes = std::max(1, std::atoi(argv[i + 1]));

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
        confirm.push_back(waitFor(pslink::AfterCommandsConfirmed, start));
    }
    for (int n = 0; n < changes; ++n) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + (n * 37) % 50));
        const auto start = Clock::now();
        send(dsoSetVoltage, 300 + 10 * n);
        send(dsoSetCurrent, 500 + 10 * n);
        fresh.push_back(waitFor(pslink::AfterFreshReadings, start));
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
