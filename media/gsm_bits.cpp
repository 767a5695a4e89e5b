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

// The table read as runs: source bits i..i+n-1 (one parameter, least
// significant first) landing on consecutive RTP stream positions, most
// significant first. Moving a run at a time costs a fraction of moving 520
// single bits.
struct TRun {
    uint16_t from;    // first bit in the block, LSB-first numbering
    uint16_t to;      // first bit in the RTP frames, MSB-first numbering
    uint8_t length;
};

constexpr int MsbFirst(int lsbPosition) { return (lsbPosition / 8) * 8 + 7 - lsbPosition % 8; }

constexpr int kRuns = 2 * 76;

constexpr std::array<TRun, kRuns> BuildRuns() {
    std::array<TRun, kRuns> runs{};
    int count = 0;
    for (int i = 0; i < kGsmBlockBits;) {
        int n = 1;
        while (i + n < kGsmBlockBits && MsbFirst(kTable[i + n]) == MsbFirst(kTable[i]) - n) ++n;
        runs[count++] = {static_cast<uint16_t>(i), static_cast<uint16_t>(MsbFirst(kTable[i]) - (n - 1)),
                         static_cast<uint8_t>(n)};
        i += n;
    }
    if (count != kRuns) throw "the table does not split into one run per parameter";
    return runs;
}

constexpr auto kRunTable = BuildRuns();

// Buffers with a spare byte so that 16-bit accesses at the last byte stay
// inside them.
constexpr int kBlockPadded = 66;
constexpr int kFramesPadded = 67;

}  // namespace

const std::array<uint16_t, kGsmBlockBits>& GsmBlockToRtpBitTable() { return kTable; }

void GsmBlockToRtpFrames(const uint8_t* block, uint8_t* frames) {
    uint8_t in[kBlockPadded] = {};
    uint8_t out[kFramesPadded] = {};
    std::memcpy(in, block, 65);
    for (const TRun& run : kRunTable) {
        const int at = run.from >> 3;
        const unsigned word = in[at] | unsigned{in[at + 1]} << 8;
        const unsigned value = (word >> (run.from & 7)) & ((1u << run.length) - 1);
        const int to = run.to >> 3;
        const unsigned placed = value << (16 - (run.to & 7) - run.length);
        out[to] |= static_cast<uint8_t>(placed >> 8);
        out[to + 1] |= static_cast<uint8_t>(placed);
    }
    out[0] |= 0xD0;
    out[kRtpFrameBytes] |= 0xD0;
    std::memcpy(frames, out, 2 * kRtpFrameBytes);
}

void GsmRtpFramesToBlock(const uint8_t* frames, uint8_t* block) {
    uint8_t in[kFramesPadded] = {};
    uint8_t out[kBlockPadded] = {};
    std::memcpy(in, frames, 2 * kRtpFrameBytes);
    for (const TRun& run : kRunTable) {
        const int at = run.to >> 3;
        const unsigned word = unsigned{in[at]} << 8 | in[at + 1];
        const unsigned value = (word >> (16 - (run.to & 7) - run.length)) & ((1u << run.length) - 1);
        const int to = run.from >> 3;
        const unsigned placed = value << (run.from & 7);
        out[to] |= static_cast<uint8_t>(placed);
        out[to + 1] |= static_cast<uint8_t>(placed >> 8);
    }
    std::memcpy(block, out, 65);
}

}  // namespace media
