#include "media/codec_gsm.h"

#include <algorithm>
#include <cstring>

#include "media/codecs.h"
#include "media/gsm_bits.h"

namespace media {

TCodecGSM::TCodecGSM()
    : encoder_(TGsmCoder::TPacking::Wav49), decoder_(TGsmCoder::TPacking::Rtp) {}

int TCodecGSM::GetFrameSize() { return kFrameSamples; }
int TCodecGSM::GetPayloadType() { return kPayloadType; }

int TCodecGSM::Encode(const int16_t* pcm, uint8_t* payload) {
    if (!encodeSecondHalf_) {
        std::copy_n(pcm, kFrameSamples, encodeInput_.begin());
        std::memcpy(payload, encodeFrames_.data() + kGsmRtpFrameBytes, kGsmRtpFrameBytes);
    } else {
        std::copy_n(pcm, kFrameSamples, encodeInput_.begin() + kFrameSamples);
        encoder_.EncodeBlock(encodeInput_.data(), encodeBlock_.data());
        GsmBlockToRtpFrames(encodeBlock_.data(), encodeFrames_.data());
        std::memcpy(payload, encodeFrames_.data(), kGsmRtpFrameBytes);
    }
    encodeSecondHalf_ = !encodeSecondHalf_;
    return kGsmRtpFrameBytes;
}

int TCodecGSM::Decode(const uint8_t* payload, int16_t* pcm, int length) {
    const int taken = std::clamp(length, 0, kGsmRtpFrameBytes);
    if (taken > 0) std::memcpy(decodeFrame_.data(), payload, static_cast<size_t>(taken));
    std::memset(decodeFrame_.data() + taken, 0, static_cast<size_t>(kGsmRtpFrameBytes - taken));
    if (!decoder_.DecodeFrame(decodeFrame_.data(), pcm))
        std::fill_n(pcm, kFrameSamples, int16_t{0});  // not a GSM frame: heard as silence
    return kFrameBytes;
}

}  // namespace media
