#include "control/CommandQueue.h"

#include <gtest/gtest.h>

#include <thread>

TEST(CommandQueue, PendingEqualCommandMovesToTheBack)
{
    CCommandQueue queue;
    EXPECT_EQ(queue.Pop(), (ControlCommand{CMD_NONE, 0})) << "empty queue yields code 0";

    // Three UP clicks within one pass: one UP.
    for (int i = 0; i < 3; ++i)
        queue.Push({CMD_UP, 0});
    EXPECT_EQ(queue.Pending(), (std::vector<ControlCommand>{{CMD_UP, 0}}));
    EXPECT_EQ(queue.Pop(), (ControlCommand{CMD_UP, 0}));

    // UP, Down, UP: the first UP is removed when the second arrives.
    queue.Push({CMD_UP, 0});
    queue.Push({CMD_DOWN, 0});
    queue.Push({CMD_UP, 0});
    EXPECT_EQ(queue.Pending(), (std::vector<ControlCommand>{{CMD_DOWN, 0}, {CMD_UP, 0}}));

    // Only an entry equal in code and value is replaced, and only the first one.
    queue.Push({CMD_UP, 7});
    queue.Push({CMD_ON, 0});
    queue.Push({CMD_UP, 7});
    EXPECT_EQ(queue.Pending(),
              (std::vector<ControlCommand>{{CMD_DOWN, 0}, {CMD_UP, 0}, {CMD_ON, 0}, {CMD_UP, 7}}));
    EXPECT_EQ(queue.Pop().code, CMD_DOWN);
    EXPECT_EQ(queue.Pop().code, CMD_UP);
    EXPECT_EQ(queue.Pop().code, CMD_ON);
    EXPECT_EQ(queue.Pop(), (ControlCommand{CMD_UP, 7}));
    EXPECT_EQ(queue.Pop().code, CMD_NONE);
}

TEST(CommandQueue, ConcurrentPushAndPopLoseNothing)
{
    CCommandQueue queue;
    constexpr int kCount = 2000;
    int popped = 0;
    std::thread consumer([&] {
        while (popped < kCount) {
            if (queue.Pop().code != CMD_NONE)
                ++popped;
        }
    });
    // Distinct values, so no push replaces another.
    for (int i = 0; i < kCount; ++i)
        queue.Push({CMD_UP, i});
    consumer.join();
    EXPECT_EQ(popped, kCount);
    EXPECT_TRUE(queue.Pending().empty());
}
