// The sixteen playback buffers: the CanPlay rule, drops, order and the
// consumer's waits.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "media/audio_playback_queue.h"
#include "sip/sipints.h"

using media::TPlaybackQueue;

namespace {

std::vector<int16_t> Frame(int16_t value, int samples = kFrameSamples) {
    return std::vector<int16_t>(static_cast<size_t>(samples), value);
}

void PlayFrame(TPlaybackQueue& queue, int16_t value) {
    const auto frame = Frame(value);
    queue.Play(frame.data(), kFrameBytes);
}

}  // namespace

TEST(AudioPlaybackQueue, SeventeenthFrameIsDroppedAndCanPlayFalseBeforeIt) {
    TPlaybackQueue queue;
    for (int i = 1; i <= 16; ++i) {
        EXPECT_TRUE(queue.CanPlay()) << i;
        PlayFrame(queue, static_cast<int16_t>(i));
    }
    EXPECT_FALSE(queue.CanPlay());
    PlayFrame(queue, 17);
    EXPECT_EQ(queue.GetBusyCount(), 16);
    // Taking a frame to play does not free its buffer; only its end does.
    std::vector<int16_t> taken;
    ASSERT_TRUE(queue.Take(taken));
    EXPECT_FALSE(queue.CanPlay());
    queue.Release();
    EXPECT_TRUE(queue.CanPlay());
    for (int i = 2; i <= 16; ++i) {
        ASSERT_TRUE(queue.Take(taken));
        EXPECT_EQ(taken, Frame(static_cast<int16_t>(i)));  // in order, no 17
    }
    EXPECT_FALSE(queue.Take(taken));
}

TEST(AudioPlaybackQueue, OrderHoldsAcrossTheRingsWrap) {
    TPlaybackQueue queue;
    std::vector<int16_t> taken;
    int16_t next = 0;
    for (int16_t value = 0; value < 100; ++value) {
        PlayFrame(queue, value);
        // A device that takes each frame at once and keeps five in hand.
        ASSERT_TRUE(queue.Take(taken));
        EXPECT_EQ(taken.front(), next++);
        if (queue.GetBusyCount() == 5)
            queue.Release();
    }
    EXPECT_FALSE(queue.Take(taken));
    EXPECT_EQ(next, 100);
    EXPECT_EQ(queue.GetBusyCount(), 4);
}

TEST(AudioPlaybackQueue, FrameLengths) {
    TPlaybackQueue queue;
    std::vector<int16_t> taken;
    const auto big = Frame(9, 2000);
    queue.Play(big.data(), 4000);  // cut to one buffer
    queue.Play(big.data(), 7);     // three samples, the odd byte dropped
    queue.Play(big.data(), 1);     // no whole sample
    queue.Play(big.data(), 0);
    queue.Play(big.data(), -5);
    EXPECT_EQ(queue.GetBusyCount(), 2);
    ASSERT_TRUE(queue.Take(taken));
    EXPECT_EQ(taken.size(), static_cast<size_t>(TPlaybackQueue::kBufferBytes / 2));
    ASSERT_TRUE(queue.Take(taken));
    EXPECT_EQ(taken, Frame(9, 3));
}

TEST(AudioPlaybackQueue, WaitsEndByFrameWakeOrTime) {
    TPlaybackQueue queue;
    std::vector<int16_t> taken;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(queue.WaitTake(taken, start + std::chrono::milliseconds(30)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));

    std::thread producer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        PlayFrame(queue, 5);
    });
    EXPECT_TRUE(queue.WaitTake(taken, std::chrono::steady_clock::now() + std::chrono::seconds(10)));
    producer.join();
    EXPECT_EQ(taken, Frame(5));

    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        queue.Wake();
    });
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(queue.WaitTake(taken, before + std::chrono::seconds(10)));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    waker.join();
}

namespace {

// A device playing one frame per period: it gives back the frame that was
// playing and takes the next; `arrivals` says how many frames the far end
// delivers during each period. Returns the values played, in order.
std::vector<int16_t> PlayPeriods(TPlaybackQueue& queue, int16_t& next, const std::vector<int>& arrivals) {
    std::vector<int16_t> played;
    std::vector<int16_t> frame;
    bool playing = false;
    for (const int count : arrivals) {
        if (playing)
            queue.Release();
        playing = queue.Take(frame);
        if (playing)
            played.push_back(frame[0]);
        for (int n = 0; n < count; ++n)
            PlayFrame(queue, next++);
    }
    return played;
}

}  // namespace

TEST(AudioPlaybackQueue, StandingBacklogShrinksByAFramePerSecondDownToTheCushion) {
    TPlaybackQueue queue;
    int16_t next = 1;
    for (int n = 0; n < 5; ++n)
        PlayFrame(queue, next++);  // a burst: four frames more than the device needs
    const auto played = PlayPeriods(queue, next, std::vector<int>(400, 1));
    // Three frames dropped, one per 50 takes that left the backlog standing,
    // then the cushion stays.
    EXPECT_EQ(queue.GetTrimmedCount(), 3);
    std::vector<int16_t> skipped;
    for (size_t n = 1; n < played.size(); ++n) {
        ASSERT_GT(played[n], played[n - 1]);
        for (int16_t missing = static_cast<int16_t>(played[n - 1] + 1); missing < played[n]; ++missing)
            skipped.push_back(missing);
    }
    EXPECT_EQ(skipped, (std::vector<int16_t>{50, 101, 152}));
    EXPECT_EQ(played.front(), 1);
    EXPECT_EQ(queue.GetBusyCount(), 1 + 1 + TPlaybackQueue::kCushionFrames);  // playing, arrived, cushion
}

TEST(AudioPlaybackQueue, JitteryArrivalsAndDrainingBurstsArePlayedWhole) {
    TPlaybackQueue queue;
    int16_t next = 1;
    // Packets arriving in pairs every other period, then a burst of ten
    // after a stall that the device drains within a second.
    std::vector<int> arrivals;
    for (int n = 0; n < 100; ++n)
        arrivals.push_back(n % 2 == 0 ? 2 : 0);
    for (int n = 0; n < 10; ++n)
        arrivals.push_back(0);
    arrivals.push_back(10);
    for (int n = 0; n < 40; ++n)
        arrivals.push_back(0);
    const auto played = PlayPeriods(queue, next, arrivals);
    EXPECT_EQ(queue.GetTrimmedCount(), 0);
    std::vector<int16_t> all(static_cast<size_t>(next - 1));
    for (size_t n = 0; n < all.size(); ++n)
        all[n] = static_cast<int16_t>(n + 1);
    EXPECT_EQ(played, all);
}
