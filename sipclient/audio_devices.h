// The audio devices a call gets unless the application chose others.
#pragma once

#include "sipclient/sipclient.h"

// The media library's devices for the call's SpeakerDevice and
// MicrophoneDevice numbers: sound cards, "null" or WAV files, with the
// SOFTPHONE_MIC / SOFTPHONE_SPEAKER override applied there.
TAudioDeviceFactory DefaultAudioDeviceFactory();
