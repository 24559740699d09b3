// How soon a run has readings again once a pulled cable is plugged back in: tarnwell-sim drops
// its link and comes back on another terminal, found again through its stable by-id link; the
// figure runs from the link's return to the first fresh poll over it (reopen, identity, one
// whole poll), the work of one reconnect attempt. The attempts' one-second cadence comes on top.
// Usage: bench_reconnect [--rounds N]   (default 5 drops)

#include "device/link/PortSetting.h"
#include "device/pslink.h"

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Waits for `done` within `seconds`, pumping the sim's output.
template <typename F>
bool waitFor(F&& done, int seconds)
{
    const auto until = Clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (Clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool freshReadings(int device)
{
    auto fresh = std::make_shared<std::atomic<int>>(-1);
    pslink::AfterFreshReadings(device, [fresh](bool ok) { fresh->store(ok ? 1 : 0); });
    return waitFor([&] { return fresh->load() >= 0; }, 5) && fresh->load() == 1;
}

// One drop and return; the milliseconds from the return to fresh readings, negative on failure.
double oneRound(const QString& byId)
{
    const QString link = QDir(byId).filePath(QStringLiteral("usb-Tarnwell_Sim-if00"));
    QProcess sim;
    const QString pty = bench::StartSim(sim, {"--load", "10", "--drop-after", "0.5", "--drop-for", "1", "--link", link});
    if (pty.isEmpty() || pslink::OpenPort(0, pslink::ReadPortSetting(pty)) == 0 || pslink::ReadIdentity(0).empty())
        return -1.0;
    // The sim prints its new terminal when it is back.
    const bool back = sim.waitForReadyRead(10000) && !sim.readLine().trimmed().isEmpty();
    const auto backAt = Clock::now();
    double ms = -1.0;
    if (back && waitFor([] { return pslink::Reopen(0) != 0; }, 5) && !pslink::ReadIdentity(0).empty()
        && freshReadings(0))
        ms = std::chrono::duration<double, std::milli>(Clock::now() - backAt).count();
    CloseCOM(0);
    sim.closeWriteChannel();
    if (!sim.waitForFinished(3000))
        sim.kill();
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bench::UseCLocaleNumbers();
    const int rounds = bench::CountOption(argc, argv, "--rounds", 5);
    QTemporaryDir dir;
    qputenv("TARNWELL_SERIAL_BY_ID", dir.path().toLocal8Bit());
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const double ms = oneRound(dir.path());
        if (ms < 0.0) {
            std::fprintf(stderr, "bench_reconnect: round %d did not reconnect\n", i + 1);
            return 1;
        }
        times.push_back(ms);
    }
    bench::Print("reconnect_ms", bench::Median(times), "ms");
    return 0;
}
