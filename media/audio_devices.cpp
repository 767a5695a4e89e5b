#include "media/audio_devices.h"

#include <cstdlib>
#include <mutex>

#include "media/audio_file_devices.h"
#include "media/audio_microphone.h"
#include "media/audio_portaudio.h"
#include "media/audio_speaker.h"

namespace media {
namespace {

std::mutex WavNamesMutex;
std::vector<std::string> WavNames;  // guarded by WavNamesMutex; index = kFirst - number

bool EndsWithWav(const std::string& name) {
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".wav") == 0;
}

int FindWaveDevice(const std::string& name, bool input) {
    const int project = FindProjectDevice(name);
    if (project != kDefaultAudioDevice)
        return project;
    return FindDeviceByName(PortAudioDeviceNames(input), name);
}

// The device the environment puts in place of `device`.
int OverriddenDevice(int device, const char* variable, bool input) {
    const char* value = std::getenv(variable);
    if (!value || !*value)
        return device;
    return FindWaveDevice(value, input);
}

bool HasDefaultDevice(int device, bool input) {
    // Only the default device needs PortAudio started up to be resolved.
    return device != kDefaultAudioDevice || PortAudioDefaultDevice(input) >= 0;
}

}  // namespace

std::vector<TAudioDeviceName> WaveInDevices() { return PortAudioDeviceNames(true); }
std::vector<TAudioDeviceName> WaveOutDevices() { return PortAudioDeviceNames(false); }

int FindWaveInDevice(const std::string& name) { return FindWaveDevice(name, true); }
int FindWaveOutDevice(const std::string& name) { return FindWaveDevice(name, false); }

int FindProjectDevice(const std::string& name) {
    if (name == "null")
        return kNullAudioDevice;
    if (!EndsWithWav(name))
        return kDefaultAudioDevice;
    std::lock_guard<std::mutex> guard(WavNamesMutex);
    size_t index = 0;
    while (index < WavNames.size() && WavNames[index] != name)
        ++index;
    if (index == WavNames.size())
        WavNames.push_back(name);
    return kFirstWavAudioDevice - static_cast<int>(index);
}

std::string WavDeviceFileName(int device) {
    if (device > kFirstWavAudioDevice)
        return {};
    const auto index = static_cast<size_t>(kFirstWavAudioDevice - device);
    std::lock_guard<std::mutex> guard(WavNamesMutex);
    return index < WavNames.size() ? WavNames[index] : std::string();
}

TAudioDeviceChoice ChooseAudioDevice(int device, bool hasDefaultDevice) {
    if (device == kNullAudioDevice || (device == kDefaultAudioDevice && !hasDefaultDevice))
        return {TAudioDeviceKind::Null, device, {}};
    if (device <= kFirstWavAudioDevice) {
        std::string fileName = WavDeviceFileName(device);
        if (fileName.empty())  // a number never handed out: nothing to open
            return {TAudioDeviceKind::Null, device, {}};
        return {TAudioDeviceKind::WavFile, device, std::move(fileName)};
    }
    return {TAudioDeviceKind::PortAudio, device, {}};
}

ISipMicrophonePtr CreateMicrophone(int device) {
    device = OverriddenDevice(device, kMicrophoneEnvironment, true);
    const TAudioDeviceChoice choice = ChooseAudioDevice(device, HasDefaultDevice(device, true));
    if (choice.kind == TAudioDeviceKind::PortAudio)
        return std::make_shared<TMicrophone>(choice.device);
    return std::make_shared<TFileMicrophone>(choice.fileName);
}

ISipSpeakerPtr CreateSpeaker(int device) {
    device = OverriddenDevice(device, kSpeakerEnvironment, false);
    const TAudioDeviceChoice choice = ChooseAudioDevice(device, HasDefaultDevice(device, false));
    if (choice.kind == TAudioDeviceKind::PortAudio)
        return std::make_shared<TSpeaker>(choice.device);
    return std::make_shared<TFileSpeaker>(choice.fileName);
}

}  // namespace media
