// Notifications a call raises (digits, silence), the frame taps and the
// small-lock reference fields of TCall.
#include "media/call.h"

namespace {

bool IsKeypadDigit(char digit) {
    return (digit >= '0' && digit <= '9') || digit == '*' || digit == '#';
}

}  // namespace

std::string TCall::GetDtmfReceived() {
    std::lock_guard<std::mutex> guard(DigitsLock_);
    return DtmfReceived_;
}

void TCall::SetDtmfReceived(const std::string& value) {
    std::lock_guard<std::mutex> guard(DigitsLock_);
    DtmfReceived_ = value;
}

void TCall::ReportDtmf(const std::string& digit) {
    const uint32_t now = Clock_.tick();
    // One exchange both reads and restarts the dead time, so racing reporters
    // never both pass it; unsigned arithmetic keeps a wrapped tick right.
    const uint32_t previous = LastDtmfTime_.exchange(now);
    if (now - previous >= kDtmfDeadTimeMs && !digit.empty())
        DeliverDtmf(digit[0]);
}

// The digit is stored before the host hears of it, so the host finds it there.
void TCall::DeliverDtmf(char digit) {
    const bool keypad = IsKeypadDigit(digit);
    if (keypad) {
        std::lock_guard<std::mutex> guard(DigitsLock_);
        DtmfReceived_ += digit;
    }
    if (EventSink_)
        EventSink_->Dtmf(shared_from_this(), digit);
    if (keypad)
        DtmfEvent_->Pulse();
}

void TCall::ReportSilence() {
    if (EventSink_)
        EventSink_->Silence(shared_from_this());
    SilenceEvent_->Pulse();
}

// Taps -------------------------------------------------------------------------

void TCall::SetConference(ISipConferencePtr value) {
    std::lock_guard<std::mutex> guard(TapLock_);
    Conference_ = std::move(value);
}

void TCall::SetRecorder(ISipRecorderPtr value) {
    std::lock_guard<std::mutex> guard(RecorderLock_);
    Recorder_ = std::move(value);
}

ISipRecorderPtr TCall::GetRecorder() {
    std::lock_guard<std::mutex> guard(RecorderLock_);
    return Recorder_;
}

// The two locks are taken one after the other, never nested, so a tap that
// reaches the call's other tap cannot deadlock.
void TCall::TapReceivedFrame(const int16_t* pcm) {
    {
        std::lock_guard<std::mutex> guard(TapLock_);
        if (Conference_)
            Conference_->ReceivedFrame(*this, pcm);
    }
    std::lock_guard<std::mutex> guard(RecorderLock_);
    if (Recorder_)
        Recorder_->ReceivedFrame(pcm);
}

void TCall::TapSentFrame(const int16_t* pcm) {
    {
        std::lock_guard<std::mutex> guard(TapLock_);
        if (Conference_)
            Conference_->SentFrame(*this, pcm);
    }
    std::lock_guard<std::mutex> guard(RecorderLock_);
    if (Recorder_)
        Recorder_->SentFrame(pcm);
}

// Device and sound references ----------------------------------------------------

ISipSpeakerPtr TCall::GetSpeaker() {
    std::lock_guard<std::mutex> guard(SpeakerLock_);
    return Speaker_;
}

void TCall::SetSpeaker(ISipSpeakerPtr value) {
    std::lock_guard<std::mutex> guard(SpeakerLock_);
    Speaker_ = std::move(value);
}

ISipMicrophonePtr TCall::GetMicrophone() {
    std::lock_guard<std::mutex> guard(MicrophoneLock_);
    return Microphone_;
}

void TCall::SetMicrophone(ISipMicrophonePtr value) {
    std::lock_guard<std::mutex> guard(MicrophoneLock_);
    Microphone_ = std::move(value);
}

IWavFilePtr TCall::GetWavFile() {
    std::lock_guard<std::mutex> guard(WavLock_);
    return WavFile_;
}

void TCall::SetWavFile(IWavFilePtr value) {
    std::lock_guard<std::mutex> guard(WavLock_);
    WavFile_ = std::move(value);
}

bool TCall::PlayWavToSpeaker(IWavFilePtr wav) {
    return MediaActive_ && SpeakerMix_.Add(wav);
}

void TCall::PlayWav(IWavFilePtr wav) {
    WavDoneEvent_->Reset();
    SetWavFile(std::move(wav));
}
