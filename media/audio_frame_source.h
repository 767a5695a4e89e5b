// TFrameSourceSlot: the frame source a speaker's device thread asks for each
// period's frame, set and cleared from the call's threads. Clearing waits for
// a call in progress, so whoever set the source may go away right after.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "sip/sipints.h"

namespace media {

class TFrameSourceSlot {
public:
    void Set(ISipSpeaker::TFrameSource source);
    bool IsSet();
    // The source's next frame into `samples` (resized to what it gave);
    // false when no source is set or it had nothing to play.
    bool Pull(std::vector<int16_t>& samples, int capacity);

private:
    std::mutex Mutex_;  // held while the source runs
    ISipSpeaker::TFrameSource Source_;
};

}  // namespace media
