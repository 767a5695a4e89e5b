// Owning wrapper of a libgsm state, in either of its two packings: the
// 65-byte two-frame blocks of GSM WAV files, or the 33-byte RTP frames.
#pragma once

#include <cstdint>
#include <memory>

struct gsm_state;

namespace media {

inline constexpr int kGsmFrameSamples = 160;
inline constexpr int kGsmRtpFrameBytes = 33;
inline constexpr int kGsmBlockBytes = 65;
inline constexpr int kGsmBlockSamples = 320;

class TGsmCoder {
public:
    enum class TPacking { Wav49, Rtp };
    explicit TGsmCoder(TPacking packing);

    // WAV49: 320 samples into one 65-byte block.
    void EncodeBlock(const int16_t* pcm, uint8_t* block);
    // WAV49: one 65-byte block into 320 samples; false when libgsm rejects it.
    bool DecodeBlock(const uint8_t* block, int16_t* pcm);
    // Plain RTP packing: 160 samples into 33 bytes and back.
    void EncodeFrame(const int16_t* pcm, uint8_t* frame);
    bool DecodeFrame(const uint8_t* frame, int16_t* pcm);

private:
    struct TDestroy {
        void operator()(gsm_state* state) const;
    };
    std::unique_ptr<gsm_state, TDestroy> state_;
};

}  // namespace media
