#include "media/audio_format_converter.h"

#include <samplerate.h>

#include <cmath>
#include <stdexcept>
#include <string>

#include "media/resampler.h"

namespace media {

void TRateConverter::TDelete::operator()(SRC_STATE_tag* state) const { src_delete(state); }

TRateConverter::TRateConverter(double fromRate, double toRate) : Ratio_(toRate / fromRate) {
    if (!src_is_valid_ratio(Ratio_))
        throw std::runtime_error("Cannot convert audio at " + std::to_string(fromRate) + " Hz");
    int error = 0;
    // The fastest sinc converter: a call's frames must convert well inside
    // their 20 ms on a booth PC.
    State_.reset(src_new(SRC_SINC_FASTEST, 1, &error));
    if (!State_)
        throw std::runtime_error(std::string("Resampler: ") + src_strerror(error));
}

void TRateConverter::Push(const std::vector<float>& in, std::vector<float>& out) {
    out.resize(static_cast<size_t>(std::ceil(static_cast<double>(in.size()) * Ratio_)) + 64);
    SRC_DATA data{};
    data.data_in = in.data();
    data.input_frames = static_cast<long>(in.size());
    data.data_out = out.data();
    data.output_frames = static_cast<long>(out.size());
    data.src_ratio = Ratio_;
    if (const int error = src_process(State_.get(), &data))
        throw std::runtime_error(std::string("Resampler: ") + src_strerror(error));
    out.resize(static_cast<size_t>(data.output_frames_gen));
}

TAudioFormatConverter::TAudioFormatConverter(TStreamFormat device, bool capture)
    : Device_(device) {
    if (Device_.channels < 1)
        Device_.channels = 1;
    if (Device_.rate == kWorkingRate)
        return;
    Rate_ = capture ? std::make_unique<TRateConverter>(Device_.rate, kWorkingRate)
                    : std::make_unique<TRateConverter>(kWorkingRate, Device_.rate);
}

void TAudioFormatConverter::FromDevice(const int16_t* samples, int frames,
                                       std::vector<int16_t>& out) {
    const int channels = Device_.channels;
    In_.resize(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        float sum = 0;
        for (int c = 0; c < channels; ++c)
            sum += samples[i * channels + c];
        In_[static_cast<size_t>(i)] = sum / (32768.0f * static_cast<float>(channels));
    }
    if (Rate_) {
        Rate_->Push(In_, Out_);
        AppendAsInt16(Out_.data(), Out_.size(), out);
    } else {
        AppendAsInt16(In_.data(), In_.size(), out);
    }
}

void TAudioFormatConverter::ToDevice(const std::vector<int16_t>& samples,
                                     std::vector<int16_t>& out) {
    out.clear();
    if (!Rate_ && Device_.channels == 1) {
        out = samples;
        return;
    }
    In_.resize(samples.size());
    for (size_t i = 0; i < samples.size(); ++i)
        In_[i] = samples[i] / 32768.0f;
    if (Rate_)
        Rate_->Push(In_, Out_);
    else
        Out_ = In_;
    std::vector<int16_t> mono;
    AppendAsInt16(Out_.data(), Out_.size(), mono);
    out.reserve(mono.size() * static_cast<size_t>(Device_.channels));
    for (int16_t sample : mono)
        out.insert(out.end(), static_cast<size_t>(Device_.channels), sample);
}

}  // namespace media
