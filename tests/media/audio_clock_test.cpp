// The frame pacer, driven by made-up wake-up times instead of sleeps.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <random>
#include <thread>

#include "media/audio_clock.h"

using namespace std::chrono_literals;
using media::kFramePeriod;
using media::TAudioClock;
using media::TFramePacer;

TEST(AudioFramePacer, LateWakeUpsDoNotDriftOverHours) {
    const TAudioClock::time_point start{};  // any origin will do
    TFramePacer pacer(start);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> oversleep(0, 3000);  // up to 3 ms late, every frame
    const int64_t frames = 3 * 60 * 60 * 50;                // three hours
    for (int64_t n = 1; n <= frames; ++n) {
        ASSERT_EQ(pacer.GetDeadline(), start + n * kFramePeriod) << n;
        const auto now = pacer.GetDeadline() + std::chrono::microseconds(oversleep(random));
        pacer.Advance(now);
    }
    EXPECT_EQ(pacer.GetDeadline(), start + (frames + 1) * kFramePeriod);
    EXPECT_EQ(pacer.GetSkipped(), 0);
}

TEST(AudioFramePacer, ShortStallIsCaughtUpAndLongOneSkippedOnTheGrid) {
    const TAudioClock::time_point start{};
    TFramePacer pacer(start);
    // Woken 70 ms late for frame 1: frames 2 to 4 are already due and come
    // at once, without a skip.
    auto now = start + kFramePeriod + 70ms;
    pacer.Advance(now);
    int burst = 0;
    while (pacer.GetDeadline() <= now) {
        pacer.Advance(now);
        ++burst;
    }
    EXPECT_EQ(burst, 3);
    EXPECT_EQ(pacer.GetSkipped(), 0);
    EXPECT_EQ(pacer.GetDeadline(), start + 5 * kFramePeriod);

    // A stall of a second: the periods beyond four are skipped, and the
    // deadlines stay on the start's 20 ms grid.
    now = pacer.GetDeadline() + 1000ms;
    pacer.Advance(now);
    EXPECT_GT(pacer.GetSkipped(), 40);
    EXPECT_LE(now - pacer.GetDeadline(), TFramePacer::kMaxLatePeriods * kFramePeriod);
    EXPECT_EQ((pacer.GetDeadline() - start) % kFramePeriod, TAudioClock::duration::zero());
    // Skipped plus delivered periods account for all the time.
    const int64_t periods = (pacer.GetDeadline() - start) / kFramePeriod;
    EXPECT_EQ(periods, 1 + 3 + 1 + pacer.GetSkipped() + 1);
}

TEST(AudioFramePacer, PeriodsOfOtherLengths) {
    const TAudioClock::time_point start{};
    TFramePacer pacer(start);
    pacer.Advance(pacer.GetDeadline(), media::SamplesDuration(80));  // a 10 ms frame next
    EXPECT_EQ(pacer.GetDeadline(), start + 30ms);
    pacer.Advance(pacer.GetDeadline());
    EXPECT_EQ(pacer.GetDeadline(), start + 50ms);
}

// The level asked for never exceeds the modest one, follows a lower limit,
// and the thread ends up at that level or at normal priority, never higher.
TEST(AudioThreadPriority, ModestLevelWithinTheLimit) {
    EXPECT_EQ(media::AudioThreadPriority(0), media::kAudioThreadPriority);
    EXPECT_EQ(media::AudioThreadPriority(5), 5);
    EXPECT_EQ(media::AudioThreadPriority(95), media::kAudioThreadPriority);
    EXPECT_LT(media::kAudioThreadPriority, sched_get_priority_max(SCHED_FIFO) / 2);

    int policy = -1;
    sched_param param{};
    std::thread([&] {
        media::TryRaiseThreadPriority();
        pthread_getschedparam(pthread_self(), &policy, &param);
    }).join();
    if (policy == SCHED_FIFO) {
        EXPECT_LE(param.sched_priority, media::kAudioThreadPriority);
    } else {
        EXPECT_EQ(policy, SCHED_OTHER);
    }
}
