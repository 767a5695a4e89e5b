#include "media/dtmf_detector.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace media {

namespace {

constexpr double kFullScale = 32767.0;
// Row by row, column by column: 1 2 3 A / 4 5 6 B / 7 8 9 C / * 0 # D, as
// indices into the result table.
constexpr int kKeyIndex[4][4] = {{1, 2, 3, 12}, {4, 5, 6, 13}, {7, 8, 9, 14}, {10, 0, 11, 15}};
// Only the twelve keys of a telephone keypad are reported.
constexpr int kKeyColumns = 3;

struct TStrongest {
    int index = 0;
    double power = 0;
    double runnerUp = 0;
};

TStrongest StrongestOf(const std::array<double, 4>& powers) {
    TStrongest strongest;
    for (int index = 0; index < 4; ++index) {
        const double power = powers[static_cast<std::size_t>(index)];
        if (power > strongest.power) {
            strongest.runnerUp = strongest.power;
            strongest.power = power;
            strongest.index = index;
        } else {
            strongest.runnerUp = std::max(strongest.runnerUp, power);
        }
    }
    return strongest;
}

double Ratio(double db) {
    return std::pow(10.0, db / 10.0);
}

double GoertzelCoefficient(double hz) {
    return 2.0 * std::cos(2.0 * std::numbers::pi * hz / 8000.0);
}

// The filter's state after `count` samples as the power of a sine: one of
// amplitude A gives (A N / 2)^2.
double GoertzelPower(double s1, double s2, double coefficient, int count) {
    const double magnitude = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 4.0 * magnitude / (static_cast<double>(count) * count);
}

// The eight keypad frequencies' filters run side by side over a frame: eight
// independent recurrences the processor overlaps, where one filter after
// the other each step waited on the step before it. Each computes exactly
// what TonePower computes at its frequency.
constexpr std::size_t kBankFilters = 8;

const std::array<double, kBankFilters>& BankCoefficients() {
    static const std::array<double, kBankFilters> coefficients = [] {
        std::array<double, kBankFilters> all{};
        for (std::size_t index = 0; index < 4; ++index) {
            all[index] = GoertzelCoefficient(TKeypadToneDetector::kRowHz[index]);
            all[4 + index] = GoertzelCoefficient(TKeypadToneDetector::kColumnHz[index]);
        }
        return all;
    }();
    return coefficients;
}

void BankPowers(const int16_t* pcm, int count, std::array<double, 4>& rows, std::array<double, 4>& columns) {
    const std::array<double, kBankFilters>& c = BankCoefficients();
    std::array<double, kBankFilters> s1{}, s2{};
    for (int n = 0; n < count; ++n) {
        const double x = pcm[n] / kFullScale;
        for (std::size_t k = 0; k < kBankFilters; ++k) {
            const double s = x + c[k] * s1[k] - s2[k];
            s2[k] = s1[k];
            s1[k] = s;
        }
    }
    for (std::size_t index = 0; index < 4; ++index) {
        rows[index] = GoertzelPower(s1[index], s2[index], c[index], count);
        columns[index] = GoertzelPower(s1[4 + index], s2[4 + index], c[4 + index], count);
    }
}

}  // namespace

double TKeypadToneDetector::Dbfs(double power) {
    return power > 0 ? 10.0 * std::log10(power) : -200.0;
}

double TKeypadToneDetector::FramePower(const int16_t* pcm, int count) {
    double sum = 0;
    for (int n = 0; n < count; ++n) {
        const double x = pcm[n] / kFullScale;
        sum += x * x;
    }
    // A full-scale sine has a mean square of 1/2: scaled to 1.
    return count > 0 ? 2.0 * sum / count : 0;
}

double TKeypadToneDetector::TonePower(const int16_t* pcm, int count, double hz) {
    const double c = GoertzelCoefficient(hz);
    double s1 = 0, s2 = 0;
    for (int n = 0; n < count; ++n) {
        const double s = pcm[n] / kFullScale + c * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return GoertzelPower(s1, s2, c, count);
}

char TKeypadToneDetector::Detect(const int16_t* pcm) {
    const double frame = FramePower(pcm, kFrameSamples);
    if (frame < Ratio(kMinimumToneDbfs))
        return 0;
    std::array<double, 4> rows{}, columns{};
    BankPowers(pcm, kFrameSamples, rows, columns);
    const TStrongest row = StrongestOf(rows);
    const TStrongest column = StrongestOf(columns);
    const double floor = Ratio(kMinimumToneDbfs);
    const bool dual = row.power >= floor && column.power >= floor &&
                      std::fabs(Dbfs(row.power) - Dbfs(column.power)) <= kMaxTwistDb &&
                      row.power >= row.runnerUp * Ratio(kNeighbourDb) &&
                      column.power >= column.runnerUp * Ratio(kNeighbourDb) &&
                      row.power + column.power >= kToneShare * frame;
    if (dual && column.index < kKeyColumns)
        return kResultTable[kKeyIndex[row.index][column.index]];
    return 0;
}

}  // namespace media
