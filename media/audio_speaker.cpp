#include "media/audio_speaker.h"

#include <exception>
#include <utility>

#include "media/audio_clock.h"
#include "media/codecs.h"

namespace media {

TSpeaker::TSpeaker(int device) : TSpeaker(PortAudioOutput(device, kDeviceLatency)) {}

TSpeaker::TSpeaker(TAudioOutputOpener open, std::chrono::milliseconds period)
    : Open_(std::move(open)), Period_(period), Thread_([this] { Run(); }) {
    std::unique_lock<std::mutex> lock(Mutex_);
    Changed_.wait(lock, [this] { return HasReported_; });
}

TSpeaker::~TSpeaker() {
    {
        std::lock_guard<std::mutex> guard(Mutex_);
        Stopping_ = true;
    }
    Changed_.notify_all();
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

void TSpeaker::SetDeviceListener(TDeviceListener listener) {
    std::lock_guard<std::mutex> guard(Mutex_);
    Listener_ = std::move(listener);
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
    Changed_.notify_all();
}

void TSpeaker::ReportPresent(bool present) {
    TDeviceListener listener;
    {
        std::lock_guard<std::mutex> guard(Mutex_);
        listener = Listener_;
    }
    if (listener)
        listener(present);
}

// An error on this thread (a format the converter cannot handle) must end
// playback, not the program: the device then behaves like one that never
// opened, so the constructor still returns and the call goes on silent.
void TSpeaker::Run() {
    try {
        PlayOn();
    } catch (const std::exception&) {
        ReportOpened(false);
        std::vector<int16_t> frame;
        while (!Stopping_) Queue_.WaitTake(frame, TAudioClock::now() + std::chrono::milliseconds(200));
    }
}

bool TSpeaker::OpenDevice() {
    Stream_ = Open_ ? Open_() : nullptr;
    if (Stream_)
        Converter_.emplace(Stream_->GetFormat(), false);
    return Stream_ != nullptr;
}

void TSpeaker::PlayOn() {
    TryRaiseThreadPriority();
    const bool opened = OpenDevice();
    ReportOpened(opened);
    std::vector<int16_t> frame;
    std::vector<int16_t> converted;
    if (!opened) {
        // Nothing is ever released: the queue fills and CanPlay turns false.
        while (!Stopping_)
            Queue_.WaitTake(frame, TAudioClock::now() + std::chrono::milliseconds(200));
        return;
    }
    bool queued = false;
    while (!Stopping_) {
        if (!Stream_) {
            if (!OpenDevice()) {
                SkipPeriod(frame);
                continue;
            }
            ReportPresent(true);
        }
        if (!NextFrame(frame, queued))
            continue;
        Converter_->ToDevice(frame, converted);
        const auto frames = converted.size() / static_cast<size_t>(Stream_->GetFormat().channels);
        // Returns once the device has room: the buffer is given back when its
        // frame is in the card's hands, as with a played-out wave buffer.
        const bool written = Stream_->Write(converted.data(), static_cast<unsigned long>(frames));
        if (queued)
            Queue_.Release();
        if (!written) {
            // A failed write returns at once: without a pause this loop
            // would spin at full speed for as long as the card is away.
            Stream_.reset();
            ReportPresent(false);
            SkipPeriod(frame);
        }
    }
}

void TSpeaker::SkipPeriod(std::vector<int16_t>& frame) {
    if (Queue_.Take(frame))
        Queue_.Release();
    else
        Source_.Pull(frame, kFrameSamples);
    std::unique_lock<std::mutex> lock(Mutex_);
    Changed_.wait_for(lock, Period_, [this] { return Stopping_.load(); });
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
