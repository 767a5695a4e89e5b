#include "media/codec_g711.h"

#include "media/codecs.h"
#include "media/g711.h"

namespace media {

int TCodecPCMU::GetFrameSize() { return kFrameSamples; }
int TCodecPCMU::GetPayloadType() { return kPayloadType; }

int TCodecPCMU::Decode(const uint8_t* payload, int16_t* pcm, int length) {
    if (length <= 0) return 0;
    DecodeUlaw(payload, pcm, length);
    return length * 2;
}

int TCodecPCMU::Encode(const int16_t* pcm, uint8_t* payload) {
    EncodeUlaw(pcm, payload, kFrameSamples);
    return kFrameSamples;
}

int TCodecPCMA::GetFrameSize() { return kFrameSamples; }
int TCodecPCMA::GetPayloadType() { return kPayloadType; }

int TCodecPCMA::Decode(const uint8_t* payload, int16_t* pcm, int length) {
    if (length <= 0) return 0;
    DecodeAlaw(payload, pcm, length);
    return length * 2;
}

int TCodecPCMA::Encode(const int16_t* pcm, uint8_t* payload) {
    EncodeAlaw(pcm, payload, kFrameSamples);
    return kFrameSamples;
}

}  // namespace media
