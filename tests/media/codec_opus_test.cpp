#include "media/codec_opus.h"

#include <gtest/gtest.h>

#include <opus/opus.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "audio_test_util.h"
#include "media/codecs.h"

namespace media {
namespace {

using namespace media_test;

std::vector<int16_t> Voicelike(int samples) {
    std::vector<int16_t> pcm(static_cast<std::size_t>(samples));
    for (int n = 0; n < samples; ++n) {
        // A 150 Hz buzz with formant-like partials, its loudness swelling.
        const double t = n / 8000.0;
        const double envelope = 0.6 + 0.4 * std::sin(2 * M_PI * 3 * t);
        pcm[n] = static_cast<int16_t>(envelope * (5000 * std::sin(2 * M_PI * 150 * t) +
                                                  3000 * std::sin(2 * M_PI * 600 * t) +
                                                  1500 * std::sin(2 * M_PI * 1350 * t)));
    }
    return pcm;
}

class CodecOpusTest : public ::testing::Test {
protected:
    void SetUp() override {
        library_ = TOpusLibrary::Load(kOpusLibraryName);
        ASSERT_NE(library_, nullptr);
    }
    std::shared_ptr<const TOpusLibrary> library_;
};

// The codec is libopus set up as it says: the same packets and the same
// decoded audio as a bare encoder and decoder with those settings.
TEST_F(CodecOpusTest, RoundTripIsBitExactWithTheLibrary) {
    TCodecOpus codec(library_);
    codec.SetFormatParameters("useinbandfec=1; maxaveragebitrate=12000");
    int error = 0;
    OpusEncoder* encoder = opus_encoder_create(8000, 1, OPUS_APPLICATION_VOIP, &error);
    OpusDecoder* decoder = opus_decoder_create(8000, 1, &error);
    opus_encoder_ctl(encoder, OPUS_SET_SIGNAL(OPUS_SIGNAL_VOICE));
    opus_encoder_ctl(encoder, OPUS_SET_MAX_BANDWIDTH(OPUS_BANDWIDTH_NARROWBAND));
    opus_encoder_ctl(encoder, OPUS_SET_BITRATE(12000));
    opus_encoder_ctl(encoder, OPUS_SET_INBAND_FEC(1));
    opus_encoder_ctl(encoder, OPUS_SET_DTX(0));
    opus_encoder_ctl(encoder, OPUS_SET_PACKET_LOSS_PERC(TCodecOpus::kInitialLossPercent));
    const std::vector<int16_t> input = Voicelike(160 * 50);
    for (int frame = 0; frame < 50; ++frame) {
        const int16_t* pcm = input.data() + frame * 160;
        uint8_t ours[160] = {};
        const int length = codec.Encode(pcm, ours);
        uint8_t bare[160] = {};
        const int bareLength = opus_encode(encoder, pcm, 160, bare, 160);
        ASSERT_GT(length, 2);
        ASSERT_EQ(std::vector<uint8_t>(ours, ours + length), std::vector<uint8_t>(bare, bare + bareLength)) << frame;
        int16_t decoded[480] = {};
        int16_t reference[480] = {};
        ASSERT_EQ(codec.Decode(ours, decoded, length), 320);
        ASSERT_EQ(opus_decode(decoder, bare, bareLength, reference, 480, 0), 160);
        ASSERT_EQ(std::vector<int16_t>(decoded, decoded + 160), std::vector<int16_t>(reference, reference + 160));
    }
    EXPECT_EQ(codec.GetFrameSize(), 960);  // RTP time runs at 48 kHz
    EXPECT_EQ(codec.GetClockRate(), 48000);
    opus_encoder_destroy(encoder);
    opus_decoder_destroy(decoder);
}

// What the far end's parameters make of our encoder.
TEST_F(CodecOpusTest, FarEndParametersSetFecDtxAndBitrate) {
    struct TCase {
        const char* farEnd;
        bool fec;
        bool dtx;
        int bitrate;
    };
    const TCase cases[] = {
        {"", false, false, 16000},
        {"useinbandfec=1", true, false, 20000},     // room for the FEC
        {"useinbandfec=0; usedtx=1", false, true, 16000},
        {"maxaveragebitrate=8000", false, false, 8000},
        {"maxaveragebitrate=2000", false, false, 6000},     // below what RFC 7587 allows
        {"maxaveragebitrate=64000", false, false, 16000},   // more than we need
        {"maxaveragebitrate=lots", false, false, 16000},
        {"USEINBANDFEC = 1 ;maxaveragebitrate= 10000", true, false, 10000},
    };
    for (const TCase& c : cases) {
        TCodecOpus codec(library_);
        codec.SetFormatParameters(c.farEnd);
        EXPECT_EQ(codec.Fec(), c.fec) << c.farEnd;
        EXPECT_EQ(codec.Dtx(), c.dtx) << c.farEnd;
        EXPECT_EQ(codec.Bitrate(), c.bitrate) << c.farEnd;
    }
}

// A lost packet comes back from the next one's FEC, close to what was lost;
// without FEC in the stream there is nothing to rebuild from.
TEST_F(CodecOpusTest, LostPacketRebuiltFromTheNextOnesFec) {
    const std::vector<int16_t> input = Voicelike(160 * 40);
    for (const bool fec : {true, false}) {
        TCodecOpus sender(library_);
        sender.SetFormatParameters(fec ? "useinbandfec=1" : "useinbandfec=0");
        sender.SetFarEndLoss(20);
        TCodecOpus receiver(library_);
        std::vector<std::vector<uint8_t>> packets;
        for (int frame = 0; frame < 40; ++frame) {
            uint8_t payload[160] = {};
            const int length = sender.Encode(input.data() + frame * 160, payload);
            packets.emplace_back(payload, payload + length);
        }
        constexpr int kLost = 22;  // in a voiced stretch: SILK adds FEC for voice only
        std::vector<int16_t> heard;
        int16_t pcm[480] = {};
        for (int frame = 0; frame < 40; ++frame) {
            if (frame == kLost) continue;
            const auto& packet = packets[static_cast<std::size_t>(frame)];
            if (frame == kLost + 1) {
                const int rebuilt = receiver.DecodeLost(packet.data(), static_cast<int>(packet.size()), pcm);
                EXPECT_EQ(receiver.CarriesFec(packet.data(), static_cast<int>(packet.size())), fec);
                EXPECT_EQ(rebuilt, fec ? 320 : 0);
                if (rebuilt > 0) heard.insert(heard.end(), pcm, pcm + 160);
            }
            ASSERT_EQ(receiver.Decode(packet.data(), pcm, static_cast<int>(packet.size())), 320);
            heard.insert(heard.end(), pcm, pcm + 160);
        }
        if (fec) {
            // The rebuilt frame carries the lost frame's sound: most of the
            // energy of the original, not silence.
            const std::vector<int16_t> lost(input.begin() + kLost * 160, input.begin() + (kLost + 1) * 160);
            const std::vector<int16_t> rebuilt(heard.begin() + kLost * 160, heard.begin() + (kLost + 1) * 160);
            EXPECT_GT(TonePower(rebuilt, 150), 0.2 * TonePower(lost, 150));
        }
    }
}

TEST_F(CodecOpusTest, DtxLeavesSilenceOutOnlyWhenAllowed) {
    const std::vector<int16_t> silence(160 * 50, 0);
    for (const bool dtx : {true, false}) {
        TCodecOpus codec(library_);
        codec.SetFormatParameters(dtx ? "usedtx=1" : "");
        int empty = 0;
        for (int frame = 0; frame < 50; ++frame) {
            uint8_t payload[160] = {};
            if (codec.Encode(silence.data() + frame * 160, payload) == 0) ++empty;
        }
        if (dtx) EXPECT_GT(empty, 25);
        else EXPECT_EQ(empty, 0);
    }
}

// Opus packets run up to 120 ms (RFC 6716): a far end that packs 80, 100 or
// 120 ms is heard whole, the same audio a bare decoder makes of it, and a
// packet that claims more than 120 ms is refused rather than half decoded.
TEST_F(CodecOpusTest, PacketsUpTo120MsDecodeWholeAndLongerOnesAreRefused) {
    for (const int ms : {20, 60, 80, 100, 120}) {
        SCOPED_TRACE(ms);
        const int samples = ms * 8;
        int error = 0;
        OpusEncoder* encoder = opus_encoder_create(8000, 1, OPUS_APPLICATION_VOIP, &error);
        OpusDecoder* bare = opus_decoder_create(8000, 1, &error);
        opus_encoder_ctl(encoder, OPUS_SET_BITRATE(16000));
        opus_encoder_ctl(encoder, OPUS_SET_INBAND_FEC(1));
        opus_encoder_ctl(encoder, OPUS_SET_PACKET_LOSS_PERC(10));
        TCodecOpus codec(library_);
        const std::vector<int16_t> input = Voicelike(samples * 3);
        for (int packet = 0; packet < 3; ++packet) {
            uint8_t payload[1500] = {};
            const int length = opus_encode(encoder, input.data() + packet * samples, samples, payload, sizeof payload);
            ASSERT_GT(length, 0);
            std::vector<int16_t> ours(1000, 0x5555);
            std::vector<int16_t> reference(960, 0);
            ASSERT_EQ(opus_decode(bare, payload, length, reference.data(), 960, 0), samples);
            ASSERT_EQ(codec.Decode(payload, ours.data(), length), samples * 2);
            EXPECT_TRUE(std::equal(reference.begin(), reference.begin() + samples, ours.begin()));
            EXPECT_EQ(ours[960], 0x5555);  // nothing written past 120 ms
            // A loss before a packet longer than 60 ms is concealed, not
            // rebuilt into more than the caller has room for.
            if (ms > 60) {
                EXPECT_EQ(codec.DecodeLost(payload, length, ours.data()), 0);
            }
        }
        opus_encoder_destroy(encoder);
        opus_decoder_destroy(bare);
    }
    TCodecOpus codec(library_);
    std::vector<int16_t> pcm(1000, 0);
    // Code 3 packets of 2.5 ms CELT frames: 48 of them are 120 ms (empty
    // frames, heard as quiet), 49 would be 122.5 ms.
    const uint8_t longest[] = {0x83, 48};
    const uint8_t tooLong[] = {0x83, 49};
    EXPECT_EQ(codec.Decode(longest, pcm.data(), 2), 1920);
    EXPECT_EQ(codec.Decode(tooLong, pcm.data(), 2), 0);
}

}  // namespace
}  // namespace media
