#include "media/codec_speex.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "media/codecs.h"

namespace media {
namespace {

constexpr int kSampleRate = 8000;
constexpr int kQuality = 10;
// Fewer bits than a frame's mode field are the padding of the last byte.
constexpr int kLeastFrameBits = 5;

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
// of an overshooting sample would flip its sign and click. The first frame
// is always written (a payload that does not decode still gives the
// decoder's own fill); a further one only when it decodes cleanly.
int TCodecSpeex::Decode(const uint8_t* payload, int16_t* pcm, int length) {
    api_.bits_read_from(&decodeBits_, reinterpret_cast<const char*>(payload), std::max(length, 0));
    int frames = 0;
    do {
        const int status = api_.decode(decoder_, &decodeBits_, decodeOutput_.data());
        if (frames > 0 && status != 0)
            break;  // the end of the stream, or a terminator
        int16_t* frame = pcm + frames * kFrameSamples;
        for (int i = 0; i < kFrameSamples; ++i) {
            const float clamped = std::clamp(decodeOutput_[i], -32768.0f, 32767.0f);
            frame[i] = static_cast<int16_t>(std::lrint(clamped));
        }
        ++frames;
    } while (frames < kMaxFrames && api_.bits_remaining(&decodeBits_) >= kLeastFrameBits);
    return frames * kFrameBytes;
}

}  // namespace media
