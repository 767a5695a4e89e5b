// The project's own audio devices, which need no sound card: a whole call
// with media runs on them in tests, in CI and on a booth without a card.
//
// TFileMicrophone plays a WAV file into the call, or silence without one.
// Frames are paced by absolute 20 ms deadlines on the steady clock (see
// TFramePacer), on the thread all such devices share (TSharedFrameClock),
// so a call of hours sends exactly one frame per 20 ms of wall
// time. When the file's audio ends, silence follows for the rest of the call
// rather than a loop: a test then finds the file's audio once, at a known
// place, and a click measured for delay cannot repeat.
//
// TFileSpeaker takes frames at the rate a sound card plays them and writes
// them into a WAV file, or discards them without one. It behaves as a card
// with 20 ms periods: at every period boundary it gives back the buffer that
// was playing and starts the next queued frame, or with nothing queued asks
// its frame source, if one is set, for the period's frame; with neither the
// period is silent. The file is therefore a time line of what a listener
// would have heard from the speaker's creation on, silences included, which
// is what delay measurements need.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "media/audio_capture.h"
#include "media/audio_frame_source.h"
#include "media/audio_playback_queue.h"
#include "media/audio_wav_writer.h"
#include "media/shared_frame_clock.h"
#include "sip/sipints.h"

namespace media {

class TFileMicrophone : public TCaptureDevice {
public:
    // An empty name captures silence. Any WAV file TWavFile reads will do
    // (it converts to 8000 Hz mono 16-bit); throws std::runtime_error naming
    // the file when it cannot be read.
    explicit TFileMicrophone(const std::string& fileName,
                             TSharedFrameClock& clock = TSharedFrameClock::Process());

    // Origin of the capture time line: frame k (from 0) holds the audio of
    // the 20 ms starting k periods after it and is delivered when that span
    // ends, as a sound card delivers a filled buffer.
    TAudioClock::time_point GetTimeLineStart() const { return Start_; }

private:
    const TAudioClock::time_point Start_ = TSharedFrameClock::GridStart(TAudioClock::now());
};

class TFileSpeaker : public ISipSpeaker {
public:
    // An empty name discards. Otherwise the file is created at once (throws
    // std::runtime_error naming it when it cannot be) and completed when the
    // speaker is destroyed; frames still queued then are not written. Its
    // frame source runs on the shared clock's thread and must not destroy
    // the speaker: destruction waits for the running period to end.
    explicit TFileSpeaker(const std::string& fileName,
                          TSharedFrameClock& clock = TSharedFrameClock::Process());
    ~TFileSpeaker() override;
    TFileSpeaker(const TFileSpeaker&) = delete;
    TFileSpeaker& operator=(const TFileSpeaker&) = delete;

    void Play(const void* pcm, int length) override { Queue_.Play(pcm, length); }
    bool CanPlay() override { return Queue_.CanPlay(); }
    bool SetFrameSource(TFrameSource source) override;
    // Frames queued or playing.
    int GetBusyCount() { return Queue_.GetBusyCount(); }
    // Origin of the file's time line: sample n of the file was heard one
    // period plus n samples after it (the first period starts one period
    // after creation).
    TAudioClock::time_point GetTimeLineStart() const { return Start_; }

private:
    // One period of the card: gives back the frame that played, starts the next.
    void Tick(TFramePacer& pacer);

    TPlaybackQueue Queue_;
    TFrameSourceSlot Source_;
    // The shared clock's thread only.
    std::unique_ptr<TWavWriter> Writer_;
    std::vector<int16_t> Frame_;
    bool Playing_ = false;
    const TAudioClock::time_point Start_ = TSharedFrameClock::GridStart(TAudioClock::now());
    TSharedFrameClock::TTicket Ticket_;  // last: ticks once the fields above exist
};

}  // namespace media
