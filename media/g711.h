// G.711 sample conversions. Encoding goes through 64K-entry tables and
// decoding through 256-entry tables, both filled once on first use, so the
// per-sample cost on the audio threads is a single load.
#pragma once

#include <cstdint>

namespace media {

// Mu-law code of a 16-bit sample, computed from the 14-bit value; a code of
// 0x00 is replaced by 0x02 (an all-zero octet is avoided on the line).
uint8_t LinearToUlaw(int16_t sample);
// Standard G.711 expansion of a mu-law code to 16 bits.
int16_t UlawToLinear(uint8_t code);
// A-law code of a 16-bit sample: the sample is first coded to mu-law with
// the 16-bit method, then mapped with the G.711 mu-law to A-law table.
uint8_t LinearToAlaw(int16_t sample);
// A-law code mapped to mu-law with the G.711 table, then expanded as mu-law.
int16_t AlawToLinear(uint8_t code);

// The table conversions between the two laws, as published with G.711.
uint8_t UlawToAlaw(uint8_t ulaw);
uint8_t AlawToUlaw(uint8_t alaw);

// Whole-buffer forms used by the codecs.
void EncodeUlaw(const int16_t* pcm, uint8_t* out, int count);
void DecodeUlaw(const uint8_t* in, int16_t* pcm, int count);
void EncodeAlaw(const int16_t* pcm, uint8_t* out, int count);
void DecodeAlaw(const uint8_t* in, int16_t* pcm, int count);

}  // namespace media
