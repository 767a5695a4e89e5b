// The audio devices a call gets when nothing else was chosen.
#pragma once

#include "sipclient/sipclient.h"

// Today this builds no devices: calls run with no speaker and no microphone.
// This is the one place to plug in the media library's device factory (device
// by name, "null", or a ".wav" path; SOFTPHONE_MIC / SOFTPHONE_SPEAKER).
TAudioDeviceFactory DefaultAudioDeviceFactory();
