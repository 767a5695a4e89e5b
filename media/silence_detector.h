// The silence rule of the receive path. The call's SilenceThreshold is a
// level on the 16-bit sample scale: a received frame is silent when the root
// mean square of its samples is below it. The component's 500 is -36 dBFS
// (RMS re full scale): keypad tones, ringback and speech stay above, a quiet
// line (hiss, comfort noise, the quiet frame) below. After SilenceTimeout ms
// of silent frames a connected call reports silence, and again every timeout
// while it lasts. Judged only on received packets: without RTP nothing is
// reported.
#pragma once

#include <cstdint>

#include "sip/sipints.h"

namespace media {

struct TSilenceDetector {
    // Root mean square of the samples (0..32768).
    static double Rms(const int16_t* pcm, int count);
    static bool IsSilent(double rms, int threshold) { return rms < threshold; }
    // One received frame with its RMS at tick `now`: updates the call's
    // LastSoundTime and reports silence through the call when due. True when
    // it reported.
    static bool OnFrame(ISipCall& call, double rms, uint32_t now);
};

}  // namespace media
