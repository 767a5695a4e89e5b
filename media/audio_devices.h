// Choosing and creating a call's audio devices.
//
// Device numbers: 0 and up are PortAudio device indices; -1 is the default
// device; kNullAudioDevice is the project's null device (silence in, nothing
// out); kFirstWavAudioDevice and below stand for WAV files, one number per
// file name, handed out by FindWaveInDevice/FindWaveOutDevice.
//
// Device names: "null" names the null device; a name ending in ".wav" names a
// file device (capture plays the file, playback records into it); any other
// name is looked up among the PortAudio devices, cut to 31 characters as the
// device lists show them, and compared exactly.
//
// Environment: SOFTPHONE_MIC and SOFTPHONE_SPEAKER, when set and not empty,
// hold a device name that replaces the chosen capture or playback device of
// every call, so the booth program and the tests run without a sound card
// and without code changes (SOFTPHONE_MIC=speech.wav SOFTPHONE_SPEAKER=null).
//
// Machines without a sound card: when PortAudio finds no default device, the
// default device (-1) is the null device instead of a device that cannot
// open, so a call still runs, clocked by the null microphone. A device number
// given explicitly is never replaced: it opens or fails as it would.
#pragma once

#include <string>
#include <vector>

#include "media/audio_device_names.h"
#include "sip/sipints.h"

namespace media {

inline constexpr int kDefaultAudioDevice = -1;
inline constexpr int kNullAudioDevice = -2;
inline constexpr int kFirstWavAudioDevice = -1000;

inline constexpr const char* kMicrophoneEnvironment = "SOFTPHONE_MIC";
inline constexpr const char* kSpeakerEnvironment = "SOFTPHONE_SPEAKER";

// Names of the capture (playback) devices for the settings lists.
std::vector<TAudioDeviceName> WaveInDevices();
std::vector<TAudioDeviceName> WaveOutDevices();

// The device number for a stored device name; -1 when no device has it.
int FindWaveInDevice(const std::string& name);
int FindWaveOutDevice(const std::string& name);

// The project's device for a name ("null", "*.wav"), or nothing (-1) for
// names of sound cards. Pure apart from numbering file names.
int FindProjectDevice(const std::string& name);
// The file name behind a file device number; empty for other numbers.
std::string WavDeviceFileName(int device);

enum class TAudioDeviceKind { PortAudio, Null, WavFile };
struct TAudioDeviceChoice {
    TAudioDeviceKind kind = TAudioDeviceKind::Null;
    int device = kDefaultAudioDevice;  // for PortAudio
    std::string fileName;              // for WavFile
};

// What a device number opens, given whether PortAudio has a default device.
TAudioDeviceChoice ChooseAudioDevice(int device, bool hasDefaultDevice);

// The factories the component's CreateAudioDevices calls with the call's
// MicrophoneDevice and SpeakerDevice; the environment variables apply here.
// A WAV file that cannot be read (or created) throws std::runtime_error
// naming it.
ISipMicrophonePtr CreateMicrophone(int device);
ISipSpeakerPtr CreateSpeaker(int device);

}  // namespace media
