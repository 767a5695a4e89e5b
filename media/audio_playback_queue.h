// The sixteen playback buffers of a speaker, shared by the call's receive
// thread (Play, CanPlay) and the speaker's own thread (Take, Release).
//
// A buffer is busy from Play until the device has finished playing it
// (Release), not merely until it was taken: that is what makes CanPlay turn
// false when the device falls behind, so received audio waits in the jitter
// buffer instead of piling up here.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace media {

class TPlaybackQueue {
public:
    static constexpr int kBufferCount = 16;
    static constexpr int kBufferBytes = 2560;
    static constexpr int kCushionFrames = 1;
    static constexpr int kTrimTakes = 50;

    // Copies the frame into the next free buffer; drops it when all sixteen
    // are busy. Lengths above kBufferBytes are cut to it; odd bytes and empty
    // frames carry no sample and are dropped.
    void Play(const void* pcm, int length);
    bool CanPlay();
    // Busy buffers, queued or playing.
    int GetBusyCount();
    // Frames dropped to bring the delay back down since creation.
    int GetTrimmedCount();

    // Copies the oldest frame not yet taken into `samples`; false when none.
    // Its buffer stays busy until Release.
    bool Take(std::vector<int16_t>& samples);
    // Like Take, waiting until a frame is queued, Wake is called or `until`.
    bool WaitTake(std::vector<int16_t>& samples, std::chrono::steady_clock::time_point until);
    // Frees the buffer of the earliest taken frame.
    void Release();
    // Ends every wait in progress (used when the owner stops its thread).
    void Wake();

private:
    struct TBuffer {
        std::array<int16_t, kBufferBytes / 2> samples;
        int count = 0;
    };
    bool TakeLocked(std::vector<int16_t>& samples);
    void DropOldestWaiting();

    std::mutex Mutex_;
    std::condition_variable Queued_;
    // Guarded by Mutex_: a ring of buffers in play order starting at Head_;
    // the first Playing_ of the Busy_ ones have been taken.
    std::array<TBuffer, kBufferCount> Buffers_{};
    int Head_ = 0;
    int Busy_ = 0;
    int Playing_ = 0;
    bool WakeRequested_ = false;
    int StandingTakes_ = 0;  // takes in a row that left the cushion waiting
    int Trimmed_ = 0;
};

}  // namespace media
