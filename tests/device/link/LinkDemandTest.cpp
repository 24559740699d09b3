// The link asks only what is wanted: when a waiter is met, when a poll is wanted, and in what
// order a program's point, its sample and its read-backs reach a unit of each dialect.

#include "support/LinkCalls.h"
#include "support/SimProcess.h"

#include "device/link/LinkDemand.h"
#include "device/pslink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>

using pslink::Awaited;
using pslink::LinkDemand;

namespace {

// A waiter's answer: -1 while it has none.
std::function<void(bool)> Into(std::shared_ptr<std::atomic<int>> answer)
{
    return [answer](bool ok) { answer->store(ok ? 1 : 0); };
}

int Ready(LinkDemand& demand, bool alive = true)
{
    int n = 0;
    for (auto& [done, ok] : demand.takeReady(alive)) {
        done(ok);
        ++n;
    }
    return n;
}

} // namespace

TEST(LinkDemand, EachWaiterIsMetByWhatItWaitsFor)
{
    // One change given, then the three waits: how far the link has come when each is met.
    const struct
    {
        Awaited what;
        bool bAfterSend;    // met once the change went out and a poll after it came in
        bool bAfterConfirm; // met once it was read back too
    } rows[] = {
        {Awaited::Confirmed, false, true},
        {Awaited::Sample, true, true},
        {Awaited::ConfirmedSample, false, true},
    };
    for (const auto& row : rows) {
        LinkDemand demand;
        demand.queue({pslink::Session::Change::Voltage, 300});
        auto answer = std::make_shared<std::atomic<int>>(-1);
        demand.add(row.what, Into(answer));
        EXPECT_FALSE(demand.pollWanted()) << "nothing to poll for before the change went out";
        const auto batch = demand.takeChanges();
        ASSERT_EQ(batch.size(), 1u);
        demand.markSent(demand.given());
        EXPECT_EQ(demand.pollWanted(), row.what != Awaited::Confirmed);
        demand.pollDone(demand.pollStarting(), demand.sent());
        EXPECT_EQ(Ready(demand), row.bAfterSend ? 1 : 0);
        EXPECT_FALSE(demand.pollWanted());
        demand.markConfirmed(demand.given());
        Ready(demand);
        EXPECT_EQ(answer->load(), 1);
    }

    // A poll started before the wait is not fresh for it; a lost link answers "no".
    LinkDemand demand;
    const std::uint64_t early = demand.pollStarting();
    auto answer = std::make_shared<std::atomic<int>>(-1);
    demand.add(Awaited::Sample, Into(answer));
    demand.pollDone(early, demand.sent());
    EXPECT_EQ(Ready(demand), 0);
    EXPECT_TRUE(demand.pollWanted());
    EXPECT_EQ(Ready(demand, false), 1);
    EXPECT_EQ(answer->load(), 0);
}

TEST(LinkDemand, APointGoesOutThenItsSampleThenItsReadBacksAndIdleUnitsAreLeftAlone)
{
    const struct
    {
        const char* name;
        QStringList simArgs;
        bool bTcp;
        QStringList tick; // what the unit receives for a point and the sample after it
    } rows[] = {
        {"plain text", {"--dialect", "text", "--latency", "50", "--baud", "9600"}, false,
         {"VSET1:03.00", "ISET1:0.500", "STATUS?", "VOUT1?", "IOUT1?", "VSET1?", "ISET1?"}},
        {"SCPI", {"--tcp", "0"}, true,
         {"VOLT 3.00", "CURR 0.500", "MEAS:VOLT?", "MEAS:CURR?", "OUTP?", "OUTP:MODE?", "VOLT?", "CURR?"}},
        {"SCPI without a mode query: the poll reads the setpoints back", {"--tcp", "0", "--no-mode-query"}, true,
         {"VOLT 3.00", "CURR 0.500", "MEAS:VOLT?", "MEAS:CURR?", "OUTP?", "VOLT?", "CURR?"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SimProcess sim(row.simArgs);
        Com1 com(row.bTcp ? sim.path() : "text:" + sim.path());
        unsigned char version[10] = {};
        ASSERT_TRUE(OpenCOM(0, 0) && dsoReadVersion(0, version));
        dsoOpenOutput(0);
        auto confirmed = std::make_shared<std::atomic<int>>(-1);
        pslink::AfterFreshReadings(0, Into(confirmed));
        ASSERT_TRUE(QTest::qWaitFor([&] { return confirmed->load() == 1; }, 6000));

        const qsizetype mark = sim.log().size();
        auto sampled = std::make_shared<std::atomic<int>>(-1);
        confirmed->store(-1);
        setPoint(300, 500);
        pslink::AfterFreshSample(0, Into(sampled));
        pslink::AfterCommandsConfirmed(0, Into(confirmed));
        ASSERT_TRUE(QTest::qWaitFor([&] { return sampled->load() == 1 && confirmed->load() == 1; }, 6000));
        // From the point on: a look at the lamps may have been under way when it was given.
        const qsizetype from = sim.log().indexOf(row.tick.front(), mark);
        EXPECT_EQ(sim.log().mid(from, row.tick.size()), row.tick) << sim.log().mid(mark).join(' ').toStdString();

        // Nothing given since: the commands are confirmed already, and so said at once.
        auto again = std::make_shared<std::atomic<int>>(-1);
        pslink::AfterCommandsConfirmed(0, Into(again));
        EXPECT_TRUE(QTest::qWaitFor([&] { return again->load() == 1; }, 3000));

        // Left alone: a look at the lamps about once a second, enough to stay alive.
        const size_t seconds = sim.requestsPerSecond().size();
        ASSERT_TRUE(QTest::qWaitFor([&] { return sim.requestsPerSecond().size() >= seconds + 4; }, 8000));
        const std::vector<int> counts = sim.requestsPerSecond();
        EXPECT_LE(*std::max_element(counts.end() - 3, counts.end()), 3);
        EXPECT_EQ(dsoLinkAlive(0), 1);
    }
}
