// Timing shared by the audio threads: the absolute-deadline frame pacer of the
// project's own devices and the attempt at real-time thread priority.
#pragma once

#include <chrono>
#include <cstdint>

namespace media {

using TAudioClock = std::chrono::steady_clock;

// Duration of `samples` samples at 8000 samples/s (125 microseconds each).
constexpr std::chrono::microseconds SamplesDuration(int64_t samples) {
    return std::chrono::microseconds(samples * 125);
}

inline constexpr std::chrono::microseconds kFramePeriod = SamplesDuration(160);

// Deadlines on a fixed grid anchored at the start time: deadline n is
// start + n periods, never "previous wake-up + period", so late wake-ups do
// not accumulate into drift over a long call. Time is passed in rather than
// read, so a test can drive hours of frames without sleeping.
class TFramePacer {
public:
    // A device that falls further behind than this many periods (its four
    // queued buffers) has overrun: the missed periods are skipped, on the
    // grid, instead of being delivered in one burst.
    static constexpr int kMaxLatePeriods = 4;

    // The first deadline is one period after `start`: a frame exists only
    // once its 20 ms have passed.
    explicit TFramePacer(TAudioClock::time_point start,
                         TAudioClock::duration period = kFramePeriod)
        : Deadline_(start + period), Period_(period) {}

    TAudioClock::time_point GetDeadline() const { return Deadline_; }
    int64_t GetSkipped() const { return Skipped_; }

    // The frame due at GetDeadline() has been handled at `now`; the next one
    // is due `period` later (default: the pacer's period).
    void Advance(TAudioClock::time_point now);
    void Advance(TAudioClock::time_point now, TAudioClock::duration period);

private:
    TAudioClock::time_point Deadline_;
    TAudioClock::duration Period_;
    int64_t Skipped_ = 0;
};

// The real-time level the audio threads ask for: above every normal thread,
// well below the kernel's own and anything an administrator raised.
inline constexpr int kAudioThreadPriority = 10;

// The level to ask for under the soft RLIMIT_RTPRIO `limit`: kAudioThreadPriority,
// or the limit when it is lower but not 0 (an unprivileged thread may take up
// to the limit). With a limit of 0 the level is asked for all the same and
// only a privileged process gets it.
int AudioThreadPriority(unsigned long limit);

// Asks for that level of real-time scheduling for the calling thread; where
// the system does not allow it the thread keeps its normal priority.
void TryRaiseThreadPriority();

}  // namespace media
