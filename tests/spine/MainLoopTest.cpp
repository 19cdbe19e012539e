#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/mainloop/MainLoop.h"

namespace halvora {
namespace {

using namespace std::chrono_literals;

TEST(MainLoop, ABlockingCallFromAnotherThreadRunsOnTheMainThreadBeforeItReturns) {
    MainLoop loop;
    loop.AdoptCurrentThread();
    std::thread::id ran_on;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        loop.RunBlocking([&] { ran_on = std::this_thread::get_id(); });
        returned = true;
    });
    EXPECT_TRUE(loop.RunUntil([&] { return returned.load(); }, 10s));
    worker.join();
    EXPECT_EQ(ran_on, std::this_thread::get_id());
}

TEST(MainLoop, ABlockingCallWaitsUntilTheMainThreadServesIt) {
    MainLoop loop;
    loop.AdoptCurrentThread();
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        loop.RunBlocking([] {});
        returned = true;
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(returned.load()) << "returned before the main thread ran the call";
    EXPECT_TRUE(loop.RunUntil([&] { return returned.load(); }, 10s));
    worker.join();
}

TEST(MainLoop, AnExceptionOfABlockingCallReachesItsCaller) {
    MainLoop loop;
    loop.AdoptCurrentThread();
    auto result = std::async(std::launch::async, [&] {
        loop.RunBlocking([] { throw std::runtime_error("boom"); });
    });
    loop.RunUntil([&] { return result.wait_for(0s) == std::future_status::ready; }, 10s);
    EXPECT_THROW(result.get(), std::runtime_error);
}

TEST(MainLoop, OnTheMainThreadABlockingCallRunsAtOnce) {
    MainLoop loop;
    loop.AdoptCurrentThread();
    int runs = 0;
    loop.RunBlocking([&] { ++runs; });
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(loop.IsMainThread());
}

TEST(MainLoop, PostedCallsRunInOrderAndCallsPendingAtQuitStillRun) {
    MainLoop loop;
    std::vector<int> order;
    std::atomic<bool> blocked_call_returned{false};
    for (int i = 0; i < 5; ++i) {
        loop.Post([&order, i] { order.push_back(i); });
    }
    // A connection thread that hands over a call just as the loop quits.
    std::thread worker;
    loop.Post([&] {
        worker = std::thread([&] {
            loop.RunBlocking([&] { order.push_back(5); });
            blocked_call_returned = true;
        });
        std::this_thread::sleep_for(50ms);
        loop.Quit();
    });
    loop.Run();
    worker.join();
    EXPECT_TRUE(blocked_call_returned.load());
    ASSERT_GE(order.size(), 5u);
    EXPECT_EQ(std::vector<int>(order.begin(), order.begin() + 5), (std::vector<int>{0, 1, 2, 3, 4}));
    const std::size_t ran = order.size();
    // After the loop has ended a blocking call neither runs nor hangs.
    std::thread late([&] { loop.RunBlocking([&] { order.push_back(99); }); });
    late.join();
    EXPECT_EQ(order.size(), ran);
}

TEST(MainLoop, AnEnabledTimerTicksAndADisabledOneDoesNot) {
    MainLoop loop;
    loop.AdoptCurrentThread();
    int fast = 0;
    int off = 0;
    const auto fast_id = loop.AddTimer(20ms, [&] { ++fast; });
    const auto off_id = loop.AddTimer(20ms, [&] { ++off; });
    EXPECT_FALSE(loop.TimerEnabled(fast_id));
    loop.SetTimerEnabled(fast_id, true);
    EXPECT_TRUE(loop.RunUntil([&] { return fast >= 3; }, 10s));
    loop.RunUntil([] { return false; }, 100ms);
    EXPECT_EQ(off, 0);
    EXPECT_FALSE(loop.TimerEnabled(off_id));
    loop.SetTimerEnabled(fast_id, false);
    const int ticks = fast;
    loop.RunUntil([] { return false; }, 100ms);
    EXPECT_EQ(fast, ticks);
}

TEST(MainLoop, ServeUntilOnTheMainThreadServesBlockingCallsWhileItWaits) {
    MainLoop loop;
    loop.AdoptCurrentThread();
    std::atomic<int> served{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 4; ++i) {
        workers.emplace_back([&] { loop.RunBlocking([&] { ++served; }); });
    }
    EXPECT_TRUE(loop.ServeUntil([&] { return served.load() == 4; }, 10s));
    for (auto& w : workers) {
        w.join();
    }
}

}  // namespace
}  // namespace halvora
