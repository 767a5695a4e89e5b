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
        if (queue.GetBusyCount() == 5) {  // a device that keeps five in hand
            ASSERT_TRUE(queue.Take(taken));
            EXPECT_EQ(taken.front(), next++);
            queue.Release();
        }
    }
    while (queue.Take(taken)) {
        EXPECT_EQ(taken.front(), next++);
        queue.Release();
    }
    EXPECT_EQ(next, 100);
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
