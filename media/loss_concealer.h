// TLossConcealer: fills frames that never came (lost, or too late to play)
// from the audio heard just before, in the manner of G.711 Appendix I: the
// last pitch period is found by the average magnitude difference over the
// recent audio and repeated, with its two ends blended so the repeats join
// without a click, and the first real frame afterwards is blended in.
//
// Why not a library's concealer: the one at hand fades to nothing within
// 50 ms, and a gap of up to 60 ms must not be heard as a hole. Here the level
// holds for kHoldMs and then fades out over kFadeMs.
//
// Works on 8000 Hz 16-bit mono of any frame length; used by one thread.
#pragma once

#include <array>
#include <cstdint>

namespace media {

class TLossConcealer {
public:
    static constexpr int kHistory = 400;  // samples kept of the real audio
    static constexpr int kPitchMin = 40;  // 200 Hz and up: shortest period searched
    static constexpr int kPitchMax = 120; // 66 Hz
    static constexpr int kMatchSpan = 160;
    static constexpr int kHoldMs = 60;
    static constexpr int kFadeMs = 40;
    // Less real audio than this (two shortest periods and a margin): a gap
    // is left silent, there is nothing to go on.
    static constexpr int kMinimumKnown = 2 * kPitchMin + 10;

    // A real frame about to be played: remembered, and blended with the
    // concealment when it ends a gap (the samples are changed in place).
    void Good(int16_t* pcm, int count);
    // Writes `count` samples of concealment.
    void Fill(int16_t* pcm, int count);
    // Samples concealed since the last real frame.
    int GapSamples() const { return Gap_; }

private:
    void StartGap();
    int16_t NextSynthetic();
    void Remember(const int16_t* pcm, int count);

    std::array<int16_t, kHistory> History_{};  // oldest first
    int Known_ = 0;                            // real samples in History_ (up to kHistory)
    std::array<float, kPitchMax> Cycle_{};
    int Period_ = 0;
    int Position_ = 0;
    int Gap_ = 0;  // 0: not concealing
};

}  // namespace media
