#include "media/audio_playback_queue.h"

#include <algorithm>
#include <cstring>

namespace media {

void TPlaybackQueue::Play(const void* pcm, int length) {
    const int count = std::min(length, kBufferBytes) / 2;
    if (count <= 0)
        return;
    {
        std::lock_guard<std::mutex> guard(Mutex_);
        if (Busy_ == kBufferCount)
            return;
        TBuffer& buffer = Buffers_[static_cast<size_t>((Head_ + Busy_) % kBufferCount)];
        std::memcpy(buffer.samples.data(), pcm, static_cast<size_t>(count) * 2);
        buffer.count = count;
        ++Busy_;
    }
    Queued_.notify_one();
}

bool TPlaybackQueue::CanPlay() {
    std::lock_guard<std::mutex> guard(Mutex_);
    return Busy_ < kBufferCount;
}

int TPlaybackQueue::GetBusyCount() {
    std::lock_guard<std::mutex> guard(Mutex_);
    return Busy_;
}

int TPlaybackQueue::GetTrimmedCount() {
    std::lock_guard<std::mutex> guard(Mutex_);
    return Trimmed_;
}

void TPlaybackQueue::DropOldestWaiting() {
    // The later waiting frames move one buffer toward the head, keeping the
    // play order; buffers already taken stay where the device expects them.
    for (int index = Playing_; index + 1 < Busy_; ++index)
        Buffers_[static_cast<size_t>((Head_ + index) % kBufferCount)] =
            Buffers_[static_cast<size_t>((Head_ + index + 1) % kBufferCount)];
    --Busy_;
    ++Trimmed_;
}

bool TPlaybackQueue::TakeLocked(std::vector<int16_t>& samples) {
    if (Playing_ == Busy_)
        return false;
    const int waitingAfterTake = Busy_ - Playing_ - 1;
    StandingTakes_ = waitingAfterTake > kCushionFrames ? StandingTakes_ + 1 : 0;
    if (StandingTakes_ >= kTrimTakes) {
        DropOldestWaiting();  // leaves at least the cushion to take from
        StandingTakes_ = 0;
    }
    const TBuffer& buffer = Buffers_[static_cast<size_t>((Head_ + Playing_) % kBufferCount)];
    samples.assign(buffer.samples.begin(), buffer.samples.begin() + buffer.count);
    ++Playing_;
    return true;
}

bool TPlaybackQueue::Take(std::vector<int16_t>& samples) {
    std::lock_guard<std::mutex> guard(Mutex_);
    return TakeLocked(samples);
}

bool TPlaybackQueue::WaitTake(std::vector<int16_t>& samples,
                              std::chrono::steady_clock::time_point until) {
    std::unique_lock<std::mutex> lock(Mutex_);
    Queued_.wait_until(lock, until, [this] { return Playing_ < Busy_ || WakeRequested_; });
    WakeRequested_ = false;
    return TakeLocked(samples);
}

void TPlaybackQueue::Release() {
    std::lock_guard<std::mutex> guard(Mutex_);
    if (Playing_ == 0)
        return;
    Head_ = (Head_ + 1) % kBufferCount;
    --Busy_;
    --Playing_;
}

void TPlaybackQueue::Wake() {
    {
        std::lock_guard<std::mutex> guard(Mutex_);
        WakeRequested_ = true;
    }
    Queued_.notify_all();
}

}  // namespace media
