// Test entry point for code that must run without widgets: a plain QCoreApplication.
#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <clocale>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    setlocale(LC_NUMERIC, "C");
    // Run journals of the tests go to a folder of their own, never into the user's.
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
