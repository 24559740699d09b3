// How much the link asks a unit, per dialect, from tarnwell-sim's count of requests per second:
// during a program run whose every point changes the voltage and the current (_run), and left
// alone afterwards, connected with its output on (_idle). Plain text on a serial line at 9600 baud with 50 ms latency
// (link_requests_per_s_*), SCPI on localhost TCP (tcp_link_requests_per_s_*) and a Modbus
// module answering after 20 ms (modbus_link_requests_per_s_*). Means over the whole seconds of
// each phase.

#include "device/PowerSupply.h"
#include "device/pslink.h"
#include "engine/RunEngine.h"

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <vector>

namespace {

constexpr int kPoints = 10;

struct Unit
{
    const char* prefix;  // of the figures' names
    QStringList args;    // tarnwell-sim's
    const char* portAs;  // the port setting, %1 the simulator's first line
};

void Wait(int nMs)
{
    QEventLoop loop;
    QTimer::singleShot(nMs, &loop, &QEventLoop::quit);
    loop.exec();
}

// The simulator's counts so far, one a second, in order.
std::vector<int> Counts(const QString& strLog)
{
    std::vector<int> counts;
    QFile file(strLog);
    if (!file.open(QIODevice::ReadOnly))
        return counts;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith("-- second ")) {
            const int colon = line.indexOf(':');
            counts.push_back(line.mid(colon + 2).split(' ').front().toInt());
        }
    return counts;
}

// The mean of the counts in (from, to): the first second after `from` may have begun before it.
double MeanBetween(const std::vector<int>& counts, size_t from, size_t to)
{
    double sum = 0.0;
    int seconds = 0;
    for (size_t i = from + 1; i < to && i < counts.size(); ++i, ++seconds)
        sum += counts[i];
    return seconds > 0 ? sum / seconds : -1.0;
}

QString WriteProgram(const QTemporaryDir& dir)
{
    const QString strPath = dir.filePath(QStringLiteral("points.csv"));
    QFile file(strPath);
    QByteArray rows = "Time(S),Voltage(V),Current(A)\r\n";
    for (int i = 1; i <= kPoints; ++i)
        rows += QByteArray::number(i) + ',' + QByteArray::number(1 + i % 5) + ".00,0." + QByteArray::number(100 + 50 * (i % 4))
                + "\r\n";
    return file.open(QIODevice::WriteOnly) && file.write(rows) == rows.size() ? strPath : QString();
}

bool Measure(const Unit& unit, const QString& strProgram, const QTemporaryDir& dir)
{
    const QString strLog = dir.filePath(QStringLiteral("%1commands.log").arg(unit.prefix));
    QProcess sim;
    const QString where = bench::StartSim(sim, QStringList(unit.args) << "--log" << strLog);
    if (where.isEmpty())
        return false;
    qputenv("TARNWELL_COM1", QString::fromLatin1(unit.portAs).arg(where).toLocal8Bit());
    CPowerSupply supply;
    if (supply.Connect() == 0)
        return false;
    CRunEngine engine(supply);
    size_t runFrom = 0;
    QEventLoop loop;
    QObject::connect(&engine.Run(), &CRun::Sampled, &loop, [&] {
        if (runFrom == 0)
            runFrom = Counts(strLog).size();
    });
    QObject::connect(&engine.Run(), &CRun::RunEnded, &loop, &QEventLoop::quit);
    QTimer::singleShot((kPoints + 10) * 1000, &loop, &QEventLoop::quit);
    engine.Run().StartRun(true, strProgram, 1);
    loop.exec();
    const size_t runTo = Counts(strLog).size();
    // Left alone with its output on, as a run leaves it: the lamps are worth looking at.
    Wait(1500);
    const size_t idleFrom = Counts(strLog).size();
    Wait(5500);
    const size_t idleTo = Counts(strLog).size();
    CloseCOM(0);
    sim.closeWriteChannel();
    sim.waitForFinished(3000);

    const std::vector<int> counts = Counts(strLog);
    const QByteArray prefix(unit.prefix);
    bench::Print(prefix + "link_requests_per_s_idle", MeanBetween(counts, idleFrom, idleTo), "requests/s");
    bench::Print(prefix + "link_requests_per_s_run", MeanBetween(counts, runFrom, runTo), "requests/s");
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    bench::UseOffscreenByDefault();
    QCoreApplication app(argc, argv);
    bench::UseCLocaleNumbers();
    QTemporaryDir dir;
    qputenv("XDG_STATE_HOME", dir.path().toLocal8Bit());
    const QString strProgram = WriteProgram(dir);
    const Unit units[] = {
        {"", {"--dialect", "text", "--latency", "50", "--baud", "9600", "--load", "10"}, "text:%1"},
        {"tcp_", {"--tcp", "0", "--load", "10"}, "%1"},
        {"modbus_", {"--dialect", "modbus", "--model", "60062", "--latency", "20"}, "modbus:%1@9600"},
    };
    for (const Unit& unit : units)
        if (strProgram.isEmpty() || !Measure(unit, strProgram, dir)) {
            std::fprintf(stderr, "bench_demand: no %s unit answered\n", unit.prefix[0] ? unit.prefix : "text");
            return 1;
        }
    return 0;
}
