// G.729 Annex A through bcg729, payload type 18 (RFC 3551): 10 ms frames of
// 10 bytes, two to each 20 ms frame the agent sends. With Annex B (the far
// end's "annexb" is yes or absent, RFC 4856) the encoder's voice activity
// detection sends a 2-byte silence descriptor (SID) in place of silence and
// nothing while the noise stays the same; a received SID is decoded as
// comfort noise.
//
// Decode takes any number of 10-byte frames followed by at most one SID, up
// to 60 ms (6 frames, 960 bytes of PCM: the receive path's buffers hold
// 1026); frames past that are dropped.
#pragma once

#include <array>
#include <atomic>
#include <memory>

#include "media/g729_library.h"
#include "sip/sipints.h"

namespace media {

class TCodecG729 : public IAudioCodec {
public:
    static constexpr int kPayloadType = 18;
    static constexpr int kSubframeSamples = 80;
    static constexpr int kSpeechBytes = 10;
    static constexpr int kSidBytes = 2;
    static constexpr int kMaxSubframes = 6;

    explicit TCodecG729(std::shared_ptr<const TG729Library> library);
    ~TCodecG729() override;
    TCodecG729(const TCodecG729&) = delete;
    TCodecG729& operator=(const TCodecG729&) = delete;

    int GetFrameSize() override { return 160; }
    int GetPayloadType() override { return kPayloadType; }
    int Decode(const uint8_t* payload, int16_t* pcm, int length) override;
    // 0 to 20 bytes: nothing while the line is silent (with Annex B).
    int Encode(const int16_t* pcm, uint8_t* payload) override;
    void SetFormatParameters(std::string_view farEnd) override;
    std::string GetFormatParameters() override;
    int ComfortNoiseLevel(const uint8_t* payload, int length) override;

    bool VoiceActivityDetection() const { return wantVad_.load(); }

private:
    void OpenEncoder(bool vad);

    std::shared_ptr<const TG729Library> library_;
    const TG729Api& api_;
    // Encoder side (capture thread); wantVad_ is set before the media starts.
    bcg729EncoderChannelContextStruct* encoder_ = nullptr;
    bool encoderVad_ = false;
    std::atomic<bool> wantVad_{false};
    // Decoder side (receive thread).
    bcg729DecoderChannelContextStruct* decoder_ = nullptr;
    int lastSidLevel_ = -1;
};

}  // namespace media
