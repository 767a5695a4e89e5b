#include "media/resampler.h"

#include <samplerate.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace media {

void TResampler::TDelete::operator()(SRC_STATE_tag* state) const { src_delete(state); }

TResampler::TResampler(double sourceRate) : ratio_(kWorkingRate / sourceRate) {
    if (!(sourceRate > 0) || !src_is_valid_ratio(ratio_)) {
        throw std::runtime_error("Cannot convert audio from " + std::to_string(sourceRate) +
                                 " samples per second");
    }
    int error = 0;
    state_.reset(src_new(SRC_SINC_FASTEST, 1, &error));
    if (!state_) throw std::runtime_error(std::string("Resampler: ") + src_strerror(error));
}

void TResampler::Push(const float* samples, size_t count, bool last, std::vector<int16_t>& out) {
    // Room for the whole piece plus the converter's held-back samples.
    output_.resize(static_cast<size_t>(std::ceil(count * ratio_)) + 256);
    SRC_DATA data{};
    data.data_in = samples;
    data.input_frames = static_cast<long>(count);
    data.src_ratio = ratio_;
    data.end_of_input = last ? 1 : 0;
    do {
        data.data_out = output_.data();
        data.output_frames = static_cast<long>(output_.size());
        const int error = src_process(state_.get(), &data);
        if (error) throw std::runtime_error(std::string("Resampler: ") + src_strerror(error));
        AppendAsInt16(output_.data(), static_cast<size_t>(data.output_frames_gen), out);
        data.data_in += data.input_frames_used;
        data.input_frames -= data.input_frames_used;
        if (data.input_frames_used == 0 && data.output_frames_gen == 0) break;
    } while (data.input_frames > 0 || last);
}

void AppendAsInt16(const float* samples, size_t count, std::vector<int16_t>& out) {
    out.reserve(out.size() + count);
    for (size_t i = 0; i < count; ++i) {
        if (std::isnan(samples[i])) {
            out.push_back(0);
            continue;
        }
        const float scaled = std::nearbyint(samples[i] * 32768.0f);
        out.push_back(static_cast<int16_t>(std::clamp(scaled, -32768.0f, 32767.0f)));
    }
}

}  // namespace media
