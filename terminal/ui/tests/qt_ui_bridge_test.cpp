#include "comm/ui/qt_ui_bridge.h"

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

namespace zelvo::comm {
namespace {

TEST(QtUiBridge, SendRunsOnTheUiThreadAndWaitsForTheCall)
{
    QtUiBridge bridge;
    EXPECT_TRUE(bridge.isUiThread());
    std::atomic<bool> ran{false}, onUi{false}, sendResult{false}, done{false};
    std::thread t([&] {
        sendResult = bridge.send([&] {
            onUi = bridge.isUiThread();
            ran = true;
        }, 3000);
        done = true;
        bridge.wake();
    });
    EXPECT_TRUE(bridge.waitAndPump([&] { return done.load(); }, 10000));
    t.join();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(onUi);
    EXPECT_TRUE(sendResult);
}

TEST(QtUiBridge, SendToABlockedUiThreadTimesOutAndNeverRuns)
{
    QtUiBridge bridge;
    std::atomic<bool> ran{false};
    std::atomic<int> result{-1};
    std::thread t([&] { result = bridge.send([&] { ran = true; }, 100) ? 1 : 0; });
    // The UI thread is busy (not processing events) for longer than the limit.
    t.join();
    EXPECT_EQ(result.load(), 0);
    bridge.pumpPending();
    EXPECT_FALSE(ran);
}

TEST(QtUiBridge, SendFromTheUiThreadRunsAtOnce)
{
    QtUiBridge bridge;
    bool ran = false;
    EXPECT_TRUE(bridge.send([&] { ran = true; }, 10));
    EXPECT_TRUE(ran);
}

TEST(QtUiBridge, PostedCallsRunInOrderAndEndAWait)
{
    QtUiBridge bridge;
    std::vector<int> order;
    for (int i = 0; i < 5; ++i) bridge.post([&order, i] { order.push_back(i); });
    EXPECT_TRUE(bridge.waitAndPump([&] { return order.size() == 5; }, 5000));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(QtUiBridge, WaitAndPumpGivesUpAtItsTimeLimit)
{
    QtUiBridge bridge;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(bridge.waitAndPump([] { return false; }, 100));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(90));
}

TEST(QtUiBridge, WakeFromAnotherThreadRetestsTheCondition)
{
    QtUiBridge bridge;
    std::atomic<bool> flag{false};
    std::thread t([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        flag = true;
        bridge.wake();
    });
    EXPECT_TRUE(bridge.waitAndPump([&] { return flag.load(); }, 10000));
    t.join();
}

TEST(QtUiBridge, NestedWaitsEachSeeTheirOwnCondition)
{
    QtUiBridge bridge;
    bool inner = false, outer = false, innerResult = false;
    bridge.post([&] {
        bridge.post([&] { inner = true; });
        innerResult = bridge.waitAndPump([&] { return inner; }, 5000);
        outer = true;
    });
    EXPECT_TRUE(bridge.waitAndPump([&] { return outer; }, 5000));
    EXPECT_TRUE(innerResult);
}

TEST(QtUiBridge, AnExceptionInAQueuedCallGoesToTheHandler)
{
    QtUiBridge bridge;
    std::string caught;
    bridge.setExceptionHandler([&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            caught = x.what();
        }
    });
    bool after = false;
    bridge.post([] { throw std::runtime_error("bad handler"); });
    bridge.post([&] { after = true; });
    EXPECT_TRUE(bridge.waitAndPump([&] { return after; }, 5000));
    EXPECT_EQ(caught, "bad handler");
}

} // namespace
} // namespace zelvo::comm
