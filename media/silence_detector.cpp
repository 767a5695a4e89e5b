#include "media/silence_detector.h"

#include <cmath>

namespace media {

double TSilenceDetector::Rms(const int16_t* pcm, int count) {
    double sum = 0;
    for (int n = 0; n < count; ++n)
        sum += static_cast<double>(pcm[n]) * pcm[n];
    return count > 0 ? std::sqrt(sum / count) : 0;
}

bool TSilenceDetector::OnFrame(ISipCall& call, double rms, uint32_t now) {
    if (!IsSilent(rms, call.GetSilenceThreshold())) {
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
