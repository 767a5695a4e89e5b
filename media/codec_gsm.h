// GSM 06.10 codec. The encoder codes two frames at a time into a 65-byte WAV
// block whose bits are moved into two 33-byte RTP frames, so each Encode
// returns the frame produced one call earlier. The decoder takes each 33-byte
// frame on its own: a lost or reordered packet must reach it as it happened,
// never shift the audio of its neighbour.
#pragma once

#include <array>

#include "media/gsm_coder.h"
#include "sip/sipints.h"

namespace media {

class TCodecGSM : public IAudioCodec {
public:
    static constexpr int kPayloadType = 3;

    TCodecGSM();
    int GetFrameSize() override;
    int GetPayloadType() override;
    // Always writes 320 bytes; a payload shorter than 33 bytes is padded with
    // zeros, longer ones are cut.
    int Decode(const uint8_t* payload, int16_t* pcm, int length) override;
    // Always writes 33 bytes; the first call gives 33 zero bytes.
    int Encode(const int16_t* pcm, uint8_t* payload) override;

private:
    // Encoder side, touched only by the capture thread.
    TGsmCoder encoder_;
    std::array<int16_t, kGsmBlockSamples> encodeInput_{};
    std::array<uint8_t, kGsmBlockBytes> encodeBlock_{};
    std::array<uint8_t, 2 * kGsmRtpFrameBytes> encodeFrames_{};
    bool encodeSecondHalf_ = false;

    // Decoder side, touched only by the receive thread.
    TGsmCoder decoder_;
    std::array<uint8_t, kGsmRtpFrameBytes> decodeFrame_{};
};

}  // namespace media
