#include "media/dtmf_detector.h"

#include <algorithm>

namespace media {

namespace {

constexpr int kRows[4] = {4, 5, 6, 8};
constexpr int kColumns[3] = {10, 12, 13};
// Row by row, column by column: 1 2 3 / 4 5 6 / 7 8 9 / * 0 #, as indices
// into the result table.
constexpr int kKeyIndex[4][3] = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 0, 11}};
constexpr int kCallProgressBin = 1;
// The call-progress result is the character "D": in the 0-based table (the
// one telephone events use) that is index 15.
constexpr int kCallProgressIndex = 15;

}  // namespace

void TKeypadToneDetector::Reduce(const int16_t* pcm, TFrameBytes& bytes) {
    for (int n = 0; n < kFrameSamples; ++n)
        bytes[static_cast<std::size_t>(n)] = static_cast<int8_t>(pcm[n] >> 9);
}

TKeypadToneDetector::TEnergies TKeypadToneDetector::Energies(const TFrameBytes& bytes) {
    TEnergies energies{};
    for (int bin = 0; bin < kBinCount; ++bin) {
        const double c = kCoefficients[static_cast<std::size_t>(bin)];
        double s1 = 0, s2 = 0;
        for (int8_t v : bytes) {
            const double x = v / 128.0;
            const double s = x + c * s1 - s2;
            s2 = s1;
            s1 = s;
        }
        energies[static_cast<std::size_t>(bin)] = s1 * s1 + s2 * s2 - c * s1 * s2;
    }
    return energies;
}

double TKeypadToneDetector::Largest(const TEnergies& energies) {
    return *std::max_element(energies.begin(), energies.end());
}

char TKeypadToneDetector::Classify(const TEnergies& energies) {
    const double largest = Largest(energies);
    if (largest < kMinimumEnergy)
        return 0;
    std::array<bool, kBinCount> on{};
    int count = 0;
    for (int bin = 0; bin < kBinCount; ++bin) {
        on[static_cast<std::size_t>(bin)] = energies[static_cast<std::size_t>(bin)] > largest * kOnFraction;
        count += on[static_cast<std::size_t>(bin)] ? 1 : 0;
    }
    if (count == 1 && largest > kCallProgressEnergy && on[kCallProgressBin])
        return kResultTable[kCallProgressIndex];
    if (count != 2)
        return 0;
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 3; ++column) {
            if (on[static_cast<std::size_t>(kRows[row])] && on[static_cast<std::size_t>(kColumns[column])])
                return kResultTable[kKeyIndex[row][column]];
        }
    }
    return 0;
}

char TKeypadToneDetector::Detect(const int16_t* pcm, TEnergies* energies) {
    TFrameBytes bytes{};
    Reduce(pcm, bytes);
    const TEnergies found = Energies(bytes);
    if (energies)
        *energies = found;
    return Classify(found);
}

}  // namespace media
