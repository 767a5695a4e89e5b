#include "media/audio_microphone.h"

#include <portaudio.h>

#include <vector>

#include "media/audio_format_converter.h"
#include "media/audio_portaudio.h"

namespace media {
namespace {

void CaptureFrames(TCaptureState& state, const TPortAudioStream& stream) {
    TAudioFormatConverter converter(stream.GetFormat(), true);
    const int frames = stream.GetFramesPerBuffer();
    std::vector<int16_t> buffer(static_cast<size_t>(frames * stream.GetFormat().channels));
    std::vector<int16_t> pending;
    while (!state.IsStopping()) {
        // Blocks for at most one 20 ms period, so a stop request is seen
        // within one period.
        const PaError error = Pa_ReadStream(stream.Get(), buffer.data(),
                                            static_cast<unsigned long>(frames));
        if (error != paNoError && error != paInputOverflowed) {
            state.WaitUntil(TAudioClock::now() + kFramePeriod);  // card gone: no busy loop
            continue;
        }
        converter.FromDevice(buffer.data(), frames, pending);
        size_t used = 0;
        for (; pending.size() - used >= kFrameSamples; used += kFrameSamples)
            state.Deliver(pending.data() + used);
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(used));
    }
}

void RunMicrophone(TCaptureState& state, int device) {
    TryRaiseThreadPriority();
    const TPortAudioPtr library = TPortAudio::Acquire();
    TPortAudioStream stream;
    const int error =
        library->IsInitialized() ? stream.Open(device, true, TMicrophone::kDeviceLatency)
                                 : paNotInitialized;
    if (error != paNoError) {
        RaiseCaptureOpenError(error);  // the thread's caller keeps the text
        state.SetOpened(false, "");
        return;
    }
    state.SetOpened(true, "");
    CaptureFrames(state, stream);
}

}  // namespace

TMicrophone::TMicrophone(int device) {
    Start([device](TCaptureState& state) { RunMicrophone(state, device); });
}

}  // namespace media
