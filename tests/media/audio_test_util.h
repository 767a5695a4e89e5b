// Signal helpers shared by the media tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

namespace media_test {

// Power of one frequency in a block (Goertzel), normalised by length.
inline double TonePower(const std::vector<int16_t>& s, double freq, double rate = 8000) {
    const double w = 2 * std::numbers::pi * freq / rate;
    const double coeff = 2 * std::cos(w);
    double q1 = 0, q2 = 0;
    for (int16_t x : s) {
        const double q0 = coeff * q1 - q2 + x;
        q2 = q1;
        q1 = q0;
    }
    const double power = q1 * q1 + q2 * q2 - coeff * q1 * q2;
    return power / (static_cast<double>(s.size()) * s.size());
}

// The frequency among `candidates` with the most power.
inline double StrongestOf(const std::vector<int16_t>& s, const std::vector<double>& candidates) {
    double best = candidates.front(), bestPower = -1;
    for (double f : candidates) {
        const double p = TonePower(s, f);
        if (p > bestPower) bestPower = p, best = f;
    }
    return best;
}

inline std::vector<int16_t> Sine(double freq, int samples, double amplitude, double rate = 8000) {
    std::vector<int16_t> s(static_cast<size_t>(samples));
    for (int n = 0; n < samples; ++n) {
        s[static_cast<size_t>(n)] =
            static_cast<int16_t>(std::lround(amplitude * std::sin(2 * std::numbers::pi * freq * n / rate)));
    }
    return s;
}

// Signal-to-noise ratio in dB of `test` against `reference` (same length).
inline double SnrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& test) {
    double signal = 0, noise = 0;
    for (size_t i = 0; i < reference.size() && i < test.size(); ++i) {
        signal += double(reference[i]) * reference[i];
        const double d = double(reference[i]) - test[i];
        noise += d * d;
    }
    return 10 * std::log10(signal / std::max(noise, 1.0));
}

inline std::vector<int16_t> SamplesOf(const std::string& bytes) {
    std::vector<int16_t> s(bytes.size() / 2);
    for (size_t i = 0; i < s.size(); ++i) {
        s[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                    static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
    }
    return s;
}

inline std::string BytesOf(const std::vector<int16_t>& s) {
    std::string b;
    for (int16_t x : s) {
        b.push_back(static_cast<char>(x & 0xFF));
        b.push_back(static_cast<char>((static_cast<uint16_t>(x) >> 8) & 0xFF));
    }
    return b;
}

}  // namespace media_test
