#include "media/codec_g729.h"

#include <gtest/gtest.h>

// The library's headers declare C functions without saying so.
extern "C" {
#include <bcg729/decoder.h>
#include <bcg729/encoder.h>
}

#include <vector>

#include "audio_test_util.h"
#include "media/codecs.h"

namespace media {
namespace {

using namespace media_test;

std::vector<int16_t> Speechlike(int samples) {
    std::vector<int16_t> pcm = Sine(440, samples, 6000);
    const std::vector<int16_t> second = Sine(1170, samples, 3000);
    for (int n = 0; n < samples; ++n) pcm[n] = static_cast<int16_t>(pcm[n] + second[n]);
    return pcm;
}

class CodecG729Test : public ::testing::Test {
protected:
    void SetUp() override {
        library_ = TG729Library::Load(kG729LibraryName);
        ASSERT_NE(library_, nullptr);
    }
    std::shared_ptr<const TG729Library> library_;
};

// The codec is the library and nothing else: the same frames as a bare
// encoder and decoder fed the same audio, byte for byte.
TEST_F(CodecG729Test, RoundTripIsBitExactWithTheLibrary) {
    TCodecG729 codec(library_);
    auto* encoder = initBcg729EncoderChannel(0);
    auto* decoder = initBcg729DecoderChannel();
    const std::vector<int16_t> input = Speechlike(160 * 25);
    for (int frame = 0; frame < 25; ++frame) {
        const int16_t* pcm = input.data() + frame * 160;
        uint8_t ours[160] = {};
        ASSERT_EQ(codec.Encode(pcm, ours), 20);
        uint8_t bare[20] = {};
        uint8_t length = 0;
        bcg729Encoder(encoder, pcm, bare, &length);
        ASSERT_EQ(length, 10);
        bcg729Encoder(encoder, pcm + 80, bare + 10, &length);
        ASSERT_EQ(std::vector<uint8_t>(ours, ours + 20), std::vector<uint8_t>(bare, bare + 20)) << frame;

        int16_t decoded[480] = {};
        ASSERT_EQ(codec.Decode(ours, decoded, 20), 320);
        int16_t reference[160] = {};
        bcg729Decoder(decoder, bare, 10, 0, 0, 0, reference);
        bcg729Decoder(decoder, bare + 10, 10, 0, 0, 0, reference + 80);
        ASSERT_EQ(std::vector<int16_t>(decoded, decoded + 160), std::vector<int16_t>(reference, reference + 160)) << frame;
    }
    closeBcg729EncoderChannel(encoder);
    closeBcg729DecoderChannel(decoder);
}

// Any packet length a far end's ptime gives, up to 60 ms; a longer packet
// is cut there (the receive buffers hold 60 ms), a trailing SID adds 10 ms
// and an odd byte is no frame.
TEST_F(CodecG729Test, DecodedLengthFollowsThePacket) {
    struct TCase {
        int payloadBytes;
        int pcmBytes;
    };
    const TCase cases[] = {{10, 160}, {20, 320}, {30, 480}, {40, 640}, {50, 800}, {60, 960},
                           {70, 960}, {12, 320}, {22, 480}, {2, 160}, {21, 320}, {0, 0}};
    for (const TCase& c : cases) {
        TCodecG729 codec(library_);
        std::vector<uint8_t> payload(static_cast<std::size_t>(c.payloadBytes) + 1, 0x5A);
        std::vector<int16_t> pcm(4096);
        EXPECT_EQ(codec.Decode(payload.data(), pcm.data(), c.payloadBytes), c.pcmBytes) << c.payloadBytes;
    }
}

// Annex B: the encoder goes quiet on silence only when the far end allows
// it, and a received SID is comfort noise with a level, never speech.
TEST_F(CodecG729Test, AnnexBFollowsTheFarEndAndSidIsComfortNoise) {
    const std::vector<int16_t> silence(160 * 60, 0);
    struct TCase {
        const char* farEnd;
        bool vad;
    };
    for (const TCase c : {TCase{"annexb=no", false}, TCase{"annexb=yes", true}, TCase{"", true},
                          TCase{"annexb=NO", false}}) {
        TCodecG729 codec(library_);
        codec.SetFormatParameters(c.farEnd);
        EXPECT_EQ(codec.VoiceActivityDetection(), c.vad) << c.farEnd;
        EXPECT_EQ(codec.GetFormatParameters(), c.vad ? "annexb=yes" : "annexb=no");
        int shortest = 20;
        int sids = 0;
        for (int frame = 0; frame < 60; ++frame) {
            uint8_t payload[160] = {};
            const int length = codec.Encode(silence.data() + frame * 160, payload);
            shortest = std::min(shortest, length);
            if (length == 2) {
                ++sids;
                int16_t pcm[480] = {};
                EXPECT_EQ(codec.Decode(payload, pcm, length), 160);
                EXPECT_GE(codec.ComfortNoiseLevel(payload, length), 0);
            }
        }
        if (c.vad) {
            EXPECT_EQ(shortest, 0) << c.farEnd;  // silence left out
            EXPECT_GE(sids, 1) << c.farEnd;
        } else {
            EXPECT_EQ(shortest, 20) << c.farEnd;
        }
    }
    TCodecG729 codec(library_);
    const uint8_t speech[20] = {};
    int16_t pcm[480] = {};
    codec.Decode(speech, pcm, 20);
    EXPECT_EQ(codec.ComfortNoiseLevel(speech, 20), -1);
}

TEST(CodecG729Registry, OfferedOnlyWhenTheLibraryLoads) {
    TCodecRegistry present;
    RegisterBuiltinCodecs(present, "libspeex-missing.so", kG729LibraryName, "libopus-missing.so");
    EXPECT_TRUE(present.IsRegistered(18));
    EXPECT_FALSE(present.IsRegistered(111));
    TCodecRegistry missing;
    RegisterBuiltinCodecs(missing, "libspeex-missing.so", "libbcg729-missing.so.0", "libgsm.so.1");
    EXPECT_EQ(missing.PayloadTypes(), (std::vector<int>{8, 0, 3}));
}

}  // namespace
}  // namespace media
