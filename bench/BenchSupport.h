#pragma once

// What every benchmark program shares: headless by default, figures as
// "BENCH <name> <value> <unit>" lines in C-locale numbers.
#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace bench {

/// Call before the application object: no display is needed unless one was asked for.
inline void UseOffscreenByDefault()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

/// Call after the application object, which takes LC_NUMERIC from the environment.
inline void UseCLocaleNumbers()
{
    std::setlocale(LC_NUMERIC, "C");
}

inline void Print(const char* name, double value, const char* unit)
{
    std::printf("BENCH %s %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

inline double Median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
}

/// The number after `name` on the command line ("--changes 20"), at least 1; `otherwise` without it.
inline int CountOption(int argc, char** argv, const char* name, int otherwise)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return std::max(1, std::atoi(argv[i + 1]));
    return otherwise;
}

/// The device library's AfterCommandsConfirmed / AfterFreshSample / AfterFreshReadings.
using LinkRequest = void (*)(int, std::function<void(bool)>);

/// Milliseconds from `since` until the link reports `request` done on device 0; -1 when it failed
/// or took longer than `limit`.
inline double WaitForLink(LinkRequest request, std::chrono::steady_clock::time_point since,
                          std::chrono::seconds limit = std::chrono::seconds(20))
{
    using Clock = std::chrono::steady_clock;
    auto state = std::make_shared<std::atomic<int>>(-1);
    request(0, [state](bool ok) { state->store(ok ? 1 : 0); });
    const auto deadline = Clock::now() + limit;
    while (state->load() < 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    return state->load() == 1 ? std::chrono::duration<double, std::milli>(Clock::now() - since).count() : -1.0;
}

/// Serves this thread's events until `done` (true) or `timeoutMs` passed (false).
inline bool ServeEventsUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1)); // no hot spin beside what is measured
    }
    return true;
}

#ifdef TARNWELL_SIM_PATH
/// Starts tarnwell-sim with `args`; the path of its pseudo-terminal, empty when it did not start.
inline QString StartSim(QProcess& sim, const QStringList& args)
{
    sim.start(QStringLiteral(TARNWELL_SIM_PATH), args);
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000))
        return {};
    return QString::fromLocal8Bit(sim.readLine()).trimmed();
}
#endif

} // namespace bench
