// Speex narrow-band codec through the run-time loaded library: quality 10,
// VBR quality 10 with VBR itself off, perceptual enhancer off.
#pragma once

#include <array>
#include <memory>

#include "media/speex_library.h"
#include "sip/sipints.h"

namespace media {

class TCodecSpeex : public IAudioCodec {
public:
    static constexpr int kPayloadType = 110;
    // Encode never writes more than this; quality 10 gives 62 bytes a frame.
    static constexpr int kMaxPayloadBytes = 160;
    // A packet longer than 20 ms carries its frames one after the other in
    // one bit stream; up to three (60 ms) are decoded, 320 bytes each.
    static constexpr int kMaxFrames = 3;

    explicit TCodecSpeex(std::shared_ptr<const TSpeexLibrary> library);
    ~TCodecSpeex() override;
    TCodecSpeex(const TCodecSpeex&) = delete;
    TCodecSpeex& operator=(const TCodecSpeex&) = delete;

    int GetFrameSize() override;
    int GetPayloadType() override;
    int Decode(const uint8_t* payload, int16_t* pcm, int length) override;
    int Encode(const int16_t* pcm, uint8_t* payload) override;

    // Frame sizes the library reports; the codec always works on 160 samples.
    int EncoderFrameSize() const { return encoderFrameSize_; }
    int DecoderFrameSize() const { return decoderFrameSize_; }

private:
    void Release();

    std::shared_ptr<const TSpeexLibrary> library_;
    const TSpeexApi& api_;
    // Encoder side (capture thread).
    SpeexBits encodeBits_{};
    void* encoder_ = nullptr;
    std::array<float, 160> encodeInput_{};
    int encoderFrameSize_ = 0;
    // Decoder side (receive thread).
    SpeexBits decodeBits_{};
    void* decoder_ = nullptr;
    std::array<float, 160> decodeOutput_{};
    int decoderFrameSize_ = 0;
};

}  // namespace media
