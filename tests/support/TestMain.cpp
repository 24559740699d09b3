// Test entry point: one QApplication for every test of the executable.
#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <clocale>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                    : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    // QApplication takes the locale from the environment; numbers are always C-locale text.
    setlocale(LC_NUMERIC, "C");
    // Run journals of the tests go to a folder of their own, never into the user's.
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
