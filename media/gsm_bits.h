// Moves the 520 parameter bits of a 65-byte GSM WAV block into two 33-byte
// RTP frames and back.
//
// The block packs two frames bit by bit, least significant bit first, each
// frame's 76 parameters in standard order and each parameter least
// significant bit first, the second frame starting at bit 260. An RTP frame
// holds the signature nibble 0xD in the high half of its first byte and then
// the 260 bits of one frame, each parameter most significant bit first.
#pragma once

#include <array>
#include <cstdint>

namespace media {

inline constexpr int kGsmBlockBits = 520;

// Entry i: where bit i of the block lands in the two RTP frames, both sides
// counting bits least significant first within each byte.
const std::array<uint16_t, kGsmBlockBits>& GsmBlockToRtpBitTable();

// 65-byte block into two consecutive 33-byte frames (66 bytes), with the
// 0xD signature in bytes 0 and 33.
void GsmBlockToRtpFrames(const uint8_t* block, uint8_t* frames);
// Two consecutive 33-byte frames back into a 65-byte block; the signature
// nibbles are not carried over.
void GsmRtpFramesToBlock(const uint8_t* frames, uint8_t* block);

}  // namespace media
