#include "media/audio_frame_source.h"

#include <algorithm>

namespace media {

void TFrameSourceSlot::Set(ISipSpeaker::TFrameSource source) {
    std::lock_guard<std::mutex> guard(Mutex_);
    Source_ = std::move(source);
}

bool TFrameSourceSlot::IsSet() {
    std::lock_guard<std::mutex> guard(Mutex_);
    return static_cast<bool>(Source_);
}

bool TFrameSourceSlot::Pull(std::vector<int16_t>& samples, int capacity) {
    std::lock_guard<std::mutex> guard(Mutex_);
    if (!Source_)
        return false;
    samples.resize(static_cast<size_t>(capacity));
    const int count = Source_(samples.data(), capacity);
    samples.resize(static_cast<size_t>(count > 0 ? std::min(count, capacity) : 0));
    return !samples.empty();
}

}  // namespace media
