// PortAudio underneath TSpeaker and TMicrophone: the library's lifetime, its
// device list, the choice of a stream format the card accepts, and the
// waveform-audio texts of capture open errors.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "media/audio_device_names.h"

typedef void PaStream;

namespace media {

// Holds PortAudio initialised. Every device keeps one while it exists; the
// library is shut down when the last goes. The first acquisition quiets the
// ALSA and JACK messages that probing the cards prints on stderr.
class TPortAudio {
    struct TKey {
        explicit TKey() = default;
    };

public:
    static std::shared_ptr<TPortAudio> Acquire();
    explicit TPortAudio(TKey);
    ~TPortAudio();
    TPortAudio(const TPortAudio&) = delete;
    TPortAudio& operator=(const TPortAudio&) = delete;

    bool IsInitialized() const { return Initialized_; }

private:
    bool Initialized_ = false;
};
using TPortAudioPtr = std::shared_ptr<TPortAudio>;

// The devices with input (or output) channels, in index order, names cut as
// the device lists show them. Empty when PortAudio finds no device.
std::vector<TAudioDeviceName> PortAudioDeviceNames(bool input);
// The default input (output) device's index, or -1 when there is none.
int PortAudioDefaultDevice(bool input);

struct TStreamFormat {
    double rate = 8000;
    int channels = 1;
    bool operator==(const TStreamFormat&) const = default;
};

// The first format the device accepts, trying 8000 Hz mono first, then the
// device's own rate and the common rates, in mono, stereo and the device's
// channel count. nullopt when it takes none of them.
std::optional<TStreamFormat> ChooseStreamFormat(
    double defaultRate, int maxChannels, const std::function<bool(const TStreamFormat&)>& accepts);

// The waveform-audio text for a PortAudio error from opening a capture
// stream, or nullptr when the error has none (those raise nothing).
const char* CaptureOpenErrorText(int paError);
// Throws ESipError with the text above; does nothing for errors without one.
void RaiseCaptureOpenError(int paError);

// An open PortAudio stream of 16-bit samples, closed on destruction.
class TPortAudioStream {
public:
    // Opens device `device` (-1: the default device) for input or output at a
    // format it accepts, `framesPerBuffer` chosen for 20 ms at that rate and
    // at most `latencySeconds` of buffering asked for. Returns the PortAudio
    // error; on success the stream is started.
    int Open(int device, bool input, double latencySeconds);
    ~TPortAudioStream();

    bool IsOpen() const { return Stream_ != nullptr; }
    const TStreamFormat& GetFormat() const { return Format_; }
    int GetFramesPerBuffer() const { return FramesPerBuffer_; }
    PaStream* Get() const { return Stream_; }

private:
    PaStream* Stream_ = nullptr;
    TStreamFormat Format_;
    int FramesPerBuffer_ = 160;
};

}  // namespace media
