// The capture stream under TMicrophone: what its thread opens, reads from and
// drops when the card fails. The sound-card stream is PortAudio's; tests put
// a device of their own in its place.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "media/audio_portaudio.h"

namespace media {

class IAudioInputStream {
public:
    virtual ~IAudioInputStream() = default;
    virtual TStreamFormat GetFormat() const = 0;
    // Frames one Read asks for: one 20 ms period at the device's rate.
    virtual int GetFramesPerBuffer() const = 0;
    // Reads `frames` frames of interleaved samples, waiting for them as a
    // card does; false when the device failed or went away.
    virtual bool Read(int16_t* samples, unsigned long frames) = 0;
};
using IAudioInputStreamPtr = std::unique_ptr<IAudioInputStream>;

// Opens the device anew each time it is called; nullptr when it cannot
// (absent, busy, unplugged), with the PortAudio error in `error`.
using TAudioInputOpener = std::function<IAudioInputStreamPtr(int& error)>;

// Device `device` through PortAudio (-1: the default input device), with at
// most `latencySeconds` of buffering.
TAudioInputOpener PortAudioInput(int device, double latencySeconds);

}  // namespace media
