#include "media/rtp_clock.h"

namespace media {

uint32_t TRtpClockScaler::ToPathClock(uint32_t timestamp, int clockRate) {
    if (clockRate == kPathClockRate || clockRate <= 0) return timestamp;
    if (Started_) Extended_ += static_cast<int32_t>(timestamp - Last_);
    else Extended_ = timestamp;
    Started_ = true;
    Last_ = timestamp;
    const int64_t scaled = Extended_ * kPathClockRate;
    // Floor division: a reordered packet before the first one stays before.
    const int64_t path = scaled >= 0 ? scaled / clockRate : -((-scaled + clockRate - 1) / clockRate);
    return static_cast<uint32_t>(path);
}

bool TLostPredecessor::PreviousMissing(uint16_t sequenceNumber) {
    if (!Started_) {
        Started_ = true;
        Highest_ = sequenceNumber;
        return false;
    }
    const auto step = static_cast<int16_t>(static_cast<uint16_t>(sequenceNumber - Highest_));
    if (step <= 0) return false;  // late or repeated: its place is known
    Highest_ = sequenceNumber;
    return step >= 2;
}

}  // namespace media
