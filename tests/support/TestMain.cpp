// Test entry point: one application object for every test of the executable, as much of one as
// the area's layer has: widgets, painting, or neither.
#if defined(TARNWELL_TEST_WIDGETS)
#include <QApplication>
using TestApplication = QApplication;
#elif defined(TARNWELL_TEST_GUI)
#include <QGuiApplication>
using TestApplication = QGuiApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <clocale>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                    : qgetenv("QT_QPA_PLATFORM"));
    TestApplication app(argc, argv);
    // The application object takes the locale from the environment; numbers are always C-locale text.
    setlocale(LC_NUMERIC, "C");
    // Run journals of the tests go to a folder of their own, never into the user's.
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
    // Nor does the user's ports.conf decide what the tests' ports reach.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
