// The Control page against the built-in simulated supply, with its real timers and worker:
// how evenly a program run's one-second points fall (a one-hour program must play its 3600
// points in 3600 +- 1 s, so the schedule must not drift), how late the worker notices the end
// of a run, and how long a queued command waits for the worker.
// Usage: bench_control [--points N]   (default 10 one-second points, at least 2)

#include "control/DlgControl.h"
#include "widgets/EditEX.h"
#include "device/pslink.h"
#include "platform/Dialogs.h"

#include "BenchSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

int main(int argc, char** argv)
{
    bench::UseOffscreenByDefault();
    QApplication app(argc, argv);
    bench::UseCLocaleNumbers();
    int points = 10;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--points") == 0)
            points = std::max(2, std::atoi(argv[i + 1]));
    }

    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("program.csv"));
    {
        QFile file(program);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        file.write("Time(S),Voltage(V),Current(A)\r\n");
        for (int i = 1; i <= points; ++i)
            file.write(QByteArray::number(i) + "," + QByteArray::number(1 + i % 10) + ".00,0.500\r\n");
    }
    pslink::SetSimulateAll(true);
    platform::SetDialogHandlers([](const QString& text) { std::fprintf(stderr, "%s\n", qPrintable(text)); },
                                [&](const platform::FileDialogRequest&) { return std::optional<QString>(program); });

    CDlgControl page;
    page.resize(900, 500);
    page.show();
    page.OnBnClickedConnect();
    if (!bench::ServeEventsUntil([&] { return page.m_bConnected.load() != 0; }, 5000)) {
        std::fprintf(stderr, "connect failed\n");
        return 1;
    }

    // Command latency: a click until its field change, issued at random points of the pass.
    std::vector<double> latencies;
    for (int i = 0; i < 10; ++i) {
        const QString before = page.m_edVoltage->text();
        QElapsedTimer clock;
        clock.start();
        page.OnBnClickedUp();
        bench::ServeEventsUntil([&] { return page.m_edVoltage->text() != before; }, 2000);
        latencies.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        QThread::msleep(static_cast<unsigned long>(37 * i % 200));
    }
    std::sort(latencies.begin(), latencies.end());
    bench::Print("command_latency_median", latencies[latencies.size() / 2], "ms");
    bench::Print("command_latency_max", latencies.back(), "ms");

    page.OnBnClickedProgramMode();
    page.m_edCycles->setText(QStringLiteral("1"));
    std::vector<qint64> ticks;
    QElapsedTimer clock;
    QObject::connect(page.m_edElapsed, &QLineEdit::textChanged, [&](const QString& text) {
        if (text != QLatin1String("0"))
            ticks.push_back(clock.nsecsElapsed());
    });
    clock.start();
    page.OnBnClickedOn();
    if (!bench::ServeEventsUntil([&] { return page.m_engine.Run().IsRunning(); }, 2000))
        return 1;
    const qint64 started = clock.nsecsElapsed();
    if (!bench::ServeEventsUntil([&] { return !page.m_engine.Run().IsRunning(); }, (points + 5) * 1000))
        return 1;
    const qint64 ended = clock.nsecsElapsed();
    if (static_cast<int>(ticks.size()) != points) {
        std::fprintf(stderr, "%zu ticks for %d points\n", ticks.size(), points);
        return 1;
    }

    double worst = 0;
    for (size_t k = 0; k < ticks.size(); ++k) {
        const double ideal = static_cast<double>(started) + 1e9 * static_cast<double>(k + 1);
        worst = std::max(worst, std::abs(static_cast<double>(ticks[k]) - ideal) / 1e6);
    }
    const double period = static_cast<double>(ticks.back() - ticks.front()) / 1e6 / (points - 1);
    bench::Print("program_tick_period_mean", period, "ms");
    bench::Print("program_schedule_worst_deviation", worst, "ms");
    bench::Print("program_drift_per_hour_projected", (period - 1000.0) * 3600.0 / 1000.0, "s");
    // The tick after the last point finishes the run; the worker ends it within a pass.
    bench::Print("program_end_noticed_after_finishing_tick",
          static_cast<double>(ended - ticks.back()) / 1e6 - 1000.0, "ms");
    return 0;
}
