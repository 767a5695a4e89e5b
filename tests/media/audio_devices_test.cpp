// Creating devices the way the component does: environment overrides, the
// fallback on a machine without a sound card, PortAudio devices that cannot
// open.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "media/audio_devices.h"
#include "media/audio_file_devices.h"
#include "media/audio_microphone.h"
#include "media/audio_portaudio.h"
#include "media/audio_speaker.h"
#include "tests/media/audio_test_call.h"

using namespace std::chrono_literals;
using namespace media;

namespace {

// Sets a variable for one test and restores the absence after it.
class TScopedEnvironment {
public:
    TScopedEnvironment(const char* name, const std::string& value) : Name_(name) {
        setenv(name, value.c_str(), 1);
    }
    ~TScopedEnvironment() { unsetenv(Name_); }

private:
    const char* Name_;
};

constexpr int kNoSuchDevice = 9999;

}  // namespace

TEST(AudioDeviceFactory, EnvironmentReplacesTheChosenDevice) {
    const std::string name =
        ::testing::TempDir() + "env-speaker-" + std::to_string(getpid()) + ".wav";
    {
        TScopedEnvironment speaker(kSpeakerEnvironment, name);
        TScopedEnvironment microphone(kMicrophoneEnvironment, "null");
        // A device number that would fail to open is never tried.
        auto created = CreateSpeaker(kNoSuchDevice);
        EXPECT_NE(std::dynamic_pointer_cast<TFileSpeaker>(created), nullptr);
        auto capture = CreateMicrophone(kNoSuchDevice);
        auto file = std::dynamic_pointer_cast<TFileMicrophone>(capture);
        ASSERT_NE(file, nullptr);
        EXPECT_TRUE(file->IsOpened());
        auto call = std::make_shared<TRecordingCall>();
        capture->SetCall(call);
        EXPECT_TRUE(call->WaitForFrames(1, 20s));
        capture->SetCall(nullptr);
    }
    std::ifstream written(name, std::ios::binary);
    EXPECT_TRUE(written.good());  // the speaker recorded into the named file
    std::remove(name.c_str());
    // Without the variables the number is used as given.
    auto direct = CreateMicrophone(kNullAudioDevice);
    EXPECT_NE(std::dynamic_pointer_cast<TFileMicrophone>(direct), nullptr);
}

TEST(AudioDeviceFactory, DefaultDeviceWithoutSoundCardIsTheNullDevice) {
    if (PortAudioDefaultDevice(true) >= 0 || PortAudioDefaultDevice(false) >= 0)
        GTEST_SKIP() << "this machine has a sound card";
    EXPECT_TRUE(WaveInDevices().empty());
    EXPECT_EQ(FindWaveInDevice("Any card"), kDefaultAudioDevice);
    auto microphone = CreateMicrophone(kDefaultAudioDevice);
    EXPECT_NE(std::dynamic_pointer_cast<TFileMicrophone>(microphone), nullptr);
    auto speaker = CreateSpeaker(kDefaultAudioDevice);
    EXPECT_NE(std::dynamic_pointer_cast<TFileSpeaker>(speaker), nullptr);
    // The null microphone clocks a call as a card would.
    auto call = std::make_shared<TRecordingCall>();
    microphone->SetCall(call);
    EXPECT_TRUE(call->WaitForFrames(3, 20s));
    microphone->SetCall(nullptr);
}

TEST(AudioPortAudioDevices, CaptureDeviceThatCannotOpenKeepsItsErrorText) {
    auto created = CreateMicrophone(kNoSuchDevice);
    auto microphone = std::dynamic_pointer_cast<TMicrophone>(created);
    ASSERT_NE(microphone, nullptr);
    EXPECT_FALSE(microphone->IsOpened());
    EXPECT_EQ(microphone->GetOpenError(), "Specified device identifier is out of range.");
    auto call = std::make_shared<TRecordingCall>();
    microphone->SetCall(call);
    EXPECT_FALSE(call->WaitForFrames(1, 100ms));  // no capture: nothing is sent
    microphone->SetCall(nullptr);
}

TEST(AudioPortAudioDevices, PlaybackDeviceThatCannotOpenFillsUp) {
    auto created = CreateSpeaker(kNoSuchDevice);
    auto speaker = std::dynamic_pointer_cast<TSpeaker>(created);
    ASSERT_NE(speaker, nullptr);
    EXPECT_FALSE(speaker->IsOpened());
    const std::vector<int16_t> frame(kFrameSamples, 100);
    for (int i = 0; i < 16; ++i) {
        EXPECT_TRUE(speaker->CanPlay());
        speaker->Play(frame.data(), kFrameBytes);
    }
    std::this_thread::sleep_for(100ms);  // nothing is ever given back
    EXPECT_FALSE(speaker->CanPlay());
}
