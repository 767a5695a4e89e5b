// The playback stream under TSpeaker: what its thread opens, writes to and
// drops when the card fails. The sound-card stream is PortAudio's; tests put
// a device of their own in its place.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "media/audio_portaudio.h"

namespace media {

class IAudioOutputStream {
public:
    virtual ~IAudioOutputStream() = default;
    virtual TStreamFormat GetFormat() const = 0;
    // Writes `frames` frames of interleaved samples, waiting for room as a
    // card does; false when the device failed or went away.
    virtual bool Write(const int16_t* samples, unsigned long frames) = 0;
};
using IAudioOutputStreamPtr = std::unique_ptr<IAudioOutputStream>;

// Opens the device anew each time it is called; nullptr when it cannot
// (absent, busy, unplugged).
using TAudioOutputOpener = std::function<IAudioOutputStreamPtr()>;

// Device `device` through PortAudio (-1: the default output device), with at
// most `latencySeconds` of buffering.
TAudioOutputOpener PortAudioOutput(int device, double latencySeconds);

}  // namespace media
