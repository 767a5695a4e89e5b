#include "media/audio_clock.h"

#include <pthread.h>
#include <sched.h>

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

void TryRaiseThreadPriority() {
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 10;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);  // failure: normal priority
}

}  // namespace media
