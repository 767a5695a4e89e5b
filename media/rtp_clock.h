// The receive path counts RTP time in 8 kHz samples; a codec whose RTP clock
// runs faster (Opus: 48 kHz) has its timestamps brought down to that scale
// here. The scaled time follows the extended timestamp, so it stays
// continuous across the 2^32 wrap of either clock.
#pragma once

#include <cstdint>

namespace media {

class TRtpClockScaler {
public:
    static constexpr int kPathClockRate = 8000;

    // `timestamp` of a stream clocked at `clockRate`, in 8 kHz units.
    uint32_t ToPathClock(uint32_t timestamp, int clockRate);

private:
    bool Started_ = false;
    uint32_t Last_ = 0;
    int64_t Extended_ = 0;
};

// Remembers the highest sequence number of a stream's audio to tell when
// the packet just before a new one never came (its FEC may rebuild it).
class TLostPredecessor {
public:
    bool PreviousMissing(uint16_t sequenceNumber);

private:
    bool Started_ = false;
    uint16_t Highest_ = 0;
};

}  // namespace media
