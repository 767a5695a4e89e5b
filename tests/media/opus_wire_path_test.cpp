// Opus on a call as the far end numbers and packs it: under the dynamic
// payload type the offer gave it (both ways), and in packets of up to 120 ms.
#include <gtest/gtest.h>
#include <opus/opus.h>

#include <array>
#include <memory>
#include <vector>

#include "media/codecs.h"
#include "media/rtp_session.h"
#include "tests/media/audio_test_util.h"
#include "tests/media/rtp_test_util.h"

using namespace rtp_test;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr int kWireType = 96;

class OpusWirePathTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!media::CodecRegistry().IsRegistered(111)) GTEST_SKIP() << "no Opus library";
        TCallSettings settings;
        settings.eventSink = Sink;
        settings.mediaPath = Path;
        auto tick = Tick;
        settings.clock.tick = [tick] { return tick->load(); };
        Call = TCall::Create(std::move(settings));
        Call->SetCodec(media::CreateCodec(111, "useinbandfec=1", kWireType));
        Call->SetLocalRtpPort(FreePort());
        Call->SetRemoteRtpHost("127.0.0.1");
        Call->SetRemoteRtpPort(Peer.Port());
        Call->SetSpeaker(Speaker);
        int error = 0;
        Encoder = opus_encoder_create(8000, 1, OPUS_APPLICATION_VOIP, &error);
        opus_encoder_ctl(Encoder, OPUS_SET_BITRATE(16000));
    }
    void TearDown() override {
        if (Call) Call->SetMediaActive(false);
        if (Encoder) opus_encoder_destroy(Encoder);
    }

    // One packet of `ms` of a 400 Hz tone at 48 kHz RTP time `time`.
    Bytes Packet(int payloadType, int sequenceNumber, uint32_t time, int ms) {
        const std::vector<int16_t> tone = media_test::Sine(400, ms * 8, 8000);
        std::array<uint8_t, 1500> payload{};
        const int length = opus_encode(Encoder, tone.data(), ms * 8, payload.data(), payload.size());
        EXPECT_GT(length, 0);
        Bytes d = {0x80, static_cast<uint8_t>(payloadType), static_cast<uint8_t>(sequenceNumber >> 8),
                   static_cast<uint8_t>(sequenceNumber), static_cast<uint8_t>(time >> 24),
                   static_cast<uint8_t>(time >> 16), static_cast<uint8_t>(time >> 8), static_cast<uint8_t>(time),
                   1, 2, 3, 4};
        d.insert(d.end(), payload.begin(), payload.begin() + std::max(length, 0));
        return d;
    }
    void Receive(const Bytes& d) { Path->ReceiveDatagram(*Call, d.data(), d.size()); }

    std::shared_ptr<std::atomic<uint32_t>> Tick = std::make_shared<std::atomic<uint32_t>>(100000);
    std::shared_ptr<TRecordingSink> Sink = std::make_shared<TRecordingSink>();
    std::shared_ptr<TRecordingSpeaker> Speaker = std::make_shared<TRecordingSpeaker>();
    std::shared_ptr<media::TRtpMediaPath> Path = std::make_shared<media::TRtpMediaPath>();
    TPeer Peer;
    TCallPtr Call;
    OpusEncoder* Encoder = nullptr;
};

// What we send carries the far end's number; what it sends under that
// number is heard, and Opus under our own number (which the far end never
// agreed to) is not.
TEST_F(OpusWirePathTest, TheFarEndsNumberIsUsedBothWays) {
    Call->SetMediaActive(true);
    std::array<int16_t, 160> frame{};
    for (int n = 0; n < 3; ++n) Call->SendAudioFrame(frame.data());
    const auto sent = Peer.WaitFor(2);
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[1][1] & 0x7F, kWireType);
    EXPECT_EQ(Call->GetCodec()->GetOwnPayloadType(), 111);

    Receive(Packet(111, 1, 0, 20));
    EXPECT_EQ(Speaker->Played.load(), 0);
    Receive(Packet(kWireType, 2, 960, 20));
    EXPECT_EQ(Speaker->Played.load(), 1);
}

// Every packet length a far end may choose is heard in full: the samples
// played over the stream add up to what was sent, and carry the tone.
TEST_F(OpusWirePathTest, PacketsOfEveryLengthUpTo120MsAreHeardWhole) {
    for (const int ms : {20, 60, 80, 120}) {
        SCOPED_TRACE(ms);
        Speaker->Played = 0;
        {
            std::lock_guard<std::mutex> guard(Speaker->Lock);
            Speaker->Samples.clear();
        }
        Path = std::make_shared<media::TRtpMediaPath>();
        TCallSettings settings;
        settings.mediaPath = Path;
        auto tick = Tick;
        settings.clock.tick = [tick] { return tick->load(); };
        Call = TCall::Create(std::move(settings));
        Call->SetCodec(media::CreateCodec(111, "", kWireType));
        Call->SetSpeaker(Speaker);
        constexpr int kStreamMs = 720;
        uint32_t time = 0;
        for (int sequence = 0; sequence * ms < kStreamMs; ++sequence) {
            Receive(Packet(kWireType, sequence, time, ms));
            time += static_cast<uint32_t>(ms * 48);
            // The clock runs on while the packet plays out.
            for (int step = 0; step < ms / 20; ++step) {
                *Tick += 20;
                Path->Service(*Call);
            }
        }
        for (int step = 0; step < 20; ++step) {
            *Tick += 20;
            Path->Service(*Call);
        }
        const std::vector<int16_t> heard = Speaker->GetSamples();
        ASSERT_GE(heard.size(), static_cast<std::size_t>(kStreamMs * 8));
        EXPECT_GT(media_test::TonePower(heard, 400), 1e5);
        EXPECT_EQ(Path->Quality().payloadType, 111);
    }
}

}  // namespace
