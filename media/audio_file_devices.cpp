#include "media/audio_file_devices.h"

#include <array>
#include <vector>

#include "media/wav.h"

namespace media {
namespace {

void RunFileCapture(TCaptureState& state, const IWavFilePtr& source, TAudioClock::time_point start) {
    TryRaiseThreadPriority();
    state.SetOpened(true, "");
    TFramePacer pacer(start);
    std::array<int16_t, kFrameSamples> frame{};
    while (state.WaitUntil(pacer.GetDeadline())) {
        frame.fill(0);
        if (source)
            source->Read(frame.data(), kFrameBytes);  // short or none at the end: silence
        state.Deliver(frame.data());
        pacer.Advance(TAudioClock::now());
    }
}

}  // namespace

TFileMicrophone::TFileMicrophone(const std::string& fileName) {
    IWavFilePtr source;
    if (!fileName.empty())
        source = std::make_shared<TWavFile>(fileName);
    Start([source, start = Start_](TCaptureState& state) { RunFileCapture(state, source, start); });
}

TFileSpeaker::TFileSpeaker(const std::string& fileName)
    : Writer_(fileName.empty() ? nullptr : std::make_unique<TWavWriter>(fileName)),
      Thread_([this] { Run(); }) {}

bool TFileSpeaker::SetFrameSource(TFrameSource source) {
    Source_.Set(std::move(source));
    return true;
}

TFileSpeaker::~TFileSpeaker() {
    {
        std::lock_guard<std::mutex> guard(Mutex_);
        Stopping_ = true;
    }
    Stop_.notify_all();
    Thread_.join();
}

bool TFileSpeaker::WaitUntil(TAudioClock::time_point deadline) {
    std::unique_lock<std::mutex> lock(Mutex_);
    return !Stop_.wait_until(lock, deadline, [this] { return Stopping_; });
}

void TFileSpeaker::Run() {
    TryRaiseThreadPriority();
    TFramePacer pacer(Start_);
    bool playing = false;
    std::vector<int16_t> frame;
    while (WaitUntil(pacer.GetDeadline())) {
        if (playing)
            Queue_.Release();
        playing = Queue_.Take(frame);
        if (!playing && !Source_.Pull(frame, kFrameSamples))
            frame.assign(kFrameSamples, 0);
        if (Writer_)
            Writer_->Write(frame.data(), frame.size());
        const int64_t skipped = pacer.GetSkipped();
        pacer.Advance(TAudioClock::now(), SamplesDuration(static_cast<int64_t>(frame.size())));
        // Periods skipped after a stall were silent: keep the file on time.
        if (Writer_ && pacer.GetSkipped() > skipped)
            Writer_->WriteSilence(static_cast<size_t>(pacer.GetSkipped() - skipped) * kFrameSamples);
    }
}

}  // namespace media
