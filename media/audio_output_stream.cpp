#include "media/audio_output_stream.h"

#include <portaudio.h>

namespace media {
namespace {

class TPortAudioOutput final : public IAudioOutputStream {
public:
    // The library stays initialised while any stream of it is open.
    explicit TPortAudioOutput(TPortAudioPtr library) : Library_(std::move(library)) {}

    int Open(int device, double latencySeconds) { return Stream_.Open(device, false, latencySeconds); }
    TStreamFormat GetFormat() const override { return Stream_.GetFormat(); }
    bool Write(const int16_t* samples, unsigned long frames) override {
        const PaError error = Pa_WriteStream(Stream_.Get(), samples, frames);
        // An underflow only means the card ran dry for a moment.
        return error == paNoError || error == paOutputUnderflowed;
    }

private:
    const TPortAudioPtr Library_;
    TPortAudioStream Stream_;
};

}  // namespace

TAudioOutputOpener PortAudioOutput(int device, double latencySeconds) {
    return [device, latencySeconds]() -> IAudioOutputStreamPtr {
        TPortAudioPtr library = TPortAudio::Acquire();
        if (!library->IsInitialized())
            return nullptr;
        auto stream = std::make_unique<TPortAudioOutput>(std::move(library));
        if (stream->Open(device, latencySeconds) != paNoError)
            return nullptr;
        return stream;
    };
}

}  // namespace media
