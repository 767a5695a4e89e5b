// TSpeakerMix: short sounds of the booth's own (the credit warning) added on
// top of what a call's speaker plays. The received voice keeps playing
// underneath and nothing of it reaches the sent stream: the person at the
// speaker hears it, the far end does not.
//
// A sound asked for while another plays waits for it, so two warnings close
// together are both heard whole; at most kMaxWaiting wait, later ones are
// refused. Sounds are read into memory when added, so the device thread that
// mixes them never touches a file.
//
// Threading: Add and Clear from any thread, MixInto from the thread that
// renders the speaker's frames; one lock, held only while copying.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "sip/sipints.h"

namespace media {

class TSpeakerMix {
public:
    static constexpr int kMaxWaiting = 4;
    // Longer sounds are cut: this is for short notices, not for music.
    static constexpr int kMaxSamples = 8000 * 10;

    // Reads `wav` (8000 Hz mono 16-bit, from its current position) and queues
    // it after the sounds already there; false when kMaxWaiting wait or it
    // holds no sample.
    bool Add(const IWavFilePtr& wav);
    // Adds the next `count` samples of the sounds into `pcm`, held within
    // the 16-bit range; false when there is nothing to add.
    bool MixInto(int16_t* pcm, int count);
    bool IsPlaying();
    // Drops every sound, the one playing included.
    void Clear();

private:
    std::mutex Mutex_;
    std::deque<std::vector<int16_t>> Sounds_;  // guarded by Mutex_
    std::size_t Position_ = 0;                 // in the front sound; guarded by Mutex_
};

}  // namespace media
