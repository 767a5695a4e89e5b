// TSpeaker: playback of a call's received frames on a sound card through
// PortAudio, behind the sixteen-buffer queue of TPlaybackQueue, or, with a
// frame source set, asking the source for each frame as the card makes room
// for it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "media/audio_frame_source.h"
#include "media/audio_playback_queue.h"
#include "sip/sipints.h"

namespace media {

class TSpeaker : public ISipSpeaker {
public:
    // A small device buffer: the sixteen-frame queue in front of it already
    // absorbs the network's unevenness.
    static constexpr double kDeviceLatency = 0.060;

    // `device` is a PortAudio device index, -1 for the default output device.
    // Returns once the playback thread has tried to open the device. A device
    // that cannot be opened never gives a buffer back: after sixteen frames
    // CanPlay stays false and received audio stays in the jitter buffer.
    explicit TSpeaker(int device);
    ~TSpeaker() override;
    TSpeaker(const TSpeaker&) = delete;
    TSpeaker& operator=(const TSpeaker&) = delete;

    void Play(const void* pcm, int length) override { Queue_.Play(pcm, length); }
    bool CanPlay() override { return Queue_.CanPlay(); }
    // Only an opened device has a clock to ask by.
    bool SetFrameSource(TFrameSource source) override;
    bool IsOpened();

private:
    void Run(int device);
    void PlayOn(int device);
    void ReportOpened(bool opened);
    // The next frame to write; false when there is none to wait for.
    bool NextFrame(std::vector<int16_t>& frame, bool& queued);

    TPlaybackQueue Queue_;
    TFrameSourceSlot Source_;
    std::atomic<bool> Stopping_{false};
    std::mutex Mutex_;
    std::condition_variable Reported_;
    bool HasReported_ = false;  // guarded by Mutex_
    bool Opened_ = false;       // guarded by Mutex_
    std::thread Thread_;        // last: starts once the fields above exist
};

}  // namespace media
