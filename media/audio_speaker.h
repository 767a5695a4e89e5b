// TSpeaker: playback of a call's received frames on a sound card, behind the
// sixteen-buffer queue of TPlaybackQueue, or, with a frame source set,
// asking the source for each frame as the card makes room for it.
//
// A card that fails or goes away during the call (a USB headset pulled out)
// is dropped and opened again once every device period until it plays
// again; meanwhile one frame per period is taken and discarded, so the call
// goes on at its own pace, and the device listener hears of the loss and of
// the return.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "media/audio_format_converter.h"
#include "media/audio_frame_source.h"
#include "media/audio_output_stream.h"
#include "media/audio_playback_queue.h"
#include "sip/sipints.h"

namespace media {

class TSpeaker : public ISipSpeaker {
public:
    // A small device buffer: the sixteen-frame queue in front of it already
    // absorbs the network's unevenness.
    static constexpr double kDeviceLatency = 0.060;
    // One frame: the pace of a lost device's retries.
    static constexpr std::chrono::milliseconds kDevicePeriod{20};

    // `device` is a PortAudio device index, -1 for the default output device.
    // Returns once the playback thread has tried to open the device. A device
    // that cannot be opened at all never gives a buffer back: after sixteen
    // frames CanPlay stays false and received audio stays in the jitter
    // buffer.
    explicit TSpeaker(int device);
    // The device `open` opens; retries of a lost one `period` apart.
    explicit TSpeaker(TAudioOutputOpener open, std::chrono::milliseconds period = kDevicePeriod);
    ~TSpeaker() override;
    TSpeaker(const TSpeaker&) = delete;
    TSpeaker& operator=(const TSpeaker&) = delete;

    void Play(const void* pcm, int length) override { Queue_.Play(pcm, length); }
    bool CanPlay() override { return Queue_.CanPlay(); }
    // Only an opened device has a clock to ask by.
    bool SetFrameSource(TFrameSource source) override;
    void SetDeviceListener(TDeviceListener listener) override;
    bool IsOpened();

private:
    void Run();
    void PlayOn();
    void ReportOpened(bool opened);
    void ReportPresent(bool present);
    // Opens the device and readies the converter for its format.
    bool OpenDevice();
    // While the device is away: one frame is taken and dropped, then one
    // period passes (less when the speaker is being destroyed).
    void SkipPeriod(std::vector<int16_t>& frame);
    // The next frame to write; false when there is none to wait for.
    bool NextFrame(std::vector<int16_t>& frame, bool& queued);

    const TAudioOutputOpener Open_;
    const std::chrono::milliseconds Period_;
    TPlaybackQueue Queue_;
    TFrameSourceSlot Source_;
    std::atomic<bool> Stopping_{false};
    std::mutex Mutex_;
    std::condition_variable Changed_;
    bool HasReported_ = false;  // guarded by Mutex_
    bool Opened_ = false;       // guarded by Mutex_
    TDeviceListener Listener_;  // guarded by Mutex_
    // Speaker thread only.
    IAudioOutputStreamPtr Stream_;
    std::optional<TAudioFormatConverter> Converter_;
    std::thread Thread_;        // last: starts once the fields above exist
};

}  // namespace media
