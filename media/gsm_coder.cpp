#include "media/gsm_coder.h"

#include <gsm.h>

#include <stdexcept>

namespace media {

void TGsmCoder::TDestroy::operator()(gsm_state* state) const { gsm_destroy(state); }

TGsmCoder::TGsmCoder(TPacking packing) : state_(gsm_create()) {
    if (!state_) throw std::runtime_error("Cannot create a GSM 06.10 coder");
    if (packing == TPacking::Wav49) {
        int on = 1;
        gsm_option(state_.get(), GSM_OPT_WAV49, &on);
    }
}

// libgsm's WAV49 mode alternates by itself: the first call writes 33 bytes
// with the first frame's bits (its last byte only half filled), the second
// call starts at byte 32 and completes it.
void TGsmCoder::EncodeBlock(const int16_t* pcm, uint8_t* block) {
    auto* samples = const_cast<gsm_signal*>(pcm);
    gsm_encode(state_.get(), samples, block);
    gsm_encode(state_.get(), samples + kGsmFrameSamples, block + 32);
}

bool TGsmCoder::DecodeBlock(const uint8_t* block, int16_t* pcm) {
    auto* bytes = const_cast<gsm_byte*>(block);
    const bool first = gsm_decode(state_.get(), bytes, pcm) == 0;
    const bool second = gsm_decode(state_.get(), bytes + 33, pcm + kGsmFrameSamples) == 0;
    return first && second;
}

void TGsmCoder::EncodeFrame(const int16_t* pcm, uint8_t* frame) {
    gsm_encode(state_.get(), const_cast<gsm_signal*>(pcm), frame);
}

bool TGsmCoder::DecodeFrame(const uint8_t* frame, int16_t* pcm) {
    return gsm_decode(state_.get(), const_cast<gsm_byte*>(frame), pcm) == 0;
}

}  // namespace media
