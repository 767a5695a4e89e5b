#include "media/silence_detector.h"

namespace media {

bool TSilenceDetector::OnFrame(ISipCall& call, double largestEnergy, uint32_t now) {
    if (!IsSilent(largestEnergy, call.GetSilenceThreshold())) {
        call.SetLastSoundTime(now);
        return false;
    }
    // Unsigned difference of ticks: right across the 2^32 wrap.
    const uint32_t elapsed = now - call.GetLastSoundTime();
    const int timeout = call.GetSilenceTimeout();
    if (elapsed < static_cast<uint32_t>(timeout < 0 ? 0 : timeout))
        return false;
    const bool report = call.GetState() == csConnected;
    if (report)
        call.ReportSilence();
    call.SetLastSoundTime(now);
    return report;
}

}  // namespace media
