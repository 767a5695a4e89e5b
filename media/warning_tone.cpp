#include "media/warning_tone.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include "media/wav_format.h"

namespace media {
namespace {

constexpr int kRate = 8000;
// -12 dBFS peak: clearly heard over speech without clipping in G.711.
constexpr double kPeak = 8200.0;
// Each beep rises and falls over 10 ms so it starts and stops without a click.
constexpr int kRampSamples = 80;

}  // namespace

std::string WarningToneWav(int beeps) {
    if (beeps < 1 || beeps > 5) throw std::out_of_range("No warning tone of " + std::to_string(beeps) + " beeps");
    const int beepSamples = kWarningBeepMs * kRate / 1000;
    const int gapSamples = kWarningGapMs * kRate / 1000;
    const int total = beeps * (beepSamples + gapSamples);
    std::string wav = MakePcmWavHeader(1, kRate, 16, static_cast<uint32_t>(total * 2));
    const double w = 2 * std::numbers::pi * kWarningToneFrequency / kRate;
    for (int n = 0; n < total; ++n) {
        const int inBeep = n % (beepSamples + gapSamples);
        double v = 0;
        if (inBeep < beepSamples) {
            const int edge = std::min(inBeep, beepSamples - 1 - inBeep);
            const double ramp = edge < kRampSamples ? static_cast<double>(edge) / kRampSamples : 1.0;
            v = kPeak * ramp * std::sin(w * inBeep);
        }
        AppendLe16(wav, static_cast<uint16_t>(static_cast<int16_t>(std::lround(v))));
    }
    return wav;
}

}  // namespace media
