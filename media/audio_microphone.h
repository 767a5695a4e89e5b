// TMicrophone: capture from a sound card through PortAudio, delivered to the
// attached call in frames of 160 samples at 8000 Hz mono, one every 20 ms.
//
// A card that fails or goes away during the call (a USB headset pulled out)
// is not read in a loop: the thread waits one period between attempts to
// open it again, the call goes on sending nothing, and the device listener
// hears "lost" once and "back" once it captures again.
#pragma once

#include <chrono>

#include "media/audio_capture.h"
#include "media/audio_clock.h"
#include "media/audio_input_stream.h"

namespace media {

class TMicrophone : public TCaptureDevice {
public:
    // At most four frames (80 ms) are asked to be buffered at the device.
    static constexpr double kDeviceLatency = 0.080;

    // `device` is a PortAudio device index, -1 for the default input device.
    // The capture thread opens the device at a rate and channel count it
    // accepts; returns once the open has succeeded or failed. A failed open
    // ends the capture thread (the call then sends nothing); its text, from
    // RaiseCaptureOpenError, is kept in GetOpenError.
    explicit TMicrophone(int device);
    // The device `open` opens; a lost one is tried again `period` apart.
    explicit TMicrophone(TAudioInputOpener open, std::chrono::microseconds period = kFramePeriod);
};

}  // namespace media
