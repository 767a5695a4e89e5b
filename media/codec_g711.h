// The two G.711 codecs: one payload byte per sample, no state between frames.
#pragma once

#include "sip/sipints.h"

namespace media {

class TCodecPCMU : public IAudioCodec {
public:
    static constexpr int kPayloadType = 0;
    int GetFrameSize() override;
    int GetPayloadType() override;
    int Decode(const uint8_t* payload, int16_t* pcm, int length) override;
    int Encode(const int16_t* pcm, uint8_t* payload) override;
};

class TCodecPCMA : public IAudioCodec {
public:
    static constexpr int kPayloadType = 8;
    int GetFrameSize() override;
    int GetPayloadType() override;
    int Decode(const uint8_t* payload, int16_t* pcm, int length) override;
    int Encode(const int16_t* pcm, uint8_t* payload) override;
};

}  // namespace media
