// GSM 06.10 WAV files as the sound sources save them: a 48-byte header and
// whole 65-byte blocks of two frames each.
#pragma once

#include <string>
#include <string_view>

namespace media {

inline constexpr size_t kGsmWavHeaderBytes = 48;

// The complete file for 8 kHz 16-bit mono PCM bytes; a tail shorter than one
// block (640 bytes) is dropped.
std::string EncodeGsmWav(std::string_view pcmBytes);

}  // namespace media
