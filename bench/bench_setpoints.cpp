// How setpoint changes fare on a serial supply: tarnwell-sim at 9600 baud with 50 ms latency.
//   setpoint_confirm_ms_median: from dsoSetVoltage until the supply has read the value back.
//   fresh_sample_ms_median/_max: a program tick (voltage and current sent) until a whole poll
//     taken after them is in (AfterFreshSample, what a run's tick waits for).
//   slow_firmware_changes_lost: 20 voltage changes 300 ms apart to a unit that ignores what
//     arrives within 450 ms after a change or status query (--slow 450). A change counts as lost
//     when it reached the unit and the unit never took it, or when the unit does not end up
//     holding the last one. A change replaced by a newer one before it went out is not lost:
//     the supply was never meant to pass through it.
//   slow_unit_last_change_held_ms: the same slow unit right after connecting: three voltage steps
//     300 ms apart, then the output on (a user clicking UP, UP, UP, ON); from the last click until
//     the unit has read back the last voltage and the output on.
// Usage: bench_setpoints [--changes N]   (default 20)

#include "device/NumberText.h"
#include "device/pslink.h"

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <set>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void setVoltage(int centivolts)
{
    unsigned char d[5];
    numtext::DigitsFromCount(centivolts, d);
    dsoSetVoltage(0, d);
}

void setCurrent(int milliamps)
{
    unsigned char d[5];
    numtext::DigitsFromCount(milliamps, d);
    dsoSetCurrent(0, d);
}

class Sim
{
public:
    explicit Sim(QStringList args)
    {
        args << "--latency" << "50" << "--baud" << "9600" << "--load" << "10" << "--log" << logPath();
        m_process.start(QStringLiteral(TARNWELL_SIM_PATH), args);
        if (m_process.waitForStarted(5000) && m_process.waitForReadyRead(5000))
            m_path = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }
    ~Sim() { finish(); }

    QString path() const { return m_path; }
    QString logPath() const { return m_dir.filePath("commands.log"); }

    /// Ends the simulator; its standard error.
    QString finish()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.closeWriteChannel();
            if (!m_process.waitForFinished(3000))
                m_process.kill();
            m_process.waitForFinished(3000);
            m_errors = QString::fromLocal8Bit(m_process.readAllStandardError());
        }
        return m_errors;
    }

    QStringList log() const
    {
        QFile file(logPath());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLatin1(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_path;
    QString m_errors;
};

bool connectTo(const Sim& sim)
{
    qputenv("TARNWELL_COM1", sim.path().toLocal8Bit());
    unsigned char version[10] = {};
    if (!OpenCOM(0, 0) || !dsoReadVersion(0, version))
        return false;
    dsoCloseOutput(0);
    setVoltage(500);
    setCurrent(1000);
    dsoOpenPower(0);
    return bench::WaitForLink(pslink::AfterCommandsConfirmed, Clock::now()) >= 0;
}

// The clicks of a user who does not wait for a slow unit: connect, UP, UP, UP, ON.
double lastClickHeldMs()
{
    Sim sim({"--dialect", "text", "--slow", "450"});
    qputenv("TARNWELL_COM1", sim.path().toLocal8Bit());
    unsigned char version[10] = {};
    if (!OpenCOM(0, 0) || !dsoReadVersion(0, version))
        return -1.0;
    dsoCloseOutput(0);
    setVoltage(500);
    setCurrent(1000);
    dsoOpenPower(0);
    for (int step = 1; step <= 3; ++step) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        setVoltage(500 + 10 * step);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto click = Clock::now();
    dsoOpenOutput(0);
    const double held = bench::WaitForLink(pslink::AfterCommandsConfirmed, click);
    CloseCOM(0);
    const QStringList log = sim.log();
    const bool lastSent = log.lastIndexOf("VSET1:05.30") >= 0 && log.lastIndexOf("OUT1") > log.lastIndexOf("VSET1:05.30");
    return held >= 0 && lastSent ? held : -1.0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bench::UseCLocaleNumbers();
    const int changes = bench::CountOption(argc, argv, "--changes", 20);

    // A normal unit: how long until a change is confirmed, and until a tick's sample is fresh.
    std::vector<double> confirm, fresh;
    {
        Sim sim({"--dialect", "text"});
        if (!connectTo(sim)) {
            std::fprintf(stderr, "bench_setpoints: no answer from %s\n", qPrintable(sim.path()));
            return 1;
        }
        dsoOpenOutput(0);
        unsigned phase = 12345u;
        for (int n = 0; n < changes; ++n) {
            // Somewhere in the poll cycle: the wait depends on what the link is doing.
            phase = phase * 1103515245u + 12345u;
            std::this_thread::sleep_for(std::chrono::milliseconds(150 + (phase >> 16) % 300));
            const auto start = Clock::now();
            setVoltage(100 + 10 * n);
            confirm.push_back(bench::WaitForLink(pslink::AfterCommandsConfirmed, start));
        }
        for (int n = 0; n < changes; ++n) {
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            const auto start = Clock::now();
            setVoltage(300 + 10 * n);
            setCurrent(500 + 10 * n);
            fresh.push_back(bench::WaitForLink(pslink::AfterFreshSample, start));
        }
        CloseCOM(0);
    }
    if (std::count(confirm.begin(), confirm.end(), -1.0) || std::count(fresh.begin(), fresh.end(), -1.0)) {
        std::fprintf(stderr, "bench_setpoints: a change was not confirmed\n");
        return 1;
    }

    // A slow unit: changes faster than it takes them.
    int lost = 0;
    {
        Sim sim({"--dialect", "text", "--slow", "450"});
        if (!connectTo(sim)) {
            std::fprintf(stderr, "bench_setpoints: no answer from the slow unit\n");
            return 1;
        }
        std::vector<QString> wanted;
        for (int n = 0; n < changes; ++n) {
            setVoltage(100 + 10 * n);
            wanted.push_back(QStringLiteral("VSET1:%1.%2").arg((100 + 10 * n) / 100, 2, 10, QLatin1Char('0'))
                                 .arg((100 + 10 * n) % 100, 2, 10, QLatin1Char('0')));
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        const bool settled = bench::WaitForLink(pslink::AfterCommandsConfirmed, Clock::now()) >= 0;
        CloseCOM(0);
        const QStringList log = sim.log();
        const QString errors = sim.finish();

        // What the unit took: the log in order, less the drops it reported in the same order.
        std::deque<QString> dropped;
        const QString mark = "tarnwell-sim: dropped (slow): ";
        for (const QString& line : errors.split('\n'))
            if (line.startsWith(mark))
                dropped.push_back(line.mid(mark.size()));
        std::set<QString> sent, taken;
        QString last;
        for (const QString& command : log) {
            const bool drop = !dropped.empty() && dropped.front() == command;
            if (drop)
                dropped.pop_front();
            if (!command.startsWith("VSET1:"))
                continue;
            sent.insert(command);
            if (!drop) {
                taken.insert(command);
                last = command;
            }
        }
        for (const QString& w : wanted)
            if (sent.count(w) && !taken.count(w))
                ++lost;
        if (!settled || last != wanted.back())
            ++lost;
    }

    const double lastClick = lastClickHeldMs();
    if (lastClick < 0) {
        std::fprintf(stderr, "bench_setpoints: the slow unit did not end up with the last clicks\n");
        return 1;
    }

    bench::Print("setpoint_confirm_ms_median", bench::Median(confirm), "ms");
    bench::Print("fresh_sample_ms_median", bench::Median(fresh), "ms");
    bench::Print("fresh_sample_ms_max", *std::max_element(fresh.begin(), fresh.end()), "ms");
    bench::Print("slow_firmware_changes_lost", lost, "changes");
    bench::Print("slow_unit_last_change_held_ms", lastClick, "ms");
    return 0;
}
