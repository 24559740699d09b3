// The serial link used from several threads at once.

#include "support/SimProcess.h"

#include "device/pslink.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSerialPort>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

// The Control page's worker asks for the version of a supply that does not answer while the
// window closes: CloseCOM from another thread must end the wait at once, not after the probes.
TEST(WireLinkThreads, CloseEndsAVersionRequestInFlight)
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
    // Real time on purpose: by then the request is well inside its first probe's 1.5 s, and a
    // silent SCPI unit logs nothing of an unterminated probe that a wait could look for.
    QTest::qWait(300);

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
TEST(WireLinkThreads, CallsFromSeveralThreadsWhileReconnecting)
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
            std::this_thread::sleep_for(std::chrono::milliseconds(1)); // a caller's pace, not a wait
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
        QTest::qWait(50); // real time for the callers to race the reconnect
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
