// A sound of the booth's own (the credit warning) played at a call's speaker
// over real loopback RTP: it is in what the speaker plays, mixed with the far
// end's voice, and in nothing the call sends or hands its taps. The bad days:
// a far end that sends nothing, media that stops while the tone plays, a tone
// asked for before the media runs.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>
#include <unistd.h>

#include "media/audio_file_devices.h"
#include "media/codecs.h"
#include "media/rtp_session.h"
#include "media/warning_tone.h"
#include "media/wav.h"
#include "tests/media/audio_test_util.h"
#include "tests/media/rtp_test_util.h"

using namespace rtp_test;

namespace {

constexpr int kFrame = 160;
constexpr double kVoiceHz = 500;
// A sine of amplitude a has power a^2/4 on this scale: the beeps' is about
// 1.7e7, a tenth of it is a clear beep, and far below it is none.
constexpr double kBeepPower = 1.7e6;

struct TScenario {
    const char* name;
    bool farEndSends;    // B hears A's 500 Hz voice
    bool askFirst;       // the tone is asked for before B's media runs
    int stopAtFrame;     // B's media stops (and starts again) here; -1 never
    int beepsHeard;
};

class SpeakerMixTest : public ::testing::TestWithParam<TScenario> {
protected:
    void SetUp() override {
        Recording = std::filesystem::temp_directory_path() /
                    ("speaker_mix_" + std::to_string(getpid()) + "_" + GetParam().name + ".wav");
        for (TCallPtr* call : {&A, &B}) {
            TCallSettings settings;
            settings.eventSink = std::make_shared<TRecordingSink>();
            settings.mediaPath = std::make_shared<media::TRtpMediaPath>();
            *call = TCall::Create(std::move(settings));
            (*call)->SetCodec(media::CodecRegistry().Create(0));
            (*call)->SetLocalRtpPort(FreePort());
            (*call)->SetRemoteRtpHost("127.0.0.1");
        }
        A->SetRemoteRtpPort(B->GetLocalRtpPort());
        B->SetRemoteRtpPort(A->GetLocalRtpPort());
        B->SetSpeaker(std::make_shared<media::TFileSpeaker>(Recording.string()));
        B->SetRecorder(Tap);
    }
    void TearDown() override {
        A->SetMediaActive(false);
        B->SetMediaActive(false);
        std::filesystem::remove(Recording);
    }

    // The voice B hears and B's own microphone (silence), paced every 20 ms;
    // the two warnings of the booth are asked for at frame 25, one right after
    // the other, and the second waits for the first.
    void Run(const TScenario& scenario) {
        const auto twoBeeps = std::make_shared<media::TWavStream>(media::WarningToneWav(2));
        const auto threeBeeps = std::make_shared<media::TWavStream>(media::WarningToneWav(3));
        if (scenario.askFirst) {
            EXPECT_FALSE(B->PlayWavToSpeaker(twoBeeps));
        }
        if (scenario.farEndSends) {
            A->SetMediaActive(true);
            A->PlayWav(std::make_shared<media::TWavStream>(
                media_test::BytesOf(media_test::Sine(kVoiceHz, 8000 * 4, 8000))));
        }
        B->SetMediaActive(true);
        const std::vector<int16_t> silence(kFrame, 0);
        auto due = std::chrono::steady_clock::now();
        for (int n = 0; n < 150; ++n) {
            if (n == 25 && !scenario.askFirst) {
                EXPECT_TRUE(B->PlayWavToSpeaker(twoBeeps));
                EXPECT_TRUE(B->PlayWavToSpeaker(threeBeeps));
            }
            if (n == scenario.stopAtFrame) {
                B->SetMediaActive(false);
                B->SetMediaActive(true);
            }
            if (scenario.farEndSends)
                A->SendAudioFrame(silence.data());
            B->SendAudioFrame(silence.data());
            due += std::chrono::milliseconds(20);
            std::this_thread::sleep_until(due);
        }
        B->SetMediaActive(false);
        B->SetSpeaker(nullptr);  // the file is complete once the speaker is gone
    }
    std::vector<int16_t> Recorded() {
        media::TWavFile file(Recording.string());
        std::vector<int16_t> samples(static_cast<size_t>(file.GetSize() / 2));
        file.Read(samples.data(), static_cast<int>(samples.size() * 2));
        return samples;
    }

    std::shared_ptr<TRecordingTap> Tap = std::make_shared<TRecordingTap>();
    std::filesystem::path Recording;
    TCallPtr A, B;
};

// The beeps in `heard` (20 ms windows every 10 ms), and whether the voice
// went on under every window of them.
struct TBeeps {
    int count = 0;
    bool voiceUnder = true;
};

TBeeps FindBeeps(const std::vector<int16_t>& heard) {
    TBeeps beeps;
    bool inBeep = false;
    for (size_t at = 0; at + kFrame <= heard.size(); at += kFrame / 2) {
        const std::vector<int16_t> window(heard.begin() + static_cast<long>(at),
                                          heard.begin() + static_cast<long>(at + kFrame));
        const bool beep = media_test::TonePower(window, media::kWarningToneFrequency) > kBeepPower;
        beeps.count += beep && !inBeep;
        inBeep = beep;
        if (beep && media_test::TonePower(window, kVoiceHz) < kBeepPower)
            beeps.voiceUnder = false;
    }
    return beeps;
}

int FramesWithBeep(const std::vector<std::vector<int16_t>>& frames) {
    int count = 0;
    for (const auto& frame : frames)
        count += media_test::TonePower(frame, media::kWarningToneFrequency) > kBeepPower / 100;
    return count;
}

}  // namespace

TEST_P(SpeakerMixTest, ToneIsHeardAtTheSpeakerOnly) {
    const TScenario& scenario = GetParam();
    Run(scenario);
    const TBeeps beeps = FindBeeps(Recorded());
    EXPECT_EQ(beeps.count, scenario.beepsHeard);
    if (scenario.farEndSends) {
        EXPECT_TRUE(beeps.voiceUnder);
    }
    // B sends only its microphone (the sent tap holds each frame as it is
    // encoded); the received tap (what the answer supervision listens to)
    // gets the far end alone.
    EXPECT_GT(Tap->Sent.size(), 100u);
    EXPECT_EQ(FramesWithBeep(Tap->Sent), 0);
    EXPECT_EQ(FramesWithBeep(Tap->Received), 0);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, SpeakerMixTest,
                         ::testing::Values(TScenario{"OverTheVoice", true, false, -1, 5},
                                           TScenario{"FarEndSilent", false, false, -1, 5},
                                           TScenario{"MediaStopsInTheSecondBeep", true, false, 25 + 22, 2},
                                           TScenario{"AskedBeforeMedia", true, true, -1, 0}),
                         [](const auto& info) { return std::string(info.param.name); });
