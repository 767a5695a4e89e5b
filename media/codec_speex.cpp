#include "media/codec_speex.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "media/codecs.h"

namespace media {
namespace {

constexpr int kSampleRate = 8000;
constexpr int kQuality = 10;

}  // namespace

TCodecSpeex::TCodecSpeex(std::shared_ptr<const TSpeexLibrary> library)
    : library_(std::move(library)), api_(library_->Api()) {
    const SpeexMode* mode = api_.lib_get_mode(SPEEX_MODEID_NB);
    api_.bits_init(&encodeBits_);
    encoder_ = api_.encoder_init(mode);
    api_.bits_init(&decodeBits_);
    decoder_ = api_.decoder_init(mode);
    if (!encoder_ || !decoder_) {
        Release();
        throw std::runtime_error("Cannot create the Speex coder");
    }
    int rate = kSampleRate;
    int quality = kQuality;
    float vbrQuality = kQuality;
    api_.encoder_ctl(encoder_, SPEEX_SET_SAMPLING_RATE, &rate);
    api_.encoder_ctl(encoder_, SPEEX_SET_QUALITY, &quality);
    api_.encoder_ctl(encoder_, SPEEX_SET_VBR_QUALITY, &vbrQuality);
    api_.encoder_ctl(encoder_, SPEEX_GET_FRAME_SIZE, &encoderFrameSize_);
    int enhancer = 0;
    api_.decoder_ctl(decoder_, SPEEX_GET_FRAME_SIZE, &decoderFrameSize_);
    api_.decoder_ctl(decoder_, SPEEX_SET_ENH, &enhancer);
}

TCodecSpeex::~TCodecSpeex() { Release(); }

void TCodecSpeex::Release() {
    api_.bits_destroy(&encodeBits_);
    api_.bits_destroy(&decodeBits_);
    if (encoder_) api_.encoder_destroy(encoder_);
    if (decoder_) api_.decoder_destroy(decoder_);
    encoder_ = decoder_ = nullptr;
}

int TCodecSpeex::GetFrameSize() { return kFrameSamples; }
int TCodecSpeex::GetPayloadType() { return kPayloadType; }

int TCodecSpeex::Encode(const int16_t* pcm, uint8_t* payload) {
    for (int i = 0; i < kFrameSamples; ++i) encodeInput_[i] = pcm[i];
    api_.bits_reset(&encodeBits_);
    api_.encode(encoder_, encodeInput_.data(), &encodeBits_);
    const int bytes = std::min(api_.bits_nbytes(&encodeBits_), kMaxPayloadBytes);
    return api_.bits_write(&encodeBits_, reinterpret_cast<char*>(payload), bytes);
}

// Samples are rounded and clamped to 16 bits: keeping only the low 16 bits
// of an overshooting sample would flip its sign and click.
int TCodecSpeex::Decode(const uint8_t* payload, int16_t* pcm, int length) {
    api_.bits_read_from(&decodeBits_, reinterpret_cast<const char*>(payload), std::max(length, 0));
    api_.decode(decoder_, &decodeBits_, decodeOutput_.data());
    for (int i = 0; i < kFrameSamples; ++i) {
        const float clamped = std::clamp(decodeOutput_[i], -32768.0f, 32767.0f);
        pcm[i] = static_cast<int16_t>(std::lrint(clamped));
    }
    return kFrameBytes;
}

}  // namespace media
