#include "media/audio_clock.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <algorithm>

namespace media {

void TFramePacer::Advance(TAudioClock::time_point now) { Advance(now, Period_); }

void TFramePacer::Advance(TAudioClock::time_point now, TAudioClock::duration period) {
    Deadline_ += period;
    if (now - Deadline_ > kMaxLatePeriods * period) {
        const int64_t late = (now - Deadline_) / period;
        Deadline_ += late * period;
        Skipped_ += late;
    }
}

int AudioThreadPriority(unsigned long limit) {
    if (limit == 0) return kAudioThreadPriority;
    return static_cast<int>(std::min<unsigned long>(limit, kAudioThreadPriority));
}

void TryRaiseThreadPriority() {
    rlimit limit{};
    const unsigned long soft =
        getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY ? limit.rlim_cur : 0;
    sched_param param{};
    param.sched_priority = std::max(AudioThreadPriority(soft), sched_get_priority_min(SCHED_FIFO));
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);  // failure: normal priority
}

}  // namespace media
