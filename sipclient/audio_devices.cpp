#include "sipclient/audio_devices.h"

#include "media/audio_devices.h"

TAudioDeviceFactory DefaultAudioDeviceFactory() {
    return {[](ISipCall& call) { return media::CreateSpeaker(call.GetSpeakerDevice()); },
            [](ISipCall& call) { return media::CreateMicrophone(call.GetMicrophoneDevice()); }};
}
