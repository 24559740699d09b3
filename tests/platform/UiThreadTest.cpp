#include "platform/UiThread.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

bool WaitUntil(const std::function<bool()>& done, int ms = 3000)
{
    return QTest::qWaitFor(done, ms);
}

} // namespace

TEST(UiThread, RunExecutesOnUiThreadAndWaitsForCompletion)
{
    platform::UiThread ui;
    EXPECT_TRUE(platform::UiThread::OnUiThread());

    // On the UI thread itself the function runs at once.
    bool inline_ran = false;
    EXPECT_TRUE(ui.Run([&] { inline_ran = true; }));
    EXPECT_TRUE(inline_ran);

    std::atomic<bool> ranOnUi{false};
    std::atomic<int> order{0};
    std::atomic<int> seenAfterRun{-1};
    std::atomic<bool> result{false};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        result = ui.Run([&] {
            ranOnUi = QThread::currentThread() == QCoreApplication::instance()->thread();
            order = 1;
        });
        seenAfterRun = order.load();
        finished = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return finished.load(); }));
    worker.join();
    EXPECT_TRUE(result.load());
    EXPECT_TRUE(ranOnUi.load());
    EXPECT_EQ(seenAfterRun.load(), 1) << "Run returned before the function completed";
}

TEST(UiThread, CloseReleasesAWaitingWorkerAndDropsItsCall)
{
    auto ui = std::make_unique<platform::UiThread>();
    std::atomic<bool> ran{false};
    std::atomic<bool> returned{false};
    std::atomic<bool> result{true};
    std::thread worker([&] {
        result = ui->Run([&] { ran = true; });
        returned = true;
    });
    // The UI thread does not process events: the worker is stuck waiting until Close. Real time
    // passes on purpose: that nothing returns meanwhile has no event to wait for.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned.load());
    const auto start = Clock::now();
    ui->Close();
    worker.join();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    EXPECT_FALSE(result.load());
    // The queued call must not run later, neither before nor after the helper is gone.
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran.load());
    ui.reset();
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran.load());

    // After Close nothing runs and nothing waits, on either thread.
    platform::UiThread closed;
    closed.Close();
    EXPECT_FALSE(closed.Run([&] { ran = true; }));
    std::thread late([&] { result = closed.Run([&] { ran = true; }); });
    late.join();
    EXPECT_FALSE(result.load());
    closed.Post([&] { ran = true; });
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran.load());
}

TEST(UiThread, OwnerDestroyedWhileItsFunctionRuns)
{
    // The function itself ends the owner (a window closed from a nested event loop): the
    // worker is released and the call finishes without touching the destroyed helper.
    auto ui = std::make_unique<platform::UiThread>();
    std::atomic<bool> returned{false};
    std::atomic<bool> after{false};
    std::thread worker([&] {
        ui->Run([&] {
            ui.reset();
            after = true;
        });
        returned = true;
    });
    // Whether the worker saw the close or the completion first, it is released and the
    // function ran to its end (the sanitizers watch for a touch of the destroyed helper).
    ASSERT_TRUE(WaitUntil([&] { return after.load() && returned.load(); }));
    worker.join();
}

TEST(UiThread, PostRunsLaterWithoutWaiting)
{
    platform::UiThread ui;
    std::atomic<int> count{0};
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i)
            ui.Post([&] { ++count; });
    });
    worker.join(); // returned without the UI thread having run anything
    EXPECT_EQ(count.load(), 0);
    ASSERT_TRUE(WaitUntil([&] { return count.load() == 3; }));
}
