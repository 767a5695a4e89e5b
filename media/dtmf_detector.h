// The keypad-tone detector of the receive path, on the 16-bit audio of one
// 160-sample frame. Levels are in dBFS of a sine: 0 dBFS is a sine whose
// peaks reach full scale (32767).
//
// A frame holds a key when, measured at the eight keypad frequencies
// (Goertzel, exact frequencies):
// - the strongest row and the strongest column each reach kMinimumToneDbfs;
// - they are within kMaxTwistDb of each other;
// - each stands kNeighbourDb above the other rows (columns);
// - together they hold kToneShare of the frame's power: speech and noise
//   spread their power and never get there, whatever their level.
// Anything else gives nothing: a lone tone (the 425 Hz and 440 Hz dial and
// ringback tones), the paired call-progress tones (350+440, 400+450,
// 480+620 Hz), whose power falls between the keypad frequencies, and speech.
// The path reports a key found in two frames in a row (40 ms at least).
#pragma once

#include <array>
#include <cstdint>

namespace media {

class TKeypadToneDetector {
public:
    static constexpr int kFrameSamples = 160;
    static constexpr double kMinimumToneDbfs = -32;
    static constexpr double kMaxTwistDb = 8;
    static constexpr double kNeighbourDb = 6;
    static constexpr double kToneShare = 0.75;
    static constexpr const char* kResultTable = "0123456789*#ABCD";
    static constexpr std::array<double, 4> kRowHz = {697, 770, 852, 941};
    static constexpr std::array<double, 4> kColumnHz = {1209, 1336, 1477, 1633};

    // The result character for the first 160 samples, or 0 for none.
    static char Detect(const int16_t* pcm);
    // Mean-square power at `hz` over `count` samples, as the power of a sine
    // (1.0 for a full-scale sine at that frequency).
    static double TonePower(const int16_t* pcm, int count, double hz);
    // Mean-square power of the samples, on the same scale.
    static double FramePower(const int16_t* pcm, int count);
    static double Dbfs(double power);
};

}  // namespace media
