// Against a real supply: runs only when TARNWELL_TEST_PORT names its port (e.g. "text:/dev/ttyUSB0").
// Read-only on purpose: it never changes the setpoints or switches the output of a supply on a bench.

#include "device/pslink.h"

#include <gtest/gtest.h>

#include <QtTest/QTest>

TEST(SerialHardware, IdentifiesAndStaysAlive)
{
    const QByteArray port = qgetenv("TARNWELL_TEST_PORT");
    if (port.isEmpty())
        GTEST_SKIP() << "set TARNWELL_TEST_PORT to a supply's port to run this";
    const QByteArray previous = qgetenv("TARNWELL_COM7");
    qputenv("TARNWELL_COM7", port);
    ASSERT_EQ(OpenCOM(0, 6), 1) << port.constData();
    unsigned char version[10] = {};
    EXPECT_NE(dsoReadVersion(0, version), 0);
    // A few poll rounds of real time: the supply keeps answering.
    QTest::qWait(1500);
    EXPECT_EQ(dsoLinkAlive(0), 1);
    int out = -1, cv = -1, cc = -1;
    dsoReadState(0, &out, &cv, &cc);
    EXPECT_TRUE(out == 0 || out == 1);
    EXPECT_FALSE(cv == 1 && cc == 1);
    CloseCOM(0);
    if (previous.isEmpty())
        qunsetenv("TARNWELL_COM7");
    else
        qputenv("TARNWELL_COM7", previous);
}
