// Two calls wired back to back over real loopback UDP sockets (no SIP), each
// with its RTP path, driven by a paced sender thread calling
// SendAudioFrame every 20 ms on a steady clock.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "media/codec_g711.h"
#include "media/codecs.h"
#include "media/rtp_session.h"
#include "media/telephone_event.h"
#include "media/wav.h"
#include "tests/media/audio_test_util.h"
#include "tests/media/rtp_test_util.h"

using namespace rtp_test;

namespace {

struct TSide {
    std::shared_ptr<TRecordingSink> sink = std::make_shared<TRecordingSink>();
    std::shared_ptr<TRecordingSpeaker> speaker = std::make_shared<TRecordingSpeaker>();
    std::shared_ptr<media::TRtpMediaPath> path = std::make_shared<media::TRtpMediaPath>();
    TCallPtr call;
};

class RtpLoopbackTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (TSide* side : {&A, &B}) {
            TCallSettings settings;
            settings.eventSink = side->sink;
            settings.mediaPath = side->path;
            side->call = TCall::Create(std::move(settings));
            side->call->SetCodec(media::CodecRegistry().Create(0));
            side->call->SetLocalRtpPort(FreePort());
            side->call->SetSpeaker(side->speaker);
            side->call->SetRemoteRtpHost("127.0.0.1");
        }
        A.call->SetRemoteRtpPort(B.call->GetLocalRtpPort());
        B.call->SetRemoteRtpPort(A.call->GetLocalRtpPort());
        A.call->SetMediaActive(true);
        B.call->SetMediaActive(true);
    }
    void TearDown() override {
        Stop();
        A.call->SetMediaActive(false);
        B.call->SetMediaActive(false);
    }
    // A steady-clock paced capture clock for both calls, with the times of
    // A's frames.
    void Start() {
        Running = true;
        Pacer = std::thread([this] {
            const std::vector<int16_t> silence(160, 0);
            auto due = std::chrono::steady_clock::now();
            while (Running) {
                {
                    std::lock_guard<std::mutex> guard(TimesLock);
                    SendTimes.push_back(std::chrono::steady_clock::now());
                }
                A.call->SendAudioFrame(silence.data());
                B.call->SendAudioFrame(silence.data());
                due += std::chrono::milliseconds(20);
                std::this_thread::sleep_until(due);
            }
        });
    }
    void Stop() {
        Running = false;
        if (Pacer.joinable())
            Pacer.join();
    }
    int FramesSent() {
        std::lock_guard<std::mutex> guard(TimesLock);
        return static_cast<int>(SendTimes.size());
    }
    void WaitFrames(int count) {
        while (FramesSent() < count)
            std::this_thread::sleep_for(5ms);
    }

    TSide A, B;
    std::atomic<bool> Running{false};
    std::thread Pacer;
    std::mutex TimesLock;
    std::vector<std::chrono::steady_clock::time_point> SendTimes;
};

// Mu-law coded and decoded, as the far side hears it.
std::vector<int16_t> ThroughMuLaw(const std::vector<int16_t>& pcm) {
    media::TCodecPCMU codec;
    std::vector<int16_t> out(pcm.size());
    for (size_t at = 0; at + 160 <= pcm.size(); at += 160) {
        uint8_t payload[160];
        codec.Encode(pcm.data() + at, payload);
        codec.Decode(payload, out.data() + at, 160);
    }
    return out;
}

}  // namespace

TEST_F(RtpLoopbackTest, WavAudioArrivesSampleAlignedAndPromptly) {
    // Two seconds of a sweep with a click: every frame differs.
    std::vector<int16_t> source(160 * 100);
    for (size_t n = 0; n < source.size(); ++n)
        source[n] = static_cast<int16_t>(9000 * std::sin(0.0001 * n * n / 16.0) + (n == 4000 ? 20000 : 0));
    A.call->PlayWav(std::make_shared<media::TWavStream>(media_test::BytesOf(source)));
    Start();
    WaitFrames(110);
    Stop();
    std::this_thread::sleep_for(50ms);

    const auto heard = B.speaker->GetSamples();
    const auto expected = ThroughMuLaw(source);
    // The WAV frame k (from 0) is read at A's run k and sent at once with
    // sequence number k, and B plays from the first packet on. A frame that
    // came too late on a busy machine is concealed and the schedule moves
    // back over it: B's speaker then holds an extra frame of concealment, so
    // the source's frames are matched in order, skipping those (and the
    // start of a frame after concealment, which is blended into it).
    const media::TCallQuality quality = B.path->Quality();  // before the speaker's lock is taken
    const int64_t concealed = quality.concealed;
    const double buffered = std::max(0.0, quality.bufferDelayMs - media::TAdaptiveJitterBuffer::kMarginMs);
    std::vector<size_t> playedIndexOfFrame;  // where WAV frame k was heard
    size_t at = 0;
    for (size_t frame = 0; frame < 99; ++frame) {
        const auto begin = expected.begin() + static_cast<long>(frame * 160);
        while (at + 160 <= heard.size() &&
               !std::equal(begin + 40, begin + 160, heard.begin() + static_cast<long>(at + 40)))
            at += 160;
        ASSERT_LE(at + 160, heard.size()) << "WAV frame " << frame << " never heard";
        playedIndexOfFrame.push_back(at / 160);
        at += 160;
    }
    EXPECT_LE(static_cast<int64_t>(playedIndexOfFrame.back() - 98), concealed);
    std::printf("concealed frames: %lld\n", static_cast<long long>(concealed));

    // Delay: frame k reaches B's speaker after A's run k took it, by the
    // loopback hop and B's buffer: sending no longer waits for the next run.
    std::lock_guard<std::mutex> guard(B.speaker->Lock);
    std::lock_guard<std::mutex> times(TimesLock);
    int measured = 0;
    double worst = 0, total = 0;
    for (size_t frame = 0; frame < 99; ++frame) {
        const size_t played = playedIndexOfFrame[frame];
        if (played >= B.speaker->Times.size())
            break;
        // Against the pacer's schedule, so a late wake-up of one run does
        // not count as transport delay.
        const auto captured = SendTimes[0] + std::chrono::milliseconds(20 * frame);
        const double delay = std::chrono::duration<double, std::milli>(B.speaker->Times[played] - captured).count();
        worst = std::max(worst, delay);
        total += delay;
        ++measured;
        EXPECT_GE(delay, 0.0) << "frame " << frame;
        EXPECT_LE(delay, 60.0 + 20.0 * concealed) << "frame " << frame;
    }
    EXPECT_GT(measured, 90);
    // A frame that comes more than the buffer's early allowance before its
    // time waits for it (when the first packet was slow, up to that
    // allowance more), and on a busy machine the buffer grows for the
    // scheduling jitter it measures: the delay it reports comes on top.
    EXPECT_LE(total / measured, 30.0 + media::TAdaptiveJitterBuffer::kEarlyMs + buffered);
    std::printf("capture-to-speaker delay: mean %.2f ms, worst %.2f ms over %d frames\n", total / measured, worst,
                measured);
}

TEST_F(RtpLoopbackTest, Rfc2833DigitsAreReportedOnTheOtherSide) {
    Start();
    A.call->QueueDtmf("19#*0");
    ASSERT_TRUE(B.sink->WaitDigits(5)) << "heard: " << B.sink->GetDigits();
    EXPECT_EQ(B.sink->GetDigits(), "19#*0");
    EXPECT_EQ(B.call->GetDtmfReceived(), "19#*0");
    EXPECT_EQ(A.sink->GetDigits(), "");
}

TEST_F(RtpLoopbackTest, InBandDigitsAreReportedOnTheOtherSide) {
    Start();
    const std::string keys = "147*2580369#";
    for (size_t n = 0; n < keys.size(); ++n) {
        ASSERT_TRUE(media::PlayKeypadTone(*A.call, keys[n]));
        ASSERT_TRUE(A.call->GetWavDoneEvent()->Wait(2s));
        ASSERT_TRUE(B.sink->WaitDigits(n + 1)) << keys[n];
        A.call->SetWavFile(nullptr);
        std::this_thread::sleep_for(300ms);  // beyond the 250 ms rule
    }
    EXPECT_EQ(B.sink->GetDigits(), keys);
    EXPECT_GE(A.sink->WavStops.load(), static_cast<int>(keys.size()));
}

TEST_F(RtpLoopbackTest, AudioFlowsBothWays) {
    const auto tone = media_test::Sine(1000, 160 * 50, 8000);
    A.call->PlayWav(std::make_shared<media::TWavStream>(media_test::BytesOf(tone)));
    B.call->PlayWav(std::make_shared<media::TWavStream>(media_test::BytesOf(tone)));
    Start();
    WaitFrames(40);
    Stop();
    std::this_thread::sleep_for(50ms);
    for (TSide* side : {&A, &B}) {
        const auto heard = side->speaker->GetSamples();
        ASSERT_GE(heard.size(), 160u * 30);
        const std::vector<int16_t> block(heard.begin() + 160 * 5, heard.begin() + 160 * 25);
        EXPECT_GT(media_test::TonePower(block, 1000), 1e5);
    }
}
