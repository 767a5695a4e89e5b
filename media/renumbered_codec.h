// A codec of ours carried under the number the far end gave it: a peer that
// offers Opus as 96 hears and sends 96, while the agent still knows the
// codec as its own 111 (for the answer's rtpmap, the figures, re-offers).
// Sent under one number, it may be received under several: a peer that
// answered our 111 with 96 sends under 111, as answerers must, or, if
// broken, under 96.
#pragma once

#include <vector>

#include "sip/sipints.h"

namespace media {

class TRenumberedCodec final : public IAudioCodec {
public:
    TRenumberedCodec(IAudioCodecPtr codec, int payloadType);
    // Sent under `payloadType`, received under each of `received`.
    TRenumberedCodec(IAudioCodecPtr codec, int payloadType, std::vector<int> received);

    int GetPayloadType() override { return payloadType_; }
    bool Receives(int payloadType) override;
    int GetOwnPayloadType() override { return codec_->GetOwnPayloadType(); }
    const IAudioCodecPtr& Inner() const { return codec_; }

    int GetFrameSize() override { return codec_->GetFrameSize(); }
    int Decode(const uint8_t* payload, int16_t* pcm, int length) override {
        return codec_->Decode(payload, pcm, length);
    }
    int Encode(const int16_t* pcm, uint8_t* payload) override { return codec_->Encode(pcm, payload); }
    int GetClockRate() override { return codec_->GetClockRate(); }
    void SetFormatParameters(std::string_view farEnd) override { codec_->SetFormatParameters(farEnd); }
    std::string GetFormatParameters() override { return codec_->GetFormatParameters(); }
    int DecodeLost(const uint8_t* next, int length, int16_t* pcm) override {
        return codec_->DecodeLost(next, length, pcm);
    }
    void SetFarEndLoss(int percent) override { codec_->SetFarEndLoss(percent); }
    int ComfortNoiseLevel(const uint8_t* payload, int length) override {
        return codec_->ComfortNoiseLevel(payload, length);
    }

private:
    const IAudioCodecPtr codec_;
    const int payloadType_;
    const std::vector<int> received_;
};

}  // namespace media
