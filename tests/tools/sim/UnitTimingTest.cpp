// The simulated unit's timing alone: which commands a strict or slow unit hears, given when the
// bytes came and when the wire was last seen quiet, and when a reply leaves.
#include "sim/UnitTiming.h"

#include <gtest/gtest.h>

#include <vector>

using sim::Clock;
using sim::UnitTiming;
using Verdict = UnitTiming::Verdict;
using std::chrono::microseconds;
using std::chrono::milliseconds;

namespace {

const Clock::time_point kStart{};

Clock::time_point At(int ms)
{
    return kStart + milliseconds(ms);
}

// One read of one whole command: the wire was quiet at `quietMs`, the bytes read at `readMs`.
struct Read
{
    int quietMs;
    int readMs;
    bool leavesBusy;
    Verdict expected;
};

struct Case
{
    const char* what;
    UnitTiming::Pace pace;
    std::vector<Read> reads;
};

} // namespace

TEST(UnitTiming, WhichCommandsAStrictOrSlowUnitHears)
{
    const Case cases[] = {
        {"no gap, no ignore window: everything is heard", {0, 0, 0, 0},
         {{0, 1, true, Verdict::Heard}, {1, 2, true, Verdict::Heard}}},
        {"a command read 50 ms after the last began is lost by a unit that needs 80", {80, 0, 0, 0},
         {{0, 5, false, Verdict::Heard}, {5, 50, false, Verdict::TooSoon}, {50, 140, false, Verdict::Heard}}},
        {"the gap counts from the earliest start: a late read does not make a command too soon", {80, 0, 0, 0},
         {{0, 70, false, Verdict::Heard}, {70, 85, false, Verdict::Heard}}},
        {"a lost command still starts the gap", {80, 0, 0, 0},
         {{0, 5, false, Verdict::Heard}, {5, 60, false, Verdict::TooSoon}, {60, 70, false, Verdict::TooSoon}}},
        {"slow firmware ignores what comes within its window after a change", {0, 300, 0, 0},
         {{0, 5, true, Verdict::Heard}, {5, 200, false, Verdict::Busy}, {200, 320, false, Verdict::Heard}}},
        {"a query that does not leave it busy opens no window", {0, 300, 0, 0},
         {{0, 5, false, Verdict::Heard}, {5, 100, false, Verdict::Heard}}},
        {"too soon comes before busy", {80, 300, 0, 0},
         {{0, 5, true, Verdict::Heard}, {5, 40, false, Verdict::TooSoon}, {40, 150, false, Verdict::Busy}}},
    };
    for (const Case& c : cases) {
        UnitTiming timing(c.pace, kStart);
        for (size_t i = 0; i < c.reads.size(); ++i) {
            const Read& r = c.reads[i];
            timing.quietAt(At(r.quietMs));
            timing.arrived(At(r.readMs), true, false);
            const Verdict verdict = timing.take(At(r.readMs));
            EXPECT_EQ(verdict, r.expected) << c.what << ", read " << i;
            if (verdict == Verdict::Heard && r.leavesBusy)
                timing.leaveBusy();
        }
    }
}

TEST(UnitTiming, RepliesWaitForTheLatencyAndTheWireAndHalfCommandsAreForgotten)
{
    // Ten bits a byte: at 9600 baud a byte takes 1041 us.
    const struct
    {
        UnitTiming::Pace pace;
        size_t commandBytes;
        size_t replyBytes;
        microseconds after;
    } cases[] = {
        {{0, 0, 0, 0}, 6, 5, microseconds(0)},
        {{0, 0, 25, 0}, 6, 5, microseconds(25000)},
        {{0, 0, 0, 9600}, 6, 5, microseconds(6250 + 5208)},
        {{0, 0, 10, 115200}, 11, 0, microseconds(954 + 10000)},
    };
    for (const auto& c : cases) {
        const UnitTiming timing(c.pace, kStart);
        EXPECT_EQ(timing.replyDue(At(100), c.commandBytes, c.replyBytes), At(100) + c.after)
            << c.pace.latencyMs << " ms, " << c.pace.baud << " baud";
    }

    UnitTiming timing({}, kStart);
    timing.arrived(At(100), false, false);
    EXPECT_FALSE(timing.forgetsPartial(At(150)));
    EXPECT_TRUE(timing.forgetsPartial(At(151)));
    timing.garbled(At(200)); // bytes it cannot make out still keep half a command alive
    EXPECT_FALSE(timing.forgetsPartial(At(240)));
}
