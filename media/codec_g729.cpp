#include "media/codec_g729.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "media/format_parameters.h"

namespace media {

TCodecG729::TCodecG729(std::shared_ptr<const TG729Library> library)
    : library_(std::move(library)), api_(library_->Api()) {
    decoder_ = api_.initDecoder();
    if (!decoder_) throw std::runtime_error("Cannot create the G.729 decoder");
    OpenEncoder(false);
}

TCodecG729::~TCodecG729() {
    if (encoder_) api_.closeEncoder(encoder_);
    api_.closeDecoder(decoder_);
}

void TCodecG729::OpenEncoder(bool vad) {
    auto* fresh = api_.initEncoder(vad ? 1 : 0);
    if (!fresh) throw std::runtime_error("Cannot create the G.729 encoder");
    if (encoder_) api_.closeEncoder(encoder_);
    encoder_ = fresh;
    encoderVad_ = vad;
}

void TCodecG729::SetFormatParameters(std::string_view farEnd) {
    wantVad_ = FormatFlag(farEnd, "annexb", true);
}

// Our answer mirrors the offer: Annex B unless it said no.
std::string TCodecG729::GetFormatParameters() { return wantVad_ ? "annexb=yes" : "annexb=no"; }

int TCodecG729::Encode(const int16_t* pcm, uint8_t* payload) {
    if (wantVad_ != encoderVad_) OpenEncoder(wantVad_);
    std::array<uint8_t, kSpeechBytes> halves[2]{};
    uint8_t lengths[2] = {0, 0};
    for (int half = 0; half < 2; ++half)
        api_.encode(encoder_, pcm + half * kSubframeSamples, halves[half].data(), &lengths[half]);
    // A packet is speech frames followed by at most one SID (RFC 3551), so
    // a SID before speech, or before another SID, is left out: the far end
    // keeps the noise it has until the next one.
    int written = 0;
    for (int half = 0; half < 2; ++half) {
        const bool sidBeforeMore = lengths[half] == kSidBytes && half == 0 && lengths[1] != 0;
        if (lengths[half] == 0 || sidBeforeMore) continue;
        std::copy_n(halves[half].data(), lengths[half], payload + written);
        written += lengths[half];
    }
    return written;
}

int TCodecG729::Decode(const uint8_t* payload, int16_t* pcm, int length) {
    length = std::max(length, 0);
    int speech = std::min(length / kSpeechBytes, kMaxSubframes);
    const bool sid = length % kSpeechBytes == kSidBytes && speech < kMaxSubframes;
    int samples = 0;
    for (int frame = 0; frame < speech; ++frame, samples += kSubframeSamples)
        api_.decode(decoder_, payload + frame * kSpeechBytes, kSpeechBytes, 0, 0, 0, pcm + samples);
    if (sid) {
        int16_t* noise = pcm + samples;
        api_.decode(decoder_, payload + speech * kSpeechBytes, kSidBytes, 0, 1, 0, noise);
        samples += kSubframeSamples;
        double energy = 0;
        for (int n = 0; n < kSubframeSamples; ++n) energy += static_cast<double>(noise[n]) * noise[n];
        const double rms = std::sqrt(energy / kSubframeSamples);
        lastSidLevel_ = rms < 1 ? 127 : std::clamp(static_cast<int>(std::lround(-20 * std::log10(rms / 32767.0))), 0, 127);
    }
    return samples * 2;
}

int TCodecG729::ComfortNoiseLevel(const uint8_t* /*payload*/, int length) {
    return length % kSpeechBytes == kSidBytes ? lastSidLevel_ : -1;
}

}  // namespace media
