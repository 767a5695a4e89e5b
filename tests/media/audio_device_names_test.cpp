// Device names, device lookup, stream format choice and capture error texts:
// the decisions of the audio devices, tested as plain functions.
#include <gtest/gtest.h>
#include <portaudio.h>

#include <string>
#include <vector>

#include "media/audio_device_names.h"
#include "media/audio_devices.h"
#include "media/audio_portaudio.h"
#include "sip/transport.h"

using namespace media;

TEST(AudioDeviceNames, CutKeepsThirtyOneCharactersWithoutSplittingOne) {
    const std::string longName = "HDA Intel PCH: ALC892 Analog (hw:0,0)";
    EXPECT_EQ(CutDeviceName(longName), longName.substr(0, 31));
    EXPECT_EQ(CutDeviceName("USB Audio"), "USB Audio");
    const std::string exact(31, 'x');
    EXPECT_EQ(CutDeviceName(exact), exact);
    // Thirty "a" and then two-byte characters: the 31st character is the
    // first "ñ", whole, and nothing after it.
    const std::string spanish = std::string(30, 'a') + "\xC3\xB1\xC3\xB1";
    EXPECT_EQ(CutDeviceName(spanish), std::string(30, 'a') + "\xC3\xB1");
    // Thirty-one three-byte characters are kept whole (93 bytes).
    std::string wide;
    for (int i = 0; i < 32; ++i) wide += "\xE2\x82\xAC";
    EXPECT_EQ(CutDeviceName(wide).size(), 93u);
}

TEST(AudioDeviceNames, LookupIsExactOverTheListedNames) {
    const std::string longName = "HDA Intel PCH: ALC892 Analog (hw:0,0)";
    // Numbers are device indices, not list positions: output-only devices
    // leave gaps in an input list.
    const std::vector<TAudioDeviceName> devices{
        {0, "USB Audio"}, {3, CutDeviceName(longName)}, {5, "usb audio"}, {7, "USB Audio"}};
    EXPECT_EQ(FindDeviceByName(devices, "USB Audio"), 0);  // the first of two
    EXPECT_EQ(FindDeviceByName(devices, "usb audio"), 5);  // case matters
    EXPECT_EQ(FindDeviceByName(devices, longName.substr(0, 31)), 3);
    EXPECT_EQ(FindDeviceByName(devices, longName), -1);  // the stored name is the cut one
    EXPECT_EQ(FindDeviceByName(devices, "USB Audio "), -1);
    EXPECT_EQ(FindDeviceByName(devices, ""), -1);
    EXPECT_EQ(FindDeviceByName({}, "USB Audio"), -1);
}

TEST(AudioDeviceNames, ProjectDevicesByName) {
    EXPECT_EQ(FindProjectDevice("null"), kNullAudioDevice);
    EXPECT_EQ(FindProjectDevice("Null"), kDefaultAudioDevice);
    EXPECT_EQ(FindProjectDevice("USB Audio"), kDefaultAudioDevice);
    EXPECT_EQ(FindProjectDevice(".wav"), kDefaultAudioDevice);
    EXPECT_EQ(FindProjectDevice("voice.WAV"), kDefaultAudioDevice);
    const int first = FindProjectDevice("/tmp/names-test-a.wav");
    const int second = FindProjectDevice("/tmp/names-test-b.wav");
    EXPECT_LE(first, kFirstWavAudioDevice);
    EXPECT_LE(second, kFirstWavAudioDevice);
    EXPECT_NE(first, second);
    EXPECT_EQ(FindProjectDevice("/tmp/names-test-a.wav"), first);  // one number per name
    EXPECT_EQ(WavDeviceFileName(second), "/tmp/names-test-b.wav");
    EXPECT_EQ(FindWaveInDevice("null"), kNullAudioDevice);
    EXPECT_EQ(FindWaveOutDevice("/tmp/names-test-a.wav"), first);
    EXPECT_EQ(FindWaveInDevice("No such card anywhere"), kDefaultAudioDevice);
}

TEST(AudioDeviceNames, ChoiceOfDeviceKind) {
    const int file = FindProjectDevice("/tmp/choice-test.wav");
    struct TCase {
        int device;
        bool hasDefault;
        TAudioDeviceKind kind;
    } cases[] = {
        {kDefaultAudioDevice, true, TAudioDeviceKind::PortAudio},
        {kDefaultAudioDevice, false, TAudioDeviceKind::Null},  // no sound card
        {0, false, TAudioDeviceKind::PortAudio},               // explicit: never replaced
        {4, true, TAudioDeviceKind::PortAudio},
        {kNullAudioDevice, true, TAudioDeviceKind::Null},
        {file, true, TAudioDeviceKind::WavFile},
        {kFirstWavAudioDevice - 100000, true, TAudioDeviceKind::Null},  // never handed out
    };
    for (const TCase& c : cases) {
        const TAudioDeviceChoice choice = ChooseAudioDevice(c.device, c.hasDefault);
        EXPECT_EQ(choice.kind, c.kind) << c.device << " " << c.hasDefault;
        if (c.kind == TAudioDeviceKind::PortAudio) {
            EXPECT_EQ(choice.device, c.device);
        }
    }
    EXPECT_EQ(ChooseAudioDevice(file, false).fileName, "/tmp/choice-test.wav");
}

TEST(AudioStreamFormat, FirstAcceptedFormatInOrderOfPreference) {
    std::vector<TStreamFormat> tried;
    auto only = [&](TStreamFormat accepted) {
        return [&tried, accepted](const TStreamFormat& f) {
            tried.push_back(f);
            return f == accepted;
        };
    };
    EXPECT_EQ(ChooseStreamFormat(48000, 2, only({8000, 1})), (TStreamFormat{8000, 1}));
    EXPECT_EQ(tried.size(), 1u);
    // A card that only plays its own rate in stereo.
    tried.clear();
    EXPECT_EQ(ChooseStreamFormat(44100, 2, only({44100, 2})), (TStreamFormat{44100, 2}));
    EXPECT_EQ(tried.front(), (TStreamFormat{8000, 1}));
    // A four-channel device at a common rate it does not report as default.
    EXPECT_EQ(ChooseStreamFormat(96000, 4, only({48000, 4})), (TStreamFormat{48000, 4}));
    // A mono-only device is never asked for stereo.
    tried.clear();
    EXPECT_FALSE(ChooseStreamFormat(48000, 1, only({48000, 2})).has_value());
    for (const TStreamFormat& f : tried) EXPECT_EQ(f.channels, 1);
}

TEST(AudioCaptureErrors, PortAudioErrorsGiveTheWaveformTexts) {
    struct TCase {
        int error;
        const char* text;
    } cases[] = {
        {paInvalidDevice, "Specified device identifier is out of range."},
        {paDeviceUnavailable, "Specified resource is already allocated."},
        {paNotInitialized, "No device driver is present."},
        {paHostApiNotFound, "No device driver is present."},
        {paInsufficientMemory, "Unable to allocate or lock memory."},
        {paInvalidSampleRate,
         "Attempted to open with an unsupported waveform-audio format."},
        {paInvalidChannelCount,
         "Attempted to open with an unsupported waveform-audio format."},
        {paSampleFormatNotSupported,
         "Attempted to open with an unsupported waveform-audio format."},
    };
    for (const TCase& c : cases) {
        ASSERT_NE(CaptureOpenErrorText(c.error), nullptr) << c.error;
        EXPECT_STREQ(CaptureOpenErrorText(c.error), c.text) << c.error;
        try {
            RaiseCaptureOpenError(c.error);
            ADD_FAILURE() << "nothing raised for " << c.error;
        } catch (const ESipError& e) {
            EXPECT_STREQ(e.what(), c.text);
        }
    }
    // Errors without a counterpart raise nothing.
    for (int error : {paNoError, paUnanticipatedHostError, paTimedOut}) {
        EXPECT_EQ(CaptureOpenErrorText(error), nullptr) << error;
        EXPECT_NO_THROW(RaiseCaptureOpenError(error));
    }
}
