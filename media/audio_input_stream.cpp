#include "media/audio_input_stream.h"

#include <portaudio.h>

namespace media {
namespace {

class TPortAudioInput final : public IAudioInputStream {
public:
    // The library stays initialised while any stream of it is open.
    explicit TPortAudioInput(TPortAudioPtr library) : Library_(std::move(library)) {}

    int Open(int device, double latencySeconds) { return Stream_.Open(device, true, latencySeconds); }
    TStreamFormat GetFormat() const override { return Stream_.GetFormat(); }
    int GetFramesPerBuffer() const override { return Stream_.GetFramesPerBuffer(); }
    bool Read(int16_t* samples, unsigned long frames) override {
        const PaError error = Pa_ReadStream(Stream_.Get(), samples, frames);
        // An overflow only means some input was dropped before this read.
        return error == paNoError || error == paInputOverflowed;
    }

private:
    const TPortAudioPtr Library_;
    TPortAudioStream Stream_;
};

}  // namespace

TAudioInputOpener PortAudioInput(int device, double latencySeconds) {
    return [device, latencySeconds](int& error) -> IAudioInputStreamPtr {
        TPortAudioPtr library = TPortAudio::Acquire();
        if (!library->IsInitialized()) {
            error = paNotInitialized;
            return nullptr;
        }
        auto stream = std::make_unique<TPortAudioInput>(std::move(library));
        error = stream->Open(device, latencySeconds);
        if (error != paNoError)
            return nullptr;
        return stream;
    };
}

}  // namespace media
