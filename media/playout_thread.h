// TPlayoutThread: the clock of a call's adaptive receive path. It runs the
// path's service whenever the service asked to be run again (frames are due,
// or a missing one must be concealed) and when woken; received datagrams run
// the service themselves, so on a clean line the thread only keeps time.
// Owned by the media path, which stops and joins it when the call's media
// stops.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace media {

class TPlayoutThread {
public:
    // Runs what is due and returns how long (ms) until it should run again.
    using TService = std::function<double()>;
    static constexpr double kLongestWaitMs = 100;

    explicit TPlayoutThread(TService service);
    ~TPlayoutThread();
    TPlayoutThread(const TPlayoutThread&) = delete;
    TPlayoutThread& operator=(const TPlayoutThread&) = delete;

    void Wake();
    // Wakes the thread unless it is due to run within `waitMs` anyway.
    void WakeWithin(double waitMs);

private:
    void Run();

    TService Service_;
    std::mutex Mutex_;
    std::condition_variable Changed_;
    bool Stopping_ = false;  // guarded by Mutex_
    bool Woken_ = false;     // guarded by Mutex_
    std::chrono::steady_clock::time_point Planned_{};  // next run; guarded by Mutex_
    std::thread Thread_;     // last: starts once the fields above exist
};

}  // namespace media
