#include "media/loss_concealer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace media {

namespace {

constexpr int kSamplesPerMs = 8;

int16_t Saturate(float value) {
    return static_cast<int16_t>(std::clamp(std::lround(value), -32768L, 32767L));
}

}  // namespace

void TLossConcealer::Remember(const int16_t* pcm, int count) {
    if (count >= kHistory) {
        std::copy(pcm + count - kHistory, pcm + count, History_.begin());
    } else {
        std::copy(History_.begin() + count, History_.end(), History_.begin());
        std::copy(pcm, pcm + count, History_.end() - count);
    }
    Known_ = std::min(kHistory, Known_ + count);
}

void TLossConcealer::StartGap() {
    const int16_t* end = History_.data() + kHistory;
    // Early in a call less audio is known: the search shrinks to fit it.
    const int longest = std::min(kPitchMax, Known_ / 2 - 5);
    const int span = std::min(kMatchSpan, Known_ - longest - longest / 4);
    // The lag at which the most recent audio best matches itself.
    int best = kPitchMin;
    long bestScore = std::numeric_limits<long>::max();
    for (int lag = kPitchMin; lag <= longest; ++lag) {
        long score = 0;
        for (int n = 1; n <= span && score < bestScore; ++n)
            score += std::abs(end[-n] - end[-n - lag]);
        if (score < bestScore) {
            bestScore = score;
            best = lag;
        }
    }
    Period_ = best;
    // The last period, its end blended toward the audio that came before its
    // start so the repeats join smoothly.
    const int quarter = Period_ / 4;
    for (int n = 0; n < Period_; ++n)
        Cycle_[static_cast<std::size_t>(n)] = end[n - Period_];
    for (int j = 0; j < quarter; ++j) {
        const float weight = (static_cast<float>(j) + 0.5f) / static_cast<float>(quarter);
        const auto index = static_cast<std::size_t>(Period_ - quarter + j);
        Cycle_[index] = Cycle_[index] * (1 - weight) + end[j - quarter - Period_] * weight;
    }
    Position_ = 0;
}

int16_t TLossConcealer::NextSynthetic() {
    constexpr int hold = kHoldMs * kSamplesPerMs;
    constexpr int fade = kFadeMs * kSamplesPerMs;
    float gain = 1;
    if (Gap_ >= hold + fade)
        gain = 0;
    else if (Gap_ > hold)
        gain = 1 - static_cast<float>(Gap_ - hold) / fade;
    const float value = Cycle_[static_cast<std::size_t>(Position_)] * gain;
    Position_ = (Position_ + 1) % Period_;
    ++Gap_;
    return Saturate(value);
}

void TLossConcealer::Fill(int16_t* pcm, int count) {
    if (Gap_ == 0 && Known_ >= kMinimumKnown)
        StartGap();
    if (Period_ == 0) {
        std::fill(pcm, pcm + count, int16_t{0});  // nothing heard yet to go on
        Gap_ += count;
        return;
    }
    for (int n = 0; n < count; ++n)
        pcm[n] = NextSynthetic();
}

void TLossConcealer::Good(int16_t* pcm, int count) {
    if (Gap_ > 0 && Period_ > 0) {
        // Cross-fade from the concealment into the real audio.
        const int span = std::min(count, Period_ / 4 + 8);
        for (int n = 0; n < span; ++n) {
            const float weight = (static_cast<float>(n) + 0.5f) / static_cast<float>(span);
            pcm[n] = Saturate(pcm[n] * weight + NextSynthetic() * (1 - weight));
        }
    }
    Gap_ = 0;
    Period_ = 0;
    Remember(pcm, count);
}

}  // namespace media
