#include "media/g711.h"

#include <array>
#include <memory>

namespace media {
namespace {

// Mu-law to A-law and back, as published with G.711 (entries are 1-based
// codes of the positive half; the sign is handled by the callers). Widely
// copied versions of these tables carry a misprint in one entry each (81 for
// 80 in the first, 79 for 80 in the second) that leaves one A-law code
// unreachable and skips a step; the entries here follow G.711.
constexpr std::array<uint8_t, 128> kUlawToAlaw = {
    1,   1,   2,   2,   3,   3,   4,   4,   5,   5,   6,   6,   7,   7,   8,   8,
    9,   10,  11,  12,  13,  14,  15,  16,  17,  18,  19,  20,  21,  22,  23,  24,
    25,  27,  29,  31,  33,  34,  35,  36,  37,  38,  39,  40,  41,  42,  43,  44,
    46,  48,  49,  50,  51,  52,  53,  54,  55,  56,  57,  58,  59,  60,  61,  62,
    64,  65,  66,  67,  68,  69,  70,  71,  72,  73,  74,  75,  76,  77,  78,  79,
    80,  82,  83,  84,  85,  86,  87,  88,  89,  90,  91,  92,  93,  94,  95,  96,
    97,  98,  99,  100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112,
    113, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126, 127, 128};

constexpr std::array<uint8_t, 128> kAlawToUlaw = {
    1,   3,   5,   7,   9,   11,  13,  15,  16,  17,  18,  19,  20,  21,  22,  23,
    24,  25,  26,  27,  28,  29,  30,  31,  32,  32,  33,  33,  34,  34,  35,  35,
    36,  37,  38,  39,  40,  41,  42,  43,  44,  45,  46,  47,  48,  48,  49,  49,
    50,  51,  52,  53,  54,  55,  56,  57,  58,  59,  60,  61,  62,  63,  64,  64,
    65,  66,  67,  68,  69,  70,  71,  72,  73,  74,  75,  76,  77,  78,  79,  80,
    80,  81,  82,  83,  84,  85,  86,  87,  88,  89,  90,  91,  92,  93,  94,  95,
    96,  97,  98,  99,  100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111,
    112, 113, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126, 127};

constexpr std::array<int, 8> kUlawSegmentEnds = {0x3F,  0x7F,  0xFF,  0x1FF,
                                                 0x3FF, 0x7FF, 0xFFF, 0x1FFF};

uint8_t ComputeUlaw(int sample) {
    int value = sample >> 2;  // 14-bit
    int mask = 0xFF;
    if (value < 0) {
        value = -value;
        mask = 0x7F;
    }
    if (value > 8159) value = 8159;
    value += 33;
    int segment = 0;
    while (segment < 8 && value > kUlawSegmentEnds[segment]) ++segment;
    uint8_t code = segment >= 8
                       ? static_cast<uint8_t>(0x7F ^ mask)
                       : static_cast<uint8_t>(((segment << 4) | ((value >> (segment + 1)) & 0x0F)) ^ mask);
    return code == 0x00 ? 0x02 : code;
}

int ComputeUlawLinear(uint8_t code) {
    const int u = static_cast<uint8_t>(~code);
    int t = ((u & 0x0F) << 3) + 0x84;
    t <<= (u & 0x70) >> 4;
    return (u & 0x80) ? (0x84 - t) : (t - 0x84);
}

// Highest set bit of bits 7..14 of the biased magnitude, as the classic
// 16-bit mu-law coder looks it up.
int Exponent(int biased) {
    int e = 7;
    for (int mask = 0x4000; e > 0 && !(biased & mask); mask >>= 1) --e;
    return e;
}

uint8_t ComputeUlaw16(int sample) {
    const int sign = (sample >> 8) & 0x80;
    if (sign) sample = -sample;
    if (sample > 32635) sample = 32635;
    sample += 0x84;
    const int exponent = Exponent(sample);
    const int mantissa = (sample >> (exponent + 3)) & 0x0F;
    return static_cast<uint8_t>(~(sign | (exponent << 4) | mantissa));
}

struct TTables {
    std::array<uint8_t, 65536> ulawEncode;
    std::array<uint8_t, 65536> alawEncode;
    std::array<int16_t, 256> ulawDecode;
    std::array<int16_t, 256> alawDecode;

    TTables() {
        for (int s = -32768; s <= 32767; ++s) {
            const auto index = static_cast<uint16_t>(s);
            ulawEncode[index] = ComputeUlaw(s);
            alawEncode[index] = UlawToAlaw(ComputeUlaw16(s));
        }
        for (int c = 0; c < 256; ++c) {
            ulawDecode[c] = static_cast<int16_t>(ComputeUlawLinear(static_cast<uint8_t>(c)));
        }
        for (int c = 0; c < 256; ++c) {
            alawDecode[c] = ulawDecode[AlawToUlaw(static_cast<uint8_t>(c))];
        }
    }
};

const TTables& Tables() {
    static const auto tables = std::make_unique<const TTables>();
    return *tables;
}

}  // namespace

uint8_t UlawToAlaw(uint8_t ulaw) {
    return (ulaw & 0x80) ? static_cast<uint8_t>(0xD5 ^ (kUlawToAlaw[0xFF ^ ulaw] - 1))
                         : static_cast<uint8_t>(0x55 ^ (kUlawToAlaw[0x7F ^ ulaw] - 1));
}

uint8_t AlawToUlaw(uint8_t alaw) {
    return (alaw & 0x80) ? static_cast<uint8_t>(0xFF ^ kAlawToUlaw[alaw ^ 0xD5])
                         : static_cast<uint8_t>(0x7F ^ kAlawToUlaw[alaw ^ 0x55]);
}

uint8_t LinearToUlaw(int16_t sample) { return Tables().ulawEncode[static_cast<uint16_t>(sample)]; }
int16_t UlawToLinear(uint8_t code) { return Tables().ulawDecode[code]; }
uint8_t LinearToAlaw(int16_t sample) { return Tables().alawEncode[static_cast<uint16_t>(sample)]; }
int16_t AlawToLinear(uint8_t code) { return Tables().alawDecode[code]; }

void EncodeUlaw(const int16_t* pcm, uint8_t* out, int count) {
    const auto& table = Tables().ulawEncode;
    for (int i = 0; i < count; ++i) out[i] = table[static_cast<uint16_t>(pcm[i])];
}

void DecodeUlaw(const uint8_t* in, int16_t* pcm, int count) {
    const auto& table = Tables().ulawDecode;
    for (int i = 0; i < count; ++i) pcm[i] = table[in[i]];
}

void EncodeAlaw(const int16_t* pcm, uint8_t* out, int count) {
    const auto& table = Tables().alawEncode;
    for (int i = 0; i < count; ++i) out[i] = table[static_cast<uint16_t>(pcm[i])];
}

void DecodeAlaw(const uint8_t* in, int16_t* pcm, int count) {
    const auto& table = Tables().alawDecode;
    for (int i = 0; i < count; ++i) pcm[i] = table[in[i]];
}

}  // namespace media
