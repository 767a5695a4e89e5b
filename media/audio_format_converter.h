// Conversion between a sound card's stream format (any rate, any channel
// count, 16-bit interleaved) and the calls' 8000 Hz mono frames.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "media/audio_portaudio.h"

struct SRC_STATE_tag;

namespace media {

// One direction of streaming rate conversion through libsamplerate; the
// converter keeps its delay line between pieces, so a stream cut into
// pieces converts as one.
class TRateConverter {
public:
    // Throws std::runtime_error for a ratio libsamplerate cannot do.
    TRateConverter(double fromRate, double toRate);
    void Push(const std::vector<float>& in, std::vector<float>& out);

private:
    struct TDelete {
        void operator()(SRC_STATE_tag* state) const;
    };
    std::unique_ptr<SRC_STATE_tag, TDelete> State_;
    double Ratio_;
};

// One converter serves one direction: capture (FromDevice) or playback
// (ToDevice), chosen at construction.
class TAudioFormatConverter {
public:
    TAudioFormatConverter(TStreamFormat device, bool capture);

    // Device samples (frames x channels, interleaved) in; the channels are
    // averaged and the result at 8000 Hz appended to `out`.
    void FromDevice(const int16_t* samples, int frames, std::vector<int16_t>& out);
    // 8000 Hz mono in; the same signal at the device's rate in every channel
    // replaces `out`.
    void ToDevice(const std::vector<int16_t>& samples, std::vector<int16_t>& out);

private:
    TStreamFormat Device_;
    std::unique_ptr<TRateConverter> Rate_;  // none at 8000 Hz
    std::vector<float> In_, Out_;
};

}  // namespace media
