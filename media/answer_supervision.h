// Listens to the far end for the first seconds after a call is answered and
// flags what a prepaid booth must not charge as talk time:
// - "possible false answer": the route answered but still plays a ringback
//   tone, or plays a recorded announcement and then falls silent;
// - "no audio from the destination": no RTP at all, or only silence.
// Each flag is raised at most once per call; the call itself is left alone.
//
// Plain and single-threaded: whoever owns it feeds the received 20 ms frames
// (or their level and tone verdict) and the time since the answer, and calls
// Tick from a clock as well, so a far end that sends nothing is noticed.
// Times are milliseconds since the answer and never go backwards.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace media {

// 20 ms at 8000 Hz, the frame every received packet is decoded into.
inline constexpr int kAnswerFrameSamples = 160;

struct TAnswerSupervisionSettings {
    int WatchMs = 10000;         // how long after the answer the far end is judged
    double SilenceDbfs = -45.0;  // frames quieter than this are silence
    int NoAudioMs = 5000;        // nothing but silence (or no RTP) this long: dead line
    int ToneMs = 1500;           // ringback tone heard this long in all: false answer
    int AnnouncementMs = 2000;   // sound this long ...
    int SilenceAfterMs = 3000;   // ... and then silence this long: false answer
};

enum class TAnswerFlag { PossibleFalseAnswer, NoAudioFromDestination };
enum class TFalseAnswerCause { None, Ringback, Announcement };

class TAnswerSupervision {
public:
    // A tone must hold this long without a break before it counts, so a
    // beep or a sung vowel is never taken for ringback.
    static constexpr int kMinToneBurstMs = 300;
    static constexpr int kFrameMs = 20;

    explicit TAnswerSupervision(TAnswerSupervisionSettings settings = {});

    // One decoded frame (160 samples at 8000 Hz) received `atMs` after the
    // answer. Returns the flag it raised, if any.
    std::optional<TAnswerFlag> Frame(std::span<const int16_t> pcm, std::int64_t atMs);
    // The same from a frame measured elsewhere.
    std::optional<TAnswerFlag> Level(double dbfs, bool ringbackTone, std::int64_t atMs);
    // Time passing, with or without frames.
    std::optional<TAnswerFlag> Tick(std::int64_t atMs);

    bool Listening(std::int64_t atMs) const { return atMs <= Settings_.WatchMs; }
    bool Flagged(TAnswerFlag flag) const;
    TFalseAnswerCause Cause() const { return Cause_; }
    const TAnswerSupervisionSettings& Settings() const { return Settings_; }

private:
    std::optional<TAnswerFlag> Raise(TAnswerFlag flag, TFalseAnswerCause cause);

    TAnswerSupervisionSettings Settings_;
    bool HeardSound_ = false;
    std::int64_t LastSoundMs_ = 0;
    std::int64_t SoundMs_ = 0;      // non-tone sound heard in all
    std::int64_t ToneMs_ = 0;       // tone in bursts of kMinToneBurstMs or more
    std::int64_t ToneRunMs_ = 0;    // the tone burst going on now
    bool FalseAnswer_ = false;
    bool NoAudio_ = false;
    TFalseAnswerCause Cause_ = TFalseAnswerCause::None;
};

// RMS level of a frame relative to a full-scale square wave, in dB; a frame
// of zeros reads as -120.
double FrameDbfs(std::span<const int16_t> pcm);

// Whether a frame is a call-progress tone of the kinds ringback uses around
// the world: one of 400, 425, 440 or 450 Hz, or the pairs 350+440, 400+450
// and 440+480 Hz, holding most of the frame's energy.
bool IsRingbackToneFrame(std::span<const int16_t> pcm);

}  // namespace media
