// The keypad-tone detector of the receive path: 18 Goertzel bins over one
// 160-sample frame, a row/column pair gives a key, one lone bin at 433 Hz a
// call-progress "D".
//
// - Samples are reduced to one byte (arithmetic shift right by 9) and that
//   byte is read as a SIGNED value, x = v / 128. Read unsigned, every negative
//   sample flips and half the keys are lost.
// - A bin is "on" above a FIFTH of the largest energy (kOnFraction), not a
//   tenth: at a tenth the 1300 Hz guard fires beside the 1336 Hz column and
//   2, 5, 8, 0 are never found.
// With 16-bit input reduced this way |x| <= 0.5, so the largest possible
// energy of one bin is about (0.5 * 160 / 2)^2 = 1600 and the call-progress
// rule (above 2000) cannot fire on real audio; its level is kept as it is.
#pragma once

#include <array>
#include <cstdint>

namespace media {

class TKeypadToneDetector {
public:
    static constexpr int kBinCount = 18;
    static constexpr int kFrameSamples = 160;
    static constexpr double kOnFraction = 0.2;
    static constexpr double kMinimumEnergy = 100;
    static constexpr double kCallProgressEnergy = 2000;
    static constexpr const char* kResultTable = "0123456789*#ABCD";
    static constexpr std::array<double, kBinCount> kCoefficients = {
        1.917639, 1.885283, 1.867161, 1.757634, 1.70528,  1.648252, 1.554292, 1.520812, 1.48629,
        1.298896, 1.175571, 1.044997, 1.0,      0.8,      0.568031, 0.466891, -0.618034, -0.907981};

    using TEnergies = std::array<double, kBinCount>;
    using TFrameBytes = std::array<int8_t, kFrameSamples>;

    // The byte each sample is kept as: arithmetic shift right by 9.
    static void Reduce(const int16_t* pcm, TFrameBytes& bytes);
    // The 18 bin energies of a reduced frame (bytes read as signed values).
    static TEnergies Energies(const TFrameBytes& bytes);
    // The result character for the energies, or 0 for none.
    static char Classify(const TEnergies& energies);
    static double Largest(const TEnergies& energies);
    // Reduce, Energies and Classify over the first 160 samples; `energies`
    // receives the bin energies (the silence detector uses the largest).
    static char Detect(const int16_t* pcm, TEnergies* energies = nullptr);
};

}  // namespace media
