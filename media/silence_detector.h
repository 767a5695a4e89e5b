// The silence rule of the receive path: a received frame is silent
// when the threshold is greater than the largest of the detector's 18 bin
// energies; after SilenceTimeout ms of silent frames a connected call reports
// silence, and again every timeout while it lasts. Judged only on received
// packets: without RTP nothing is reported.
#pragma once

#include <cstdint>

#include "sip/sipints.h"

namespace media {

struct TSilenceDetector {
    static bool IsSilent(double largestEnergy, int threshold) { return threshold > largestEnergy; }
    // One received frame at tick `now`: updates the call's LastSoundTime and
    // reports silence through the call when due. True when it reported.
    static bool OnFrame(ISipCall& call, double largestEnergy, uint32_t now);
};

}  // namespace media
