// Streaming conversion of mono float audio at any rate to the working format,
// 8000 samples/s 16-bit, through libsamplerate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct SRC_STATE_tag;

namespace media {

inline constexpr int kWorkingRate = 8000;

class TResampler {
public:
    // Throws std::runtime_error when the rate cannot be converted (libsamplerate
    // handles ratios up to 256 in either direction).
    explicit TResampler(double sourceRate);

    // Feeds `count` samples in [-1, 1]; converted samples are appended to `out`.
    // The last call must say so, to flush the converter's delay line.
    void Push(const float* samples, size_t count, bool last, std::vector<int16_t>& out);

private:
    struct TDelete {
        void operator()(SRC_STATE_tag* state) const;
    };
    std::unique_ptr<SRC_STATE_tag, TDelete> state_;
    double ratio_;
    std::vector<float> output_;
};

// Appends float samples to `out` as 16-bit values, rounded and clamped.
void AppendAsInt16(const float* samples, size_t count, std::vector<int16_t>& out);

}  // namespace media
