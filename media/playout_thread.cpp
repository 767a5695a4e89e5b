#include "media/playout_thread.h"

#include <algorithm>
#include <chrono>

namespace media {

TPlayoutThread::TPlayoutThread(TService service)
    : Service_(std::move(service)), Thread_([this] { Run(); }) {}

TPlayoutThread::~TPlayoutThread() {
    {
        std::lock_guard<std::mutex> guard(Mutex_);
        Stopping_ = true;
    }
    Changed_.notify_all();
    Thread_.join();
}

void TPlayoutThread::Wake() {
    {
        std::lock_guard<std::mutex> guard(Mutex_);
        Woken_ = true;
    }
    Changed_.notify_all();
}

void TPlayoutThread::WakeWithin(double waitMs) {
    {
        std::lock_guard<std::mutex> guard(Mutex_);
        const auto by = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double, std::milli>(waitMs));
        if (Planned_ <= by)
            return;
        Woken_ = true;
    }
    Changed_.notify_all();
}

void TPlayoutThread::Run() {
    std::unique_lock<std::mutex> lock(Mutex_);
    while (!Stopping_) {
        lock.unlock();
        const double waitMs = std::clamp(Service_(), 0.2, kLongestWaitMs);
        lock.lock();
        Planned_ = std::chrono::steady_clock::now() +
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double, std::milli>(waitMs));
        Changed_.wait_until(lock, Planned_, [this] { return Stopping_ || Woken_; });
        Woken_ = false;
    }
}

}  // namespace media
