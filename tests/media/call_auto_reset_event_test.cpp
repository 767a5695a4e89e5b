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

namespace {

// Polls `done` for up to 20 s, a bound only a fault reaches.
template <class TDone>
bool Eventually(TDone done) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!done() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    return done();
}

}  // namespace

// Each Set and each Pulse releases exactly one of several waiters.
TEST(AutoResetEventTest, SetAndPulseReleaseOneWaiterEach) {
    TAutoResetEvent event;
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int index = 0; index < 3; ++index) {
        waiters.emplace_back([&] {
            if (event.Wait(10s))
                ++released;
        });
    }
    ASSERT_TRUE(Eventually([&] { return event.Waiting() == 3; }));

    event.Set();
    ASSERT_TRUE(Eventually([&] { return released == 1 && event.Waiting() == 2; }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(released, 1);

    event.Pulse();
    ASSERT_TRUE(Eventually([&] { return released == 2 && event.Waiting() == 1; }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(released, 2);
    EXPECT_FALSE(event.Wait(0ms));  // the pulse left no signal behind

    event.Set();
    for (std::thread& waiter : waiters)
        waiter.join();
    EXPECT_EQ(released, 3);
}
