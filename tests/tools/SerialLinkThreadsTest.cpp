// The serial link used from several threads at once, and tarnwell-sim as a strict unit.

#include "SimProcess.h"

#include "device/pslink.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSerialPort>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {


} // namespace

// The Control page's worker asks for the version of a supply that does not answer while the
// window closes: CloseCOM from another thread must end the wait at once, not after the probes.
TEST(SerialLinkThreads, CloseEndsAVersionRequestInFlight)
{
    SimProcess sim({"--dialect", "scpi"});
    ASSERT_FALSE(sim.path().isEmpty());
    sim.control("hang");
    Com1 com(sim.path()); // no dialect: both probes, seconds in all
    ASSERT_EQ(OpenCOM(0, 0), 1);

    std::atomic<bool> asking{false};
    std::atomic<bool> done{false};
    std::atomic<int> answered{-1};
    std::atomic<qint64> returnedAt{0};
    QElapsedTimer clock;
    clock.start();
    std::thread worker([&] {
        unsigned char version[10] = {};
        asking = true;
        answered = dsoReadVersion(0, version);
        returnedAt = clock.elapsed();
        done = true;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return asking.load(); }, 5000));
    QTest::qWait(300); // well inside the first probe's 1.5 s

    const qint64 closing = clock.elapsed();
    CloseCOM(0);
    const qint64 closed = clock.elapsed();
    EXPECT_LT(closed - closing, 1000);
    // Calls racing the close find no link or a closed one; none may touch freed state.
    unsigned char digits[5] = {};
    int out = -1, cv = -1, cc = -1;
    dsoReadVoltage(0, digits);
    dsoReadState(0, &out, &cv, &cc);
    EXPECT_EQ(dsoLinkAlive(0), 0);

    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 10000));
    worker.join();
    EXPECT_EQ(answered.load(), 0);
    EXPECT_LT(returnedAt.load() - closing, 1000) << "the version request outlived the close";
}

// The UI thread's reads and sets, the worker's connects and disconnects, all at once: the
// sanitizers see any use of a link after it was closed or freed.
TEST(SerialLinkThreads, CallsFromSeveralThreadsWhileReconnecting)
{
    SimProcess sim({"--dialect", "text", "--min-gap", "0"});
    ASSERT_FALSE(sim.path().isEmpty());
    Com1 com("text:" + sim.path());
    ASSERT_EQ(OpenCOM(0, 0), 1);

    std::atomic<bool> stop{false};
    std::atomic<int> calls{0};
    auto caller = [&](int seed) {
        unsigned char digits[5] = {0, 5, 0, 0, 0};
        while (!stop.load()) {
            int out = 0, cv = 0, cc = 0;
            digits[3] = static_cast<unsigned char>(seed++ % 10);
            dsoSetVoltage(0, digits);
            dsoSetCurrent(0, digits);
            dsoReadVoltage(0, digits);
            dsoReadCurrent(0, digits);
            dsoReadState(0, &out, &cv, &cc);
            (void)dsoLinkAlive(0);
            dsoOpenOutput(0);
            ++calls;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    std::vector<std::thread> callers;
    callers.emplace_back(caller, 1);
    callers.emplace_back(caller, 7);

    for (int i = 0; i < 8; ++i) {
        std::thread reconnect([&] {
            CloseCOM(0);
            OpenCOM(0, 0);
        });
        QTest::qWait(50);
        reconnect.join();
    }
    // The last link still works after all that.
    unsigned char version[10] = {};
    EXPECT_NE(dsoReadVersion(0, version), 0);
    stop = true;
    for (auto& t : callers)
        t.join();
    EXPECT_GT(calls.load(), 0);
    EXPECT_EQ(dsoLinkAlive(0), 1);
}

// The spacing test relies on the simulator dropping what comes too soon, as a strict unit does.
TEST(SerialLinkThreads, SimulatorDropsACommandSentTooSoon)
{
    SimProcess sim({"--dialect", "text", "--min-gap", "80"});
    ASSERT_FALSE(sim.path().isEmpty());
    QSerialPort port(sim.path());
    ASSERT_TRUE(port.open(QIODevice::ReadWrite));
    port.write("VSET1:05.00VSET1:07.00"); // back to back
    ASSERT_TRUE(port.waitForBytesWritten(1000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim.log().size() >= 2; }, 5000));
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
