// A call that records every frame its capture device hands it, with the
// time each arrived, for the audio device tests and the pacing benchmark.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "tests/sip/fake_call.h"

class TRecordingCall : public TFakeCall {
public:
    using TClock = std::chrono::steady_clock;

    void SendAudioFrame(const int16_t* pcm) override {
        std::function<void()> hook;
        {
            std::lock_guard<std::mutex> guard(Mutex);
            Frames.emplace_back(pcm, pcm + kFrameSamples);
            Times.push_back(TClock::now());
            hook = OnFrame;
        }
        Arrived.notify_all();
        if (hook)
            hook();
    }

    // Waits until `count` frames have arrived or `timeout` has passed.
    bool WaitForFrames(size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(Mutex);
        return Arrived.wait_for(lock, timeout, [&] { return Frames.size() >= count; });
    }

    size_t FrameCount() {
        std::lock_guard<std::mutex> guard(Mutex);
        return Frames.size();
    }

    std::mutex Mutex;
    std::condition_variable Arrived;
    std::vector<std::vector<int16_t>> Frames;  // guarded by Mutex
    std::vector<TClock::time_point> Times;     // guarded by Mutex
    std::function<void()> OnFrame;             // runs on the capture thread, outside Mutex
};
