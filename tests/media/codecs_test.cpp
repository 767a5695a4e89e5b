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
    std::array<int16_t, 160> pcm{};
    std::vector<uint8_t> garbage(200);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 37 + 11);
    EXPECT_EQ(decoder.Decode(garbage.data(), pcm.data(), 200), 320);
    EXPECT_EQ(decoder.Decode(garbage.data(), pcm.data(), 1), 320);
    EXPECT_EQ(decoder.Decode(nullptr, pcm.data(), 0), 320);
}

}  // namespace
}  // namespace media
