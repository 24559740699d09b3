// What a Modbus module costs the link: tarnwell-sim as a layout-A module answering each request
// after 20 ms. modbus_setpoint_confirm_ms is from handing a setpoint to the library until the
// module reads it back; modbus_fresh_sample_ms until a whole poll taken after it is in (what a
// run's tick waits for). Medians over the repetitions.
// Usage: bench_modbus [--repeats N]   (default 40)

#include "device/NumberText.h"
#include "device/pslink.h"

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {

using Waiter = void (*)(int, std::function<void(bool)>);

// Milliseconds from a new voltage setpoint until `wait` says done; negative when it said no.
double timedChange(int centivolts, Waiter wait)
{
    auto result = std::make_shared<std::atomic<int>>(-1);
    QElapsedTimer clock;
    clock.start();
    unsigned char digits[5] = {};
    numtext::DigitsFromCount(centivolts, digits);
    dsoSetVoltage(0, digits);
    wait(0, [result](bool ok) { result->store(ok ? 1 : 0); });
    while (result->load() < 0 && clock.elapsed() < 10000)
        QThread::usleep(200);
    const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    return result->load() == 1 ? ms : -1.0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bench::UseCLocaleNumbers();
    const int repeats = bench::CountOption(argc, argv, "--repeats", 40);

    QProcess sim;
    const QString pty = bench::StartSim(sim, {"--dialect", "modbus", "--model", "60062", "--latency", "20"});
    if (pty.isEmpty()) {
        std::fprintf(stderr, "bench_modbus: tarnwell-sim did not start\n");
        return 1;
    }
    qputenv("TARNWELL_COM1", ("modbus:" + pty + "@9600").toLocal8Bit());
    unsigned char version[10] = {};
    if (!OpenCOM(0, 0) || !dsoReadVersion(0, version)) {
        std::fprintf(stderr, "bench_modbus: no module answered on %s\n", qPrintable(pty));
        return 1;
    }
    std::vector<double> confirmed;
    std::vector<double> fresh;
    for (int i = 0; i < repeats; ++i) {
        const int centivolts = 100 + 10 * (i % 50); // a new value each time: every change goes out
        confirmed.push_back(timedChange(centivolts, &pslink::AfterCommandsConfirmed));
        fresh.push_back(timedChange(centivolts + 5, &pslink::AfterFreshSample));
    }
    CloseCOM(0);
    sim.closeWriteChannel();
    sim.waitForFinished(3000);
    bench::Print("modbus_setpoint_confirm_ms", bench::Median(confirmed), "ms");
    bench::Print("modbus_fresh_sample_ms", bench::Median(fresh), "ms");
    return 0;
}
