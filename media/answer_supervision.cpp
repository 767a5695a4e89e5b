#include "media/answer_supervision.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <utility>

namespace media {
namespace {

constexpr double kSampleRate = 8000.0;
// Share of the frame's energy a tone must hold; speech spreads its energy
// over many harmonics and formants and stays far below.
constexpr double kToneShare = 0.6;

// The share of the frame's energy found at `frequency` (1 for a pure sine
// at that frequency), by the Goertzel recurrence.
double EnergyShare(std::span<const int16_t> pcm, double energy, double frequency) {
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * frequency / kSampleRate);
    double s1 = 0, s2 = 0;
    for (const int16_t sample : pcm) {
        const double s0 = sample + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2 * power / (static_cast<double>(pcm.size()) * energy);
}

}  // namespace

double FrameDbfs(std::span<const int16_t> pcm) {
    if (pcm.empty()) return -120.0;
    double energy = 0;
    for (const int16_t sample : pcm) energy += static_cast<double>(sample) * sample;
    const double rms = std::sqrt(energy / static_cast<double>(pcm.size()));
    return rms < 1e-3 ? -120.0 : 20 * std::log10(rms / 32768.0);
}

bool IsRingbackToneFrame(std::span<const int16_t> pcm) {
    double energy = 0;
    for (const int16_t sample : pcm) energy += static_cast<double>(sample) * sample;
    if (pcm.empty() || energy <= 0) return false;
    constexpr std::array<double, 4> kSingles = {400, 425, 440, 450};
    constexpr std::array<std::pair<double, double>, 3> kPairs = {{{350, 440}, {400, 450}, {440, 480}}};
    double best = 0;
    for (const double frequency : kSingles) best = std::max(best, EnergyShare(pcm, energy, frequency));
    for (const auto& [low, high] : kPairs)
        best = std::max(best, EnergyShare(pcm, energy, low) + EnergyShare(pcm, energy, high));
    return best >= kToneShare;
}

TAnswerSupervision::TAnswerSupervision(TAnswerSupervisionSettings settings) : Settings_(settings) {}

std::optional<TAnswerFlag> TAnswerSupervision::Frame(std::span<const int16_t> pcm, std::int64_t atMs) {
    const double dbfs = FrameDbfs(pcm);
    // Silence needs no tone test, and the tone test is the costly part.
    const bool tone = dbfs >= Settings_.SilenceDbfs && IsRingbackToneFrame(pcm);
    return Level(dbfs, tone, atMs);
}

std::optional<TAnswerFlag> TAnswerSupervision::Level(double dbfs, bool ringbackTone, std::int64_t atMs) {
    if (!Listening(atMs)) return std::nullopt;
    if (dbfs < Settings_.SilenceDbfs) {
        ToneRunMs_ = 0;
        return Tick(atMs);
    }
    HeardSound_ = true;
    LastSoundMs_ = atMs;
    if (!ringbackTone) {
        ToneRunMs_ = 0;
        SoundMs_ += kFrameMs;
        return Tick(atMs);
    }
    ToneRunMs_ += kFrameMs;
    if (ToneRunMs_ == kMinToneBurstMs)
        ToneMs_ += kMinToneBurstMs;
    else if (ToneRunMs_ > kMinToneBurstMs)
        ToneMs_ += kFrameMs;
    if (ToneMs_ >= Settings_.ToneMs) return Raise(TAnswerFlag::PossibleFalseAnswer, TFalseAnswerCause::Ringback);
    return Tick(atMs);
}

std::optional<TAnswerFlag> TAnswerSupervision::Tick(std::int64_t atMs) {
    if (!Listening(atMs)) return std::nullopt;
    if (!HeardSound_ && atMs >= Settings_.NoAudioMs)
        return Raise(TAnswerFlag::NoAudioFromDestination, TFalseAnswerCause::None);
    if (HeardSound_ && SoundMs_ >= Settings_.AnnouncementMs && atMs - LastSoundMs_ >= Settings_.SilenceAfterMs)
        return Raise(TAnswerFlag::PossibleFalseAnswer, TFalseAnswerCause::Announcement);
    return std::nullopt;
}

std::optional<TAnswerFlag> TAnswerSupervision::Raise(TAnswerFlag flag, TFalseAnswerCause cause) {
    bool& raised = flag == TAnswerFlag::PossibleFalseAnswer ? FalseAnswer_ : NoAudio_;
    if (raised) return std::nullopt;
    raised = true;
    if (flag == TAnswerFlag::PossibleFalseAnswer) Cause_ = cause;
    return flag;
}

bool TAnswerSupervision::Flagged(TAnswerFlag flag) const {
    return flag == TAnswerFlag::PossibleFalseAnswer ? FalseAnswer_ : NoAudio_;
}

}  // namespace media
