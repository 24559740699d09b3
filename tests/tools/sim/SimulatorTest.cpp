// tarnwell-sim as the unit it stands for, seen from its terminal: the serial tests rely on what
// it does.

#include "support/SimProcess.h"

#include <gtest/gtest.h>

#include <QSerialPort>

// The spacing test relies on the simulator dropping what comes too soon, as a strict unit does.
TEST(Simulator, DropsACommandSentTooSoon)
{
    SimProcess sim({"--dialect", "text", "--min-gap", "80"});
    ASSERT_FALSE(sim.path().isEmpty());
    QSerialPort port(sim.path());
    ASSERT_TRUE(port.open(QIODevice::ReadWrite));
    port.write("VSET1:05.00VSET1:07.00"); // back to back
    ASSERT_TRUE(port.waitForBytesWritten(1000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim.log().size() >= 2; }, 5000));
    // Real time must pass here: the query is heard only once the unit's gap after the second
    // setpoint is over, and no condition tells when that is but the clock.
    QTest::qWait(200);
    port.write("VSET1?");
    ASSERT_TRUE(port.waitForBytesWritten(1000));
    QByteArray reply;
    EXPECT_TRUE(QTest::qWaitFor([&] {
        if (port.waitForReadyRead(10))
            reply += port.readAll();
        return reply.size() >= 5;
    }, 5000));
    EXPECT_EQ(reply, "05.00"); // the second setpoint was lost without a word
    EXPECT_TRUE(sim.errors().contains("dropped (too soon): VSET1:07.00")) << sim.errors().toStdString();
}
