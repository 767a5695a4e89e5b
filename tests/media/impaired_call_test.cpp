// Calls through the impairment relay on loopback: A's RTP goes through the
// relay to B, whose file speaker records what a listener would hear, silences
// included. With 2% random loss and 30 ms of jitter the tone has no hole, the
// digits all arrive once, and B's figures match what the relay did.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <unistd.h>

#include "media/audio_file_devices.h"
#include "media/codecs.h"
#include "media/keypad_tones.h"
#include "media/rtp_session.h"
#include "media/wav.h"
#include "tests/media/audio_test_util.h"
#include "tests/media/rtp_test_util.h"
#include "tools/impair_relay/impair_relay.h"

using namespace rtp_test;

namespace {

constexpr int kFrame = 160;
constexpr double kToneAmplitude = 8000;

class ImpairedCallTest : public ::testing::Test {
protected:
    void SetUp() override {
        BPath = std::make_shared<media::TRtpMediaPath>(Mode);
        Recording = std::filesystem::temp_directory_path() /
                    ("impaired_call_" + std::to_string(getpid()) + ".wav");
        for (TCallPtr* call : {&A, &B}) {
            TCallSettings settings;
            settings.eventSink = call == &B ? BSink : ASink;
            settings.mediaPath = call == &B ? BPath : std::make_shared<media::TRtpMediaPath>();
            *call = TCall::Create(std::move(settings));
            (*call)->SetCodec(media::CodecRegistry().Create(0));
            (*call)->SetLocalRtpPort(FreePort());
            (*call)->SetRemoteRtpHost("127.0.0.1");
        }
        B->SetSpeaker(std::make_shared<media::TFileSpeaker>(Recording.string()));
        B->SetRemoteRtpPort(A->GetLocalRtpPort());
    }
    void TearDown() override {
        A->SetMediaActive(false);
        B->SetMediaActive(false);
        std::filesystem::remove(Recording);
    }
    // Sends `source` from A through a relay with `impairment`, paced every 20
    // ms, with `tailMs` of silence after it; then ends B's recording.
    relay::TRelaySummary Run(const std::vector<int16_t>& source, const relay::TImpairment& impairment, int tailMs) {
        relay::TImpairRelay line(0, static_cast<uint16_t>(B->GetLocalRtpPort()), impairment);
        A->SetRemoteRtpPort(line.ListenPort());
        // The relay forwards from the port it listens on: to B it is the far
        // end, as a provider's media relay would be, so B takes its packets
        // from the first one on.
        B->SetRemoteRtpPort(line.ListenPort());
        A->SetMediaActive(true);
        B->SetMediaActive(true);
        A->PlayWav(std::make_shared<media::TWavStream>(media_test::BytesOf(source)));
        const std::vector<int16_t> silence(kFrame, 0);
        const int frames = static_cast<int>(source.size()) / kFrame + tailMs / 20;
        auto due = std::chrono::steady_clock::now();
        for (int n = 0; n < frames; ++n) {
            A->SendAudioFrame(silence.data());
            due += std::chrono::milliseconds(20);
            std::this_thread::sleep_until(due);
        }
        B->SetMediaActive(false);
        B->SetSpeaker(nullptr);  // the file is complete once the speaker is gone
        return line.Summary();
    }
    std::vector<int16_t> Recorded() {
        media::TWavFile file(Recording.string());
        std::vector<int16_t> samples(static_cast<size_t>(file.GetSize() / 2));
        file.Read(samples.data(), static_cast<int>(samples.size() * 2));
        return samples;
    }

    std::shared_ptr<TRecordingSink> ASink = std::make_shared<TRecordingSink>();
    std::shared_ptr<TRecordingSink> BSink = std::make_shared<TRecordingSink>();
    media::TReceiveMode Mode = media::TReceiveMode::Adaptive;
    std::shared_ptr<media::TRtpMediaPath> BPath;
    std::filesystem::path Recording;
    TCallPtr A, B;
};

double Rms(const int16_t* pcm, int count) {
    double sum = 0;
    for (int n = 0; n < count; ++n)
        sum += static_cast<double>(pcm[n]) * pcm[n];
    return std::sqrt(sum / count);
}

// 20 ms windows of the recording, from the tone's first to its last loud
// window, that are more than 30 dB below the tone.
int Holes(const std::vector<int16_t>& heard) {
    const double floor = kToneAmplitude / std::sqrt(2.0) * std::pow(10, -30 / 20.0);
    std::vector<bool> loud;
    for (size_t at = 0; at + kFrame <= heard.size(); at += kFrame / 2)
        loud.push_back(Rms(heard.data() + at, kFrame) >= floor);
    const auto first = std::find(loud.begin(), loud.end(), true);
    const auto last = std::find(loud.rbegin(), loud.rend(), true).base();
    for (auto it = first; it < last; ++it)
        if (!*it)
            std::printf("hole at %.0f ms of %.0f (from the first loud at %.0f)\n", (it - loud.begin()) * 10.0,
                        loud.size() * 10.0, (first - loud.begin()) * 10.0);
    return first < last ? static_cast<int>(std::count(first, last, false)) : -1;
}

// The four-slot path without concealment, on the same line: the measure
// above does find its holes.
class ImpairedFixedPathTest : public ImpairedCallTest {
protected:
    ImpairedFixedPathTest() { Mode = media::TReceiveMode::FixedFourSlot; }
};

relay::TImpairment PoorLine() {
    relay::TImpairment impairment;
    impairment.lossPercent = 2;
    impairment.jitterMs = 30;
    impairment.seed = 3;
    return impairment;
}

}  // namespace

TEST_F(ImpairedCallTest, ToneHasNoHoleAndFiguresMatchTheRelay) {
    const auto tone = media_test::Sine(1000, 8000 * 10, kToneAmplitude);
    const relay::TRelaySummary line = Run(tone, PoorLine(), 400);
    const media::TCallQuality quality = B->GetQuality();
    const auto heard = Recorded();
    std::printf("relay: %s\nreceiver: %s\n", line.Text().c_str(), quality.Text().c_str());

    // The file speaker asks for each period's frame on its own clock, so a
    // frame that is not there in time is concealed for that period, never
    // left silent: not one 20 ms window of the tone is lost, start included.
    EXPECT_EQ(Holes(heard), 0);
    ASSERT_GT(line.lost, 0);
    const double networkLoss = 100.0 * quality.lost / static_cast<double>(quality.received + quality.lost);
    EXPECT_NEAR(networkLoss, line.LossPercent(), 0.5);
    EXPECT_NEAR(quality.jitterMs, line.jitterMs, 0.2 * line.jitterMs);
    EXPECT_LE(quality.late, quality.received / 100);
    EXPECT_GE(quality.concealed, line.lost);
    EXPECT_GE(quality.r, 80);
}

TEST_F(ImpairedCallTest, KeypadDigitsSurviveThePoorLine) {
    std::vector<int16_t> digits(8000 / 2, 0);
    for (char key : std::string("159#3")) {
        const auto pcm = media_test::SamplesOf(media::KeypadToneWav(media::KeypadToneItem(key)).substr(44));
        digits.insert(digits.end(), pcm.begin(), pcm.end());
        digits.insert(digits.end(), 8000 / 2, 0);
    }
    Run(digits, PoorLine(), 300);
    EXPECT_EQ(BSink->GetDigits(), "159#3");
}

// The same line without impairment: nothing lost, and the figures show a
// clean line.
TEST_F(ImpairedCallTest, CleanLineConcealsNothing) {
    const auto tone = media_test::Sine(1000, 8000 * 4, kToneAmplitude);
    Run(tone, relay::TImpairment{}, 0);
    const media::TCallQuality quality = B->GetQuality();
    // Nothing is lost on the way; what a busy machine's scheduling delays is
    // concealed in its period.
    EXPECT_EQ(Holes(Recorded()), 0);
    EXPECT_EQ(quality.lost, 0);
    EXPECT_LE(quality.late, quality.received / 100);
    EXPECT_LE(quality.jitterMs, 5);
    EXPECT_GE(quality.r, 90);
}

TEST_F(ImpairedFixedPathTest, FourSlotPathLeavesHoles) {
    const auto tone = media_test::Sine(1000, 8000 * 5, kToneAmplitude);
    const relay::TRelaySummary line = Run(tone, PoorLine(), 200);
    ASSERT_GT(line.lost, 0);
    EXPECT_GT(Holes(Recorded()), 0);
}

// Opus with in-band FEC on a line losing 5% of packets at random: the
// packets after most single losses carry the lost one, so fewer frames are
// concealed than with the same codec and the same losses without FEC.
TEST_F(ImpairedCallTest, OpusFecConcealsFewerFramesThanOpusWithout) {
    relay::TImpairment lossy;
    lossy.lossPercent = 5;
    lossy.seed = 11;
    // A voiced sound (a buzz with partials) swelling three times a second as
    // syllables do: SILK adds FEC to what its VAD takes for voice only, and
    // a steady buzz soon counts as background noise.
    std::vector<int16_t> voice(8000 * 8);
    for (std::size_t n = 0; n < voice.size(); ++n) {
        const double t = static_cast<double>(n) / 8000;
        const double swell = 0.6 + 0.4 * std::sin(2 * M_PI * 3 * t);
        voice[n] = static_cast<int16_t>(swell * (4000 * std::sin(2 * M_PI * 150 * t) + 2500 * std::sin(2 * M_PI * 600 * t) +
                                                 1200 * std::sin(2 * M_PI * 1350 * t)));
    }
    struct TOutcome {
        int64_t concealed;
        int64_t rebuilt;
        int64_t lost;
    };
    std::vector<TOutcome> outcomes;
    for (const bool fec : {false, true}) {
        TearDown();
        SetUp();
        const std::string farEnd = fec ? "useinbandfec=1" : "useinbandfec=0";
        A->SetCodec(media::CreateCodec(111, farEnd));
        B->SetCodec(media::CreateCodec(111, farEnd));
        ASSERT_TRUE(A->GetCodec());
        Run(voice, lossy, 400);
        const media::TCallQuality quality = B->GetQuality();
        std::printf("opus fec %d: %s rebuilt %lld\n", fec, quality.Text().c_str(),
                    static_cast<long long>(quality.rebuilt));
        outcomes.push_back({quality.concealed, quality.rebuilt, quality.lost});
    }
    EXPECT_GT(outcomes[0].lost, 10);  // the line did lose packets
    EXPECT_EQ(outcomes[0].rebuilt, 0);
    EXPECT_GT(outcomes[1].rebuilt, outcomes[1].lost / 2);
    EXPECT_LT(outcomes[1].concealed, outcomes[0].concealed);
}

// G.729 both ways across the same poor line: the tone comes out as the tone
// (the strongest of its neighbours, without a hole), the losses are
// concealed, and the figures rate it by G.729's own impairment.
TEST_F(ImpairedCallTest, G729CarriesTheToneAcrossThePoorLine) {
    A->SetCodec(media::CreateCodec(18, "annexb=no"));
    B->SetCodec(media::CreateCodec(18, "annexb=no"));
    if (!A->GetCodec()) GTEST_SKIP() << "no G.729 library";
    const auto tone = media_test::Sine(1000, 8000 * 6, kToneAmplitude);
    const relay::TRelaySummary line = Run(tone, PoorLine(), 400);
    const media::TCallQuality quality = B->GetQuality();
    const auto heard = Recorded();
    std::printf("relay: %s\ng729 receiver: %s\n", line.Text().c_str(), quality.Text().c_str());
    ASSERT_GT(line.lost, 0);
    EXPECT_EQ(Holes(heard), 0);
    EXPECT_EQ(media_test::StrongestOf(heard, {500, 1000, 1500, 2000}), 1000);
    EXPECT_EQ(quality.payloadType, 18);
    EXPECT_GE(quality.concealed, line.lost);
    // G.729's Ie of 11 keeps even a clean line below G.711's rating.
    EXPECT_GT(quality.r, 60);
    EXPECT_LT(quality.r, 85);
}
