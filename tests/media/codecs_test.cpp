#include "media/codecs.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "audio_test_util.h"
#include "media/codec_g711.h"
#include "media/codec_speex.h"
#include "media/speex_library.h"

namespace media {
namespace {

TEST(CodecRegistry, RegisterReplacesAndUnknownTypesYieldNothing) {
    TCodecRegistry registry;
    EXPECT_EQ(registry.Create(0), nullptr);
    EXPECT_FALSE(registry.IsRegistered(0));
    registry.Register(0, [] { return std::make_shared<TCodecPCMU>(); });
    registry.Register(3, [] { return std::make_shared<TCodecPCMU>(); });
    registry.Register(0, [] { return std::make_shared<TCodecPCMA>(); });
    EXPECT_EQ(registry.PayloadTypes(), (std::vector<int>{0, 3}));
    ASSERT_NE(registry.Create(0), nullptr);
    EXPECT_EQ(registry.Create(0)->GetPayloadType(), 8);  // the replacement's codec
    EXPECT_NE(registry.Create(0), registry.Create(0));  // a fresh object each time
    EXPECT_EQ(registry.Create(99), nullptr);
}

TEST(CodecRegistry, BuiltinsInStartupOrderWithSpeexWhenItLoads) {
    TCodecRegistry registry;
    RegisterBuiltinCodecs(registry, kSpeexLibraryName);
    EXPECT_EQ(registry.PayloadTypes(), (std::vector<int>{8, 0, 3, 110, 18, 111}));
    for (int type : registry.PayloadTypes()) {
        IAudioCodecPtr codec = registry.Create(type);
        ASSERT_NE(codec, nullptr);
        EXPECT_EQ(codec->GetPayloadType(), type);
        EXPECT_EQ(codec->GetFrameSize() * 8000 / codec->GetClockRate(), 160);  // 20 ms
    }
    EXPECT_EQ(CodecRegistry().PayloadTypes(), (std::vector<int>{8, 0, 3, 110, 18, 111}));
}

TEST(CodecRegistry, SpeexNotOfferedWhenMissingOrIncomplete) {
    TCodecRegistry missing;
    RegisterBuiltinCodecs(missing, "libspeex-not-installed.so.1");
    EXPECT_EQ(missing.PayloadTypes(), (std::vector<int>{8, 0, 3, 18, 111}));
    EXPECT_EQ(missing.Create(110), nullptr);
    // A library that loads but has none of the entry points.
    TCodecRegistry incomplete;
    RegisterBuiltinCodecs(incomplete, "libgsm.so.1");
    EXPECT_EQ(incomplete.PayloadTypes(), (std::vector<int>{8, 0, 3, 18, 111}));
}

class CodecSpeexTest : public ::testing::Test {
protected:
    void SetUp() override {
        library_ = TSpeexLibrary::Load(kSpeexLibraryName);
        ASSERT_NE(library_, nullptr);
    }
    std::shared_ptr<const TSpeexLibrary> library_;
};

TEST_F(CodecSpeexTest, ToneKeepsItsFrequencyThroughEncodeAndDecode) {
    TCodecSpeex encoder(library_), decoder(library_);
    EXPECT_EQ(encoder.EncoderFrameSize(), 160);
    EXPECT_EQ(decoder.DecoderFrameSize(), 160);
    for (double freq : {440.0, 1000.0, 1800.0}) {
        const std::vector<int16_t> tone = media_test::Sine(freq, 160 * 25, 12000);
        std::vector<int16_t> decoded;
        std::array<uint8_t, TCodecSpeex::kMaxPayloadBytes> payload{};
        std::array<int16_t, 160> pcm{};
        for (size_t at = 0; at < tone.size(); at += 160) {
            const int bytes = encoder.Encode(tone.data() + at, payload.data());
            EXPECT_EQ(bytes, 62);
            ASSERT_EQ(decoder.Decode(payload.data(), pcm.data(), bytes), 320);
            decoded.insert(decoded.end(), pcm.begin(), pcm.end());
        }
        const std::vector<int16_t> tail(decoded.begin() + 1600, decoded.end());
        EXPECT_EQ(media_test::StrongestOf(tail, {300, 440, 700, 1000, 1400, 1800, 2500}), freq);
        EXPECT_GT(media_test::TonePower(tail, freq), 1e6);
    }
}

TEST_F(CodecSpeexTest, GarbageAndEmptyPayloadsDecodeToAFrame) {
    TCodecSpeex decoder(library_);
    std::array<int16_t, 160 * TCodecSpeex::kMaxFrames> pcm{};
    std::vector<uint8_t> garbage(200);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 37 + 11);
    // 200 bytes may read as several frames: whole frames, within the bound.
    const int bytes = decoder.Decode(garbage.data(), pcm.data(), 200);
    EXPECT_EQ(bytes % 320, 0);
    EXPECT_GE(bytes, 320);
    EXPECT_LE(bytes, 320 * TCodecSpeex::kMaxFrames);
    EXPECT_EQ(decoder.Decode(garbage.data(), pcm.data(), 1), 320);
    EXPECT_EQ(decoder.Decode(nullptr, pcm.data(), 0), 320);
}

// A 40 or 60 ms packet: the sender encodes its frames into one bit stream.
// Every frame slot of the packets must carry the sender's tone.
TEST_F(CodecSpeexTest, PacketOfSeveralFramesDecodesToAllOfThem) {
    const TSpeexApi& api = library_->Api();
    for (const int frames : {2, 3}) {
        SCOPED_TRACE(frames);
        constexpr int kPackets = 12;
        const std::vector<int16_t> tone = media_test::Sine(1000, 160 * frames * kPackets, 12000);
        void* encoder = api.encoder_init(api.lib_get_mode(SPEEX_MODEID_NB));
        SpeexBits bits{};
        api.bits_init(&bits);
        TCodecSpeex decoder(library_);
        std::array<int16_t, 160 * TCodecSpeex::kMaxFrames> pcm{};
        std::vector<std::vector<int16_t>> slots(static_cast<size_t>(frames));
        for (int packet = 0; packet < kPackets; ++packet) {
            api.bits_reset(&bits);
            for (int frame = 0; frame < frames; ++frame) {
                std::array<float, 160> input{};
                const auto from = tone.begin() + (packet * frames + frame) * 160;
                std::copy(from, from + 160, input.begin());
                api.encode(encoder, input.data(), &bits);
            }
            std::array<char, 600> payload{};
            const int bytes = api.bits_write(&bits, payload.data(), static_cast<int>(payload.size()));
            ASSERT_EQ(decoder.Decode(reinterpret_cast<const uint8_t*>(payload.data()), pcm.data(), bytes),
                      320 * frames);
            if (packet < kPackets / 2)
                continue;  // the decoder settles first
            for (int frame = 0; frame < frames; ++frame)
                slots[static_cast<size_t>(frame)].insert(slots[static_cast<size_t>(frame)].end(),
                                                         pcm.begin() + frame * 160, pcm.begin() + (frame + 1) * 160);
        }
        for (const auto& slot : slots) {
            EXPECT_EQ(media_test::StrongestOf(slot, {440, 1000, 1800}), 1000);
            EXPECT_GT(media_test::TonePower(slot, 1000), 1e6);
        }
        api.bits_destroy(&bits);
        api.encoder_destroy(encoder);
    }
}

}  // namespace
}  // namespace media
