#include "media/audio_speaker.h"

#include <portaudio.h>

#include <exception>
#include <vector>

#include "media/audio_clock.h"
#include "media/audio_format_converter.h"
#include "media/audio_portaudio.h"
#include "media/codecs.h"

namespace media {

TSpeaker::TSpeaker(int device) : Thread_([this, device] { Run(device); }) {
    std::unique_lock<std::mutex> lock(Mutex_);
    Reported_.wait(lock, [this] { return HasReported_; });
}

TSpeaker::~TSpeaker() {
    Stopping_ = true;
    Queue_.Wake();
    Thread_.join();
}

bool TSpeaker::SetFrameSource(TFrameSource source) {
    if (source && !IsOpened())
        return false;
    Source_.Set(std::move(source));
    Queue_.Wake();  // a wait for queued frames ends: the source is asked now
    return true;
}

bool TSpeaker::IsOpened() {
    std::lock_guard<std::mutex> guard(Mutex_);
    return Opened_;
}

void TSpeaker::ReportOpened(bool opened) {
    {
        std::lock_guard<std::mutex> guard(Mutex_);
        HasReported_ = true;
        Opened_ = opened;
    }
    Reported_.notify_all();
}

// An error on this thread (a format the converter cannot handle) must end
// playback, not the program: the device then behaves like one that never
// opened, so the constructor still returns and the call goes on silent.
void TSpeaker::Run(int device) {
    try {
        PlayOn(device);
    } catch (const std::exception&) {
        ReportOpened(false);
        std::vector<int16_t> frame;
        while (!Stopping_) Queue_.WaitTake(frame, TAudioClock::now() + std::chrono::milliseconds(200));
    }
}

void TSpeaker::PlayOn(int device) {
    TryRaiseThreadPriority();
    const TPortAudioPtr library = TPortAudio::Acquire();
    TPortAudioStream stream;
    const bool opened =
        library->IsInitialized() && stream.Open(device, false, kDeviceLatency) == paNoError;
    ReportOpened(opened);
    std::vector<int16_t> frame;
    std::vector<int16_t> converted;
    if (!opened) {
        // Nothing is ever released: the queue fills and CanPlay turns false.
        while (!Stopping_)
            Queue_.WaitTake(frame, TAudioClock::now() + std::chrono::milliseconds(200));
        return;
    }
    TAudioFormatConverter converter(stream.GetFormat(), false);
    bool queued = false;
    while (!Stopping_) {
        if (!NextFrame(frame, queued))
            continue;
        converter.ToDevice(frame, converted);
        const auto frames = converted.size() / static_cast<size_t>(stream.GetFormat().channels);
        // Returns once the device has room: the buffer is given back when its
        // frame is in the card's hands, as with a played-out wave buffer.
        Pa_WriteStream(stream.Get(), converted.data(), static_cast<unsigned long>(frames));
        if (queued)
            Queue_.Release();
    }
}

bool TSpeaker::NextFrame(std::vector<int16_t>& frame, bool& queued) {
    queued = Queue_.Take(frame);
    if (queued || Source_.Pull(frame, kFrameSamples))
        return true;
    if (Source_.IsSet()) {
        // Nothing to play this period: silence keeps the card's clock, which
        // is what asks for the next frame.
        frame.assign(kFrameSamples, 0);
        return true;
    }
    queued = Queue_.WaitTake(frame, TAudioClock::now() + std::chrono::milliseconds(200));
    return queued;
}

}  // namespace media
