// Whether a run's samples see the commands of their own tick on a serial supply: a 3-point,
// 2-cycle program played by the run engine on tarnwell-sim (plain text, 9600 baud, 50 ms
// latency). sample_lag_ticks is by how many ticks the measured voltage trails the applied one
// (0: each sample reads the point its tick applied; -1: the series do not match at any lag).

#include "engine/RunEngine.h"
#include "device/PowerSupply.h"
#include "device/pslink.h"

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

// The smallest lag at which every sample that has an applied point before it reads that point.
int LagOf(const std::vector<float>& applied, const std::vector<float>& measured)
{
    for (int lag = 0; lag <= 2; ++lag) {
        bool match = measured.size() > static_cast<size_t>(lag);
        for (size_t i = static_cast<size_t>(lag); match && i < measured.size(); ++i)
            match = i - static_cast<size_t>(lag) < applied.size()
                    && std::fabs(measured[i] - applied[i - static_cast<size_t>(lag)]) < 0.015f;
        if (match)
            return lag;
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bench::UseCLocaleNumbers();
    QTemporaryDir dir;
    qputenv("XDG_STATE_HOME", dir.path().toLocal8Bit());

    QProcess sim;
    const QString pty =
        bench::StartSim(sim, {"--dialect", "text", "--latency", "50", "--baud", "9600", "--load", "10"});
    if (pty.isEmpty()) {
        std::fprintf(stderr, "bench_samples: tarnwell-sim did not start\n");
        return 1;
    }
    qputenv("TARNWELL_COM1", pty.toLocal8Bit());

    const QString program = dir.filePath(QStringLiteral("steps.csv"));
    QFile file(program);
    if (!file.open(QIODevice::WriteOnly)
        || file.write("Time(S),Voltage(V),Current(A)\r\n1,1.00,1.000\r\n2,2.00,1.000\r\n3,3.00,1.000\r\n") < 0) {
        std::fprintf(stderr, "bench_samples: cannot write the program\n");
        return 1;
    }
    file.close();

    CPowerSupply supply;
    if (supply.Connect() == 0) {
        std::fprintf(stderr, "bench_samples: no answer on %s\n", qPrintable(pty));
        return 1;
    }
    CRunEngine engine(supply);
    std::vector<float> applied;
    std::vector<float> measured;
    QObject::connect(&engine.Run(), &CRun::PointApplied,
                     [&](const QString&, const QString&, float fVolts, float) { applied.push_back(fVolts); });
    QObject::connect(&engine.Run(), &CRun::Sampled, [&](const CRunSample& s) { measured.push_back(s.fVoltage); });
    QObject::connect(&engine.Run(), &CRun::RunEnded, &app, &QCoreApplication::quit);
    QTimer::singleShot(30000, &app, &QCoreApplication::quit); // a run that never ends is a result too
    engine.Run().StartRun(true, program, 2);
    app.exec();
    CloseCOM(0);
    sim.closeWriteChannel();
    sim.waitForFinished(3000);

    std::fprintf(stderr, "applied:");
    for (float v : applied)
        std::fprintf(stderr, " %.2f", v);
    std::fprintf(stderr, "\nmeasured:");
    for (float v : measured)
        std::fprintf(stderr, " %.2f", v);
    std::fprintf(stderr, "\n");
    bench::Print("sample_lag_ticks", LagOf(applied, measured), "ticks");
    return 0;
}
