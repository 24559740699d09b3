#pragma once

// What every benchmark program shares: headless by default, figures as
// "BENCH <name> <value> <unit>" lines in C-locale numbers.
#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QtGlobal>

#include <algorithm>
#include <clocale>
#include <cstdio>
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
