#include "media/audio_microphone.h"

#include <portaudio.h>

#include <vector>

#include "media/audio_format_converter.h"
#include "media/audio_portaudio.h"

namespace media {
namespace {

// Reads and delivers until the stream fails; false then, true on a stop.
bool CaptureFrames(TCaptureState& state, IAudioInputStream& stream) {
    TAudioFormatConverter converter(stream.GetFormat(), true);
    const int frames = stream.GetFramesPerBuffer();
    std::vector<int16_t> buffer(static_cast<size_t>(frames * stream.GetFormat().channels));
    std::vector<int16_t> pending;
    while (!state.IsStopping()) {
        // Blocks for at most one 20 ms period, so a stop request is seen
        // within one period.
        if (!stream.Read(buffer.data(), static_cast<unsigned long>(frames)))
            return false;
        converter.FromDevice(buffer.data(), frames, pending);
        size_t used = 0;
        for (; pending.size() - used >= kFrameSamples; used += kFrameSamples)
            state.Deliver(pending.data() + used);
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(used));
    }
    return true;
}

void RunMicrophone(TCaptureState& state, const TAudioInputOpener& open, std::chrono::microseconds period) {
    TryRaiseThreadPriority();
    int error = paNoError;
    IAudioInputStreamPtr stream = open(error);
    if (!stream) {
        RaiseCaptureOpenError(error);  // the thread's caller keeps the text
        state.SetOpened(false, "");
        return;
    }
    state.SetOpened(true, "");
    while (!CaptureFrames(state, *stream)) {
        // The card failed or went away: one period between attempts, never
        // a loop at full speed, until it opens again or the call ends.
        stream.reset();
        state.ReportPresent(false);
        while (!stream) {
            if (!state.WaitUntil(TAudioClock::now() + period))
                return;
            stream = open(error);
        }
        state.ReportPresent(true);
    }
}

}  // namespace

TMicrophone::TMicrophone(int device) : TMicrophone(PortAudioInput(device, kDeviceLatency)) {}

TMicrophone::TMicrophone(TAudioInputOpener open, std::chrono::microseconds period) {
    Start([open = std::move(open), period](TCaptureState& state) { RunMicrophone(state, open, period); });
}

}  // namespace media
