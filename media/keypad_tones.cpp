#include "media/keypad_tones.h"

#include <array>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include "media/wav_format.h"

namespace media {
namespace {

constexpr int kRate = 8000;
constexpr int kToneSamples = 2400;     // 300 ms
constexpr int kSilenceSamples = 400;   // 50 ms
constexpr double kPeak = 32750.0;      // of the sum of the two sines
constexpr std::string_view kKeys = "1234567890*#";

// Row and column frequencies of the telephone keypad.
constexpr std::array<int, 4> kLow = {697, 770, 852, 941};
constexpr std::array<int, 3> kHigh = {1209, 1336, 1477};

void CheckItem(int item) {
    if (item < 1 || item > kKeypadToneCount) {
        throw std::out_of_range("No keypad tone " + std::to_string(item));
    }
}

std::string BuildTone(int item) {
    const TDtmfPair pair = KeypadToneFrequencies(item);
    std::string wav = MakePcmWavHeader(1, kRate, 16, kKeypadToneDataBytes);
    // Each sine takes half the peak, so their sum never passes it.
    const double amplitude = kPeak / 2;
    const double wLow = 2 * std::numbers::pi * pair.low / kRate;
    const double wHigh = 2 * std::numbers::pi * pair.high / kRate;
    for (int n = 0; n < kToneSamples + kSilenceSamples; ++n) {
        const double v = n < kToneSamples ? amplitude * (std::sin(wLow * n) + std::sin(wHigh * n)) : 0;
        AppendLe16(wav, static_cast<uint16_t>(static_cast<int16_t>(std::lround(v))));
    }
    return wav;
}

}  // namespace

TDtmfPair KeypadToneFrequencies(int item) {
    CheckItem(item);
    const char key = kKeys[static_cast<size_t>(item - 1)];
    if (key == '*') return {kLow[3], kHigh[0]};
    if (key == '0') return {kLow[3], kHigh[1]};
    if (key == '#') return {kLow[3], kHigh[2]};
    const int digit = key - '1';
    return {kLow[static_cast<size_t>(digit / 3)], kHigh[static_cast<size_t>(digit % 3)]};
}

const std::string& KeypadToneWav(int item) {
    CheckItem(item);
    static const std::array<std::string, kKeypadToneCount> tones = [] {
        std::array<std::string, kKeypadToneCount> all;
        for (int i = 1; i <= kKeypadToneCount; ++i) all[static_cast<size_t>(i - 1)] = BuildTone(i);
        return all;
    }();
    return tones[static_cast<size_t>(item - 1)];
}

int KeypadToneItem(char key) {
    const size_t at = kKeys.find(key);
    return at == std::string_view::npos || key == '\0' ? 0 : static_cast<int>(at) + 1;
}

}  // namespace media
