#include "sipclient/audio_devices.h"

TAudioDeviceFactory DefaultAudioDeviceFactory() {
    // No device back-end is available in the media library yet; the call's
    // receive path then drops decoded audio and its send path stays idle.
    return {};
}
