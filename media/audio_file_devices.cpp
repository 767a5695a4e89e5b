#include "media/audio_file_devices.h"

#include <array>

#include "media/wav.h"

namespace media {
namespace {

void CaptureFileFrame(TCaptureState& state, const IWavFilePtr& source, TFramePacer& pacer) {
    std::array<int16_t, kFrameSamples> frame{};
    if (source)
        source->Read(frame.data(), kFrameBytes);  // short or none at the end: silence
    state.Deliver(frame.data());
    pacer.Advance(TAudioClock::now());
}

}  // namespace

TFileMicrophone::TFileMicrophone(const std::string& fileName, TSharedFrameClock& clock) {
    IWavFilePtr source;
    if (!fileName.empty())
        source = std::make_shared<TWavFile>(fileName);
    StartOnClock(clock, Start_, [source](TCaptureState& state, TFramePacer& pacer) {
        CaptureFileFrame(state, source, pacer);
    });
}

TFileSpeaker::TFileSpeaker(const std::string& fileName, TSharedFrameClock& clock)
    : Writer_(fileName.empty() ? nullptr : std::make_unique<TWavWriter>(fileName)),
      Ticket_(clock.Add(Start_, [this](TFramePacer& pacer) { Tick(pacer); })) {}

bool TFileSpeaker::SetFrameSource(TFrameSource source) {
    Source_.Set(std::move(source));
    return true;
}

TFileSpeaker::~TFileSpeaker() {
    Ticket_.Release();  // waits for a running tick: the fields stay until it ends
}

void TFileSpeaker::Tick(TFramePacer& pacer) {
    if (Playing_)
        Queue_.Release();
    Playing_ = Queue_.Take(Frame_);
    if (!Playing_ && !Source_.Pull(Frame_, kFrameSamples))
        Frame_.assign(kFrameSamples, 0);
    if (Writer_)
        Writer_->Write(Frame_.data(), Frame_.size());
    const int64_t skipped = pacer.GetSkipped();
    pacer.Advance(TAudioClock::now(), SamplesDuration(static_cast<int64_t>(Frame_.size())));
    // Periods skipped after a stall were silent: keep the file on time.
    if (Writer_ && pacer.GetSkipped() > skipped)
        Writer_->WriteSilence(static_cast<size_t>(pacer.GetSkipped() - skipped) * kFrameSamples);
}

}  // namespace media
