#include "media/g711.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdlib>
#include <vector>

#include "media/codec_g711.h"

namespace media {
namespace {

// Mu-law written from the segment definition rather than a search over end
// points: the segment is the position of the biased magnitude's leading one.
uint8_t ReferenceUlaw(int sample) {
    int magnitude = std::abs(sample >> 2);
    const bool negative = (sample >> 2) < 0;
    magnitude = std::min(magnitude, 8159) + 33;
    const int leading = static_cast<int>(std::bit_width(static_cast<unsigned>(magnitude))) - 1;  // 5..13
    uint8_t code;
    if (leading - 5 >= 8) {
        code = negative ? 0x00 : 0x80;  // clipped beyond the last segment
    } else {
        const int segment = leading - 5;
        const int mantissa = (magnitude >> (segment + 1)) & 0x0F;
        code = static_cast<uint8_t>(~((negative ? 0x80 : 0) | segment << 4 | mantissa));
    }
    return code == 0 ? 0x02 : code;
}

// Direct G.711 A-law coding of a 13-bit magnitude, for comparison with the
// path through mu-law.
uint8_t ReferenceAlaw(int sample) {
    const bool negative = sample < 0;
    int magnitude = negative ? (-sample - 1) >> 3 : sample >> 3;  // 12-bit
    magnitude = std::min(magnitude, 4095);
    int segment = std::max(0, static_cast<int>(std::bit_width(static_cast<unsigned>(magnitude))) - 5);
    const int mantissa = segment == 0 ? (magnitude >> 1) & 0x0F : (magnitude >> segment) & 0x0F;
    const int code = (negative ? 0 : 0x80) | segment << 4 | mantissa;
    return static_cast<uint8_t>(code ^ 0x55);
}

int ReferenceAlawDecode(uint8_t code) {
    const int a = code ^ 0x55;
    const int segment = (a >> 4) & 7;
    int t = ((a & 0x0F) << 4) + 8;
    if (segment > 0) t = (t + 0x100) << (segment - 1);
    return (a & 0x80) ? t : -t;
}

// Position of an A-law code on the line from most negative to most positive.
int AlawRank(uint8_t code) {
    const int a = code ^ 0x55;
    return (a & 0x80) ? 128 + (a & 0x7F) : 127 - (a & 0x7F);
}

TEST(G711, KnownValues) {
    EXPECT_EQ(LinearToUlaw(0), 0xFF);
    EXPECT_EQ(LinearToUlaw(-32768), 0x02);
    EXPECT_EQ(LinearToUlaw(32767), 0x80);
    EXPECT_EQ(UlawToLinear(0xFF), 0);
    EXPECT_EQ(UlawToLinear(0x80), 32124);
    EXPECT_EQ(UlawToLinear(0x00), -32124);
    EXPECT_EQ(LinearToAlaw(0), 0xD5);
    EXPECT_EQ(LinearToAlaw(32767), 0xAA);
    EXPECT_EQ(LinearToAlaw(-32768), 0x2A);
}

TEST(G711, UlawAgreesWithReferenceForEverySample) {
    int mismatches = 0;
    for (int s = -32768; s <= 32767; ++s) {
        if (LinearToUlaw(static_cast<int16_t>(s)) != ReferenceUlaw(s)) ++mismatches;
        EXPECT_NE(LinearToUlaw(static_cast<int16_t>(s)), 0x00) << s;
    }
    EXPECT_EQ(mismatches, 0);
}

// The A-law path rounds to a mu-law level first and then takes the A-law
// code nearest that level, so it may land a step or two away from direct
// A-law coding, never further.
TEST(G711, AlawStaysNearDirectCoding) {
    std::array<int, 3> byDistance{};
    for (int s = -32768; s <= 32767; ++s) {
        const uint8_t ours = LinearToAlaw(static_cast<int16_t>(s));
        const int distance = std::abs(AlawRank(ours) - AlawRank(ReferenceAlaw(s)));
        ASSERT_LE(distance, 2) << s;
        ++byDistance[size_t(distance)];
    }
    EXPECT_GT(byDistance[0], 65536 * 3 / 4);
    EXPECT_LT(byDistance[2], 64);
}

// Except where the substituted code 0x02 stands in for 0x00 at the most
// negative end.
TEST(G711, DecodedValuesAreMonotonicInTheInput) {
    int lastU = -40000, lastA = -40000;
    for (int s = -32768; s <= 32767; ++s) {
        const int u = UlawToLinear(LinearToUlaw(static_cast<int16_t>(s)));
        const int a = AlawToLinear(LinearToAlaw(static_cast<int16_t>(s)));
        if (LinearToUlaw(static_cast<int16_t>(s)) != 0x02) {
            ASSERT_GE(u, lastU) << s;
            lastU = u;
        }
        ASSERT_GE(a, lastA) << s;
        lastA = a;
    }
}

TEST(G711, AlawDecodeIsCloseToDirectExpansion) {
    for (int c = 0; c < 256; ++c) {
        const int direct = ReferenceAlawDecode(static_cast<uint8_t>(c));
        const int ours = AlawToLinear(static_cast<uint8_t>(c));
        const int step = std::max(16, std::abs(direct) / 16);
        EXPECT_LE(std::abs(ours - direct), step) << c;
    }
}

TEST(G711, EveryUlawCodeComesBackExceptZeroAndMinusZero) {
    std::vector<int> different;
    for (int c = 0; c < 256; ++c) {
        if (LinearToUlaw(UlawToLinear(static_cast<uint8_t>(c))) != c) different.push_back(c);
    }
    // 0x7F is negative zero (decodes to 0, codes back as 0xFF); 0x00 is sent
    // as 0x02.
    EXPECT_EQ(different, (std::vector<int>{0x00, 0x7F}));
}

TEST(G711, EveryAlawCodeComesBackExceptTheMergedOnes) {
    std::vector<int> different;
    for (int c = 0; c < 256; ++c) {
        if (LinearToAlaw(AlawToLinear(static_cast<uint8_t>(c))) != c) different.push_back(c);
    }
    // The conversion tables merge these A-law codes with a neighbour into one
    // mu-law code, eight on each side of zero.
    for (int c : different) {
        const uint8_t back = LinearToAlaw(AlawToLinear(static_cast<uint8_t>(c)));
        EXPECT_EQ(std::abs(AlawRank(back) - AlawRank(static_cast<uint8_t>(c))), 1) << c;
    }
    EXPECT_EQ(different, (std::vector<int>{0x05, 0x48, 0x4A, 0x4C, 0x4E, 0x6B, 0x79, 0x7B, 0x85,
                                           0xC8, 0xCA, 0xCC, 0xCE, 0xEB, 0xF9, 0xFB}));
}

TEST(G711, CodecsHandleWholeFramesAndEmptyPayloads) {
    std::vector<int16_t> pcm(160);
    for (int i = 0; i < 160; ++i) pcm[static_cast<size_t>(i)] = static_cast<int16_t>(i * 200 - 16000);
    std::vector<uint8_t> payload(160);
    std::vector<int16_t> decoded(160, 1);
    TCodecPCMA alaw;
    EXPECT_EQ(alaw.GetPayloadType(), 8);
    EXPECT_EQ(alaw.GetFrameSize(), 160);
    EXPECT_EQ(alaw.Encode(pcm.data(), payload.data()), 160);
    EXPECT_EQ(alaw.Decode(payload.data(), decoded.data(), 160), 320);
    EXPECT_EQ(alaw.Decode(payload.data(), decoded.data(), 0), 0);
    EXPECT_EQ(alaw.Decode(payload.data(), decoded.data(), -5), 0);
    for (int i = 0; i < 160; ++i) EXPECT_NEAR(decoded[size_t(i)], pcm[size_t(i)], 600);

    TCodecPCMU ulaw;
    EXPECT_EQ(ulaw.GetPayloadType(), 0);
    EXPECT_EQ(ulaw.Encode(pcm.data(), payload.data()), 160);
    EXPECT_EQ(ulaw.Decode(payload.data(), decoded.data(), 160), 320);
    for (int i = 0; i < 160; ++i) EXPECT_NEAR(decoded[size_t(i)], pcm[size_t(i)], 600);
}

}  // namespace
}  // namespace media
