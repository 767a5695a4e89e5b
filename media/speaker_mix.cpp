#include "media/speaker_mix.h"

#include <algorithm>

namespace media {

bool TSpeakerMix::Add(const IWavFilePtr& wav) {
    if (!wav)
        return false;
    const int64_t left = std::max<int64_t>(0, wav->GetSize() - wav->GetPosition());
    std::vector<int16_t> samples(static_cast<std::size_t>(std::min<int64_t>(left / 2, kMaxSamples)));
    const int read = samples.empty() ? 0 : wav->Read(samples.data(), static_cast<int>(samples.size() * 2));
    samples.resize(static_cast<std::size_t>(std::max(read, 0) / 2));
    if (samples.empty())
        return false;
    std::lock_guard<std::mutex> guard(Mutex_);
    if (static_cast<int>(Sounds_.size()) > kMaxWaiting)  // the one playing does not wait
        return false;
    Sounds_.push_back(std::move(samples));
    return true;
}

bool TSpeakerMix::MixInto(int16_t* pcm, int count) {
    std::lock_guard<std::mutex> guard(Mutex_);
    if (Sounds_.empty())
        return false;
    for (int n = 0; n < count && !Sounds_.empty(); ++n) {
        const int sum = pcm[n] + Sounds_.front()[Position_];
        pcm[n] = static_cast<int16_t>(std::clamp(sum, -32768, 32767));
        if (++Position_ == Sounds_.front().size()) {
            Sounds_.pop_front();
            Position_ = 0;
        }
    }
    return true;
}

bool TSpeakerMix::IsPlaying() {
    std::lock_guard<std::mutex> guard(Mutex_);
    return !Sounds_.empty();
}

void TSpeakerMix::Clear() {
    std::lock_guard<std::mutex> guard(Mutex_);
    Sounds_.clear();
    Position_ = 0;
}

}  // namespace media
