// RIFF/WAVE header parsing and writing. The parser works on the bytes of a
// whole file and never reads outside them: chunk sizes are checked against
// what is left, a data chunk that claims more than the file holds is cut to
// what is there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace media {

inline constexpr uint32_t kWavFormatPcm = 1;
inline constexpr uint32_t kWavFormatFloat = 3;
inline constexpr uint32_t kWavFormatAlaw = 6;
inline constexpr uint32_t kWavFormatUlaw = 7;
inline constexpr uint32_t kWavFormatGsm610 = 49;
inline constexpr uint32_t kWavFormatExtensible = 0xFFFE;
// Format given to bytes that carry no RIFF header at all.
inline constexpr uint32_t kWavFormatNoRiff = 100000;

struct TWavFormat {
    uint32_t formatTag = 0;  // for extensible files, the sub-format's tag
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint16_t bitsPerSample = 0;
    bool hasFormat = false;  // a "fmt " chunk of at least 16 bytes was seen
    bool hasData = false;
    size_t dataStart = 0;
    size_t dataSize = 0;
};

// Without "RIFF" at offset 0 the whole input is data of kWavFormatNoRiff.
TWavFormat ParseWav(std::string_view bytes);

// Canonical 44-byte header of a PCM file.
std::string MakePcmWavHeader(uint16_t channels, uint32_t sampleRate, uint16_t bitsPerSample,
                             uint32_t dataBytes);

// Little-endian helpers shared by the readers and writers.
void AppendLe16(std::string& out, uint32_t value);
void AppendLe32(std::string& out, uint32_t value);

}  // namespace media
