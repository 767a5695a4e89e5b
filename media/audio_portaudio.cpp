#include "media/audio_portaudio.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <portaudio.h>

#include <cmath>
#include <mutex>

#include "sip/transport.h"

namespace media {
namespace {

std::mutex LibraryMutex;             // serialises Pa_Initialize / Pa_Terminate
std::weak_ptr<TPortAudio> Library;   // guarded by LibraryMutex

void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}
void QuietJack(const char*) {}

// Probing the cards makes ALSA and JACK print dozens of lines about missing
// cards and servers; none of them is ours to show. JACK is only reachable
// when PortAudio pulled it in, hence the run-time lookup.
void QuietAudioLibraries() {
    snd_lib_error_set_handler(QuietAlsa);
    using TSetter = void (*)(void (*)(const char*));
    for (const char* name : {"jack_set_error_function", "jack_set_info_function"}) {
        if (auto setter = reinterpret_cast<TSetter>(dlsym(RTLD_DEFAULT, name)))
            setter(QuietJack);
    }
}

}  // namespace

std::shared_ptr<TPortAudio> TPortAudio::Acquire() {
    std::lock_guard<std::mutex> guard(LibraryMutex);
    if (auto library = Library.lock())
        return library;
    auto library = std::make_shared<TPortAudio>(TKey{});
    Library = library;
    return library;
}

TPortAudio::TPortAudio(TKey) {
    // Called with LibraryMutex held.
    QuietAudioLibraries();
    Initialized_ = Pa_Initialize() == paNoError;
}

TPortAudio::~TPortAudio() {
    std::lock_guard<std::mutex> guard(LibraryMutex);
    if (Initialized_)
        Pa_Terminate();
}

std::vector<TAudioDeviceName> PortAudioDeviceNames(bool input) {
    const TPortAudioPtr library = TPortAudio::Acquire();
    std::vector<TAudioDeviceName> names;
    if (!library->IsInitialized())
        return names;
    const int count = Pa_GetDeviceCount();
    for (int i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info && (input ? info->maxInputChannels : info->maxOutputChannels) > 0)
            names.push_back({i, CutDeviceName(info->name ? info->name : "")});
    }
    return names;
}

int PortAudioDefaultDevice(bool input) {
    const TPortAudioPtr library = TPortAudio::Acquire();
    if (!library->IsInitialized())
        return -1;
    const PaDeviceIndex device = input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
    return device == paNoDevice ? -1 : device;
}

std::optional<TStreamFormat> ChooseStreamFormat(
    double defaultRate, int maxChannels, const std::function<bool(const TStreamFormat&)>& accepts) {
    std::vector<int> channels{1};
    if (maxChannels >= 2)
        channels.push_back(2);
    if (maxChannels > 2)
        channels.push_back(maxChannels);
    std::vector<double> rates{8000};
    if (defaultRate > 0 && defaultRate != 8000)
        rates.push_back(defaultRate);
    for (double rate : {48000.0, 44100.0, 16000.0}) {
        if (rate != defaultRate)
            rates.push_back(rate);
    }
    for (double rate : rates) {
        for (int count : channels) {
            if (accepts({rate, count}))
                return TStreamFormat{rate, count};
        }
    }
    return std::nullopt;
}

// PortAudio errors mapped to the waveform-audio result each corresponds to:
//   paInvalidDevice                      -> 2  bad device identifier
//   paDeviceUnavailable                  -> 4  already allocated (ALSA: busy)
//   paNotInitialized, paHostApiNotFound,
//   paInvalidHostApi, no default device  -> 6  no driver
//   paInsufficientMemory                 -> 7  no memory
//   paInvalidSampleRate, paInvalidChannelCount,
//   paSampleFormatNotSupported           -> 32 unsupported format
// Every other error has no counterpart among those results and raises
// nothing: the capture thread ends quietly, as with the other result codes.
const char* CaptureOpenErrorText(int paError) {
    switch (paError) {
    case paInvalidDevice:
        return "Specified device identifier is out of range.";
    case paDeviceUnavailable:
        return "Specified resource is already allocated.";
    case paNotInitialized:
    case paHostApiNotFound:
    case paInvalidHostApi:
        return "No device driver is present.";
    case paInsufficientMemory:
        return "Unable to allocate or lock memory.";
    case paInvalidSampleRate:
    case paInvalidChannelCount:
    case paSampleFormatNotSupported:
        return "Attempted to open with an unsupported waveform-audio format.";
    default:
        return nullptr;
    }
}

void RaiseCaptureOpenError(int paError) {
    if (const char* text = CaptureOpenErrorText(paError))
        throw ESipError(text);
}

int TPortAudioStream::Open(int device, bool input, double latencySeconds) {
    const PaDeviceIndex index =
        device == -1 ? (input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice()) : device;
    const PaDeviceInfo* info = index >= 0 ? Pa_GetDeviceInfo(index) : nullptr;
    if (!info)
        return index == paNoDevice && device == -1 ? paHostApiNotFound : paInvalidDevice;
    PaStreamParameters parameters{};
    parameters.device = index;
    parameters.sampleFormat = paInt16;
    parameters.suggestedLatency = latencySeconds;
    auto accepts = [&](const TStreamFormat& format) {
        parameters.channelCount = format.channels;
        return input ? Pa_IsFormatSupported(&parameters, nullptr, format.rate) == paFormatIsSupported
                     : Pa_IsFormatSupported(nullptr, &parameters, format.rate) == paFormatIsSupported;
    };
    Format_ = ChooseStreamFormat(info->defaultSampleRate,
                                 input ? info->maxInputChannels : info->maxOutputChannels, accepts)
                  .value_or(TStreamFormat{});
    parameters.channelCount = Format_.channels;
    FramesPerBuffer_ = static_cast<int>(std::lround(Format_.rate / 50));
    PaError error = Pa_OpenStream(&Stream_, input ? &parameters : nullptr,
                                  input ? nullptr : &parameters, Format_.rate,
                                  static_cast<unsigned long>(FramesPerBuffer_), paNoFlag, nullptr,
                                  nullptr);
    if (error != paNoError) {
        Stream_ = nullptr;
        return error;
    }
    error = Pa_StartStream(Stream_);
    if (error != paNoError) {
        Pa_CloseStream(Stream_);
        Stream_ = nullptr;
    }
    return error;
}

TPortAudioStream::~TPortAudioStream() {
    if (Stream_) {
        Pa_AbortStream(Stream_);
        Pa_CloseStream(Stream_);
    }
}

}  // namespace media
