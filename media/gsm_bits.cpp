#include "media/gsm_bits.h"

#include <cstring>

namespace media {
namespace {

// Bit widths of the 76 parameters of one GSM 06.10 frame in standard order:
// eight reflection coefficients, then per sub-frame the lag, gain, grid
// position, block maximum and thirteen pulses.
constexpr std::array<int, 76> ParameterWidths() {
    std::array<int, 76> widths{};
    constexpr int kLar[8] = {6, 6, 5, 5, 4, 4, 3, 3};
    int n = 0;
    for (int w : kLar) widths[n++] = w;
    for (int sub = 0; sub < 4; ++sub) {
        widths[n++] = 7;
        widths[n++] = 2;
        widths[n++] = 2;
        widths[n++] = 6;
        for (int pulse = 0; pulse < 13; ++pulse) widths[n++] = 3;
    }
    return widths;
}

constexpr int kFrameBits = 260;
constexpr int kSignatureBits = 4;
constexpr int kRtpFrameBytes = 33;

// Bit j of one frame (LSB-first order of the block, so bit b of some
// parameter p) goes to the RTP stream at the parameter's start plus its
// reversed bit index; stream positions count from the most significant bit
// of byte 0, after the signature nibble.
constexpr std::array<uint16_t, kGsmBlockBits> BuildTable() {
    constexpr auto widths = ParameterWidths();
    std::array<uint16_t, kGsmBlockBits> table{};
    for (int frame = 0; frame < 2; ++frame) {
        int start = 0;
        int i = frame * kFrameBits;
        for (int width : widths) {
            for (int b = 0; b < width; ++b, ++i) {
                const int stream = kSignatureBits + start + (width - 1 - b);
                const int byte = stream / 8;
                const int lsbIndex = 7 - stream % 8;
                table[i] = static_cast<uint16_t>((frame * kRtpFrameBytes + byte) * 8 + lsbIndex);
            }
            start += width;
        }
    }
    return table;
}

constexpr auto kTable = BuildTable();
static_assert(kTable[0] == 14 && kTable[1] == 15 && kTable[2] == 0 && kTable[5] == 3 &&
              kTable[6] == 8 && kTable[9] == 11);

}  // namespace

const std::array<uint16_t, kGsmBlockBits>& GsmBlockToRtpBitTable() { return kTable; }

void GsmBlockToRtpFrames(const uint8_t* block, uint8_t* frames) {
    std::memset(frames, 0, 2 * kRtpFrameBytes);
    for (int i = 0; i < kGsmBlockBits; ++i) {
        const unsigned bit = (block[i >> 3] >> (i & 7)) & 1u;
        const unsigned to = kTable[i];
        frames[to >> 3] |= static_cast<uint8_t>(bit << (to & 7));
    }
    frames[0] |= 0xD0;
    frames[kRtpFrameBytes] |= 0xD0;
}

void GsmRtpFramesToBlock(const uint8_t* frames, uint8_t* block) {
    std::memset(block, 0, 65);
    for (int i = 0; i < kGsmBlockBits; ++i) {
        const unsigned from = kTable[i];
        const unsigned bit = (frames[from >> 3] >> (from & 7)) & 1u;
        block[i >> 3] |= static_cast<uint8_t>(bit << (i & 7));
    }
}

}  // namespace media
