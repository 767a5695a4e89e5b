#include "media/auto_reset_event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

TEST(AutoResetEventTest, StartsClearAndASetIsConsumedByOneWait) {
    TAutoResetEvent event;
    EXPECT_FALSE(event.Wait(0ms));
    event.Set();
    event.Set();  // signals do not add up
    EXPECT_TRUE(event.Wait(0ms));
    EXPECT_FALSE(event.Wait(0ms));
}

TEST(AutoResetEventTest, ResetDropsAnUnconsumedSignal) {
    TAutoResetEvent event;
    event.Set();
    event.Reset();
    EXPECT_FALSE(event.Wait(0ms));
}

TEST(AutoResetEventTest, PulseWithoutWaiterIsLostAndClearsTheEvent) {
    TAutoResetEvent event;
    event.Pulse();
    EXPECT_FALSE(event.Wait(0ms));
    event.Set();
    event.Pulse();
    EXPECT_FALSE(event.Wait(0ms));
}

TEST(AutoResetEventTest, WaitTimesOutAfterRoughlyItsTimeout) {
    TAutoResetEvent event;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(event.Wait(30ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
}

// Each Set and each Pulse releases exactly one of several waiters.
TEST(AutoResetEventTest, SetAndPulseReleaseOneWaiterEach) {
    TAutoResetEvent event;
    std::atomic<int> released{0};
    std::atomic<int> waiting{0};
    std::vector<std::thread> waiters;
    for (int index = 0; index < 3; ++index) {
        waiters.emplace_back([&] {
            ++waiting;
            if (event.Wait(5s))
                ++released;
        });
    }
    while (waiting < 3)
        std::this_thread::yield();
    std::this_thread::sleep_for(20ms);  // let all three reach the wait

    event.Set();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(released, 1);
    event.Pulse();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(released, 2);
    EXPECT_FALSE(event.Wait(0ms));  // the pulse left no signal behind
    event.Set();
    for (std::thread& waiter : waiters)
        waiter.join();
    EXPECT_EQ(released, 3);
}
