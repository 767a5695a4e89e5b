#include "media/codec_gsm.h"

#include <gsm.h>
#include <gtest/gtest.h>

#include <array>
#include <set>
#include <vector>

#include "audio_test_util.h"
#include "media/gsm_bits.h"
#include "media/keypad_tones.h"
#include "media/wav_format.h"

namespace media {
namespace {

using media_test::SamplesOf;

std::vector<int16_t> ToneSamples(int item) {
    const std::string& wav = KeypadToneWav(item);
    return SamplesOf(wav.substr(44));
}

TEST(GsmBits, TableIsAPermutationThatSkipsTheSignatures) {
    const auto& table = GsmBlockToRtpBitTable();
    std::set<int> targets(table.begin(), table.end());
    EXPECT_EQ(targets.size(), 520u);
    for (int frame = 0; frame < 2; ++frame) {
        for (int bit = 4; bit < 8; ++bit) EXPECT_EQ(targets.count(frame * 264 + bit), 0u);
    }
    EXPECT_EQ(*targets.rbegin(), 2 * 264 - 1);
    const std::array<int, 10> first = {14, 15, 0, 1, 2, 3, 8, 9, 10, 11};
    for (size_t i = 0; i < first.size(); ++i) EXPECT_EQ(table[i], first[i]);
}

// Bit i of the block to position table[i] of the frames, one bit at a time.
std::array<uint8_t, 66> ApplyTableBitByBit(const std::array<uint8_t, 65>& block) {
    std::array<uint8_t, 66> frames{};
    const auto& table = GsmBlockToRtpBitTable();
    for (int i = 0; i < 520; ++i) {
        if (block[size_t(i / 8)] >> (i % 8) & 1) frames[table[size_t(i)] / 8u] |= uint8_t(1u << (table[size_t(i)] % 8));
    }
    frames[0] |= 0xD0;
    frames[33] |= 0xD0;
    return frames;
}

// libgsm's WAV49 block of two frames, moved through the table, must equal
// libgsm's own RTP packing of the same two frames; the codec's fast move
// must agree with the table.
TEST(GsmBits, BlockMovedThroughTableEqualsPlainEncoding) {
    TGsmCoder wav49(TGsmCoder::TPacking::Wav49);
    TGsmCoder plain(TGsmCoder::TPacking::Rtp);
    for (int item = 1; item <= kKeypadToneCount; ++item) {
        const std::vector<int16_t> pcm = ToneSamples(item);
        for (size_t at = 0; at + 320 <= pcm.size(); at += 320) {
            std::array<uint8_t, 65> block{};
            std::array<uint8_t, 66> moved{}, expected{};
            wav49.EncodeBlock(pcm.data() + at, block.data());
            plain.EncodeFrame(pcm.data() + at, expected.data());
            plain.EncodeFrame(pcm.data() + at + 160, expected.data() + 33);
            ASSERT_EQ(ApplyTableBitByBit(block), expected) << "item " << item << " at " << at;
            GsmBlockToRtpFrames(block.data(), moved.data());
            ASSERT_EQ(moved, expected) << "item " << item << " at " << at;

            std::array<uint8_t, 65> back{};
            GsmRtpFramesToBlock(moved.data(), back.data());
            ASSERT_EQ(back, block);
        }
    }
}

TEST(CodecGsm, FirstFrameIsZerosAndSecondCarriesTheSignature) {
    TCodecGSM codec;
    EXPECT_EQ(codec.GetPayloadType(), 3);
    EXPECT_EQ(codec.GetFrameSize(), 160);
    const std::vector<int16_t> pcm = ToneSamples(5);
    std::array<uint8_t, 40> out{};
    out.fill(0xAA);
    EXPECT_EQ(codec.Encode(pcm.data(), out.data()), 33);
    EXPECT_TRUE(std::all_of(out.begin(), out.begin() + 33, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(out[33], 0xAA);  // nothing written past the frame
    EXPECT_EQ(codec.Encode(pcm.data() + 160, out.data()), 33);
    EXPECT_EQ(out[0] >> 4, 0xD);
    EXPECT_EQ(codec.Encode(pcm.data() + 320, out.data()), 33);
    EXPECT_EQ(out[0] >> 4, 0xD);  // second frame of the first pair
}

// Encoding and decoding keypad tones through two codec objects gives back the
// tone, one frame late: the encoder pairs frames, the decoder takes each
// frame as it comes.
TEST(CodecGsm, RoundTripPreservesTheSignal) {
    TCodecGSM sender, receiver;
    for (int item : {1, 6, 12}) {
        const std::vector<int16_t> pcm = ToneSamples(item);
        std::vector<int16_t> decoded;
        std::array<uint8_t, 33> frame{};
        std::array<int16_t, 160> out{};
        for (size_t at = 0; at + 160 <= 2400; at += 160) {
            ASSERT_EQ(sender.Encode(pcm.data() + at, frame.data()), 33);
            ASSERT_EQ(receiver.Decode(frame.data(), out.data(), 33), 320);
            decoded.insert(decoded.end(), out.begin(), out.end());
        }
        // One frame of delay: compare the middle of the tone.
        const std::vector<int16_t> reference(pcm.begin() + 480, pcm.begin() + 2080);
        const std::vector<int16_t> received(decoded.begin() + 640, decoded.begin() + 2240);
        EXPECT_GT(media_test::SnrDb(reference, received), 5.0) << "item " << item;
        const auto [low, high] = KeypadToneFrequencies(item);
        EXPECT_GT(media_test::TonePower(received, low), 100 * media_test::TonePower(received, 1000));
        EXPECT_GT(media_test::TonePower(received, high), 100 * media_test::TonePower(received, 1000));
    }
}

TEST(CodecGsm, ShortAndEmptyPayloadsNeverReadPastTheirLength) {
    TCodecGSM codec;
    std::array<int16_t, 160> out{};
    std::vector<uint8_t> shortPayload(5, 0xD3);  // heap: a read past it would be caught
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(codec.Decode(shortPayload.data(), out.data(), 5), 320);
        EXPECT_EQ(codec.Decode(nullptr, out.data(), 0), 320);
    }
    std::vector<uint8_t> longPayload(100, 0xD5);
    EXPECT_EQ(codec.Decode(longPayload.data(), out.data(), 100), 320);
}

}  // namespace
}  // namespace media
