#pragma once

// What every benchmark program shares: headless by default, figures as
// "BENCH <name> <value> <unit>" lines in C-locale numbers.
#include <QByteArray>
#include <QtGlobal>

#include <clocale>
#include <cstdio>

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

} // namespace bench
