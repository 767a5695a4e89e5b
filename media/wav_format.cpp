#include "media/wav_format.h"

#include <algorithm>

namespace media {
namespace {

constexpr size_t kChunkHeader = 8;
constexpr size_t kFirstChunk = 12;
constexpr size_t kMinFmtBytes = 16;
// Enough of a fmt chunk to reach an extensible file's sub-format tag.
constexpr size_t kFmtBytesRead = 26;

uint32_t Le16(std::string_view b, size_t at) {
    return static_cast<uint8_t>(b[at]) | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8;
}

uint32_t Le32(std::string_view b, size_t at) { return Le16(b, at) | Le16(b, at + 2) << 16; }

bool LooksLikeChunkId(std::string_view bytes, size_t at) {
    if (at + 4 > bytes.size()) return false;
    return std::all_of(bytes.begin() + at, bytes.begin() + at + 4,
                       [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// Only the bytes the chunk really holds are looked at: a 16-byte chunk is
// followed by the next chunk's header, which must not be taken for fields.
void ReadFmt(std::string_view chunk, TWavFormat& format) {
    if (chunk.size() < kMinFmtBytes) return;
    format.hasFormat = true;
    format.formatTag = Le16(chunk, 0);
    format.channels = static_cast<uint16_t>(Le16(chunk, 2));
    format.sampleRate = Le32(chunk, 4);
    format.bitsPerSample = static_cast<uint16_t>(Le16(chunk, 14));
    if (format.formatTag == kWavFormatExtensible && chunk.size() >= kFmtBytesRead) {
        format.formatTag = Le16(chunk, 24);
    }
}

// Next chunk position. Writers are supposed to pad odd-sized chunks to an
// even length, but not all do; the unpadded position is kept unless only the
// padded one holds something that looks like a chunk identifier.
uint64_t NextChunk(std::string_view bytes, uint64_t body, uint32_t size) {
    const uint64_t next = body + size;
    if ((size & 1) && !LooksLikeChunkId(bytes, next) && next + 1 <= bytes.size() &&
        LooksLikeChunkId(bytes, next + 1)) {
        return next + 1;
    }
    return next;
}

}  // namespace

TWavFormat ParseWav(std::string_view bytes) {
    TWavFormat format;
    if (bytes.size() < 4 || bytes.substr(0, 4) != "RIFF") {
        format.formatTag = kWavFormatNoRiff;
        format.hasData = true;
        format.dataSize = bytes.size();
        return format;
    }
    uint64_t pos = kFirstChunk;
    while (pos + kChunkHeader <= bytes.size()) {
        const std::string_view id = bytes.substr(pos, 4);
        const uint32_t size = Le32(bytes, pos + 4);
        const uint64_t body = pos + kChunkHeader;
        const uint64_t left = bytes.size() - body;
        if (id == "data") {
            format.hasData = true;
            format.dataStart = body;
            format.dataSize = static_cast<size_t>(std::min<uint64_t>(size, left));
            break;
        }
        if (id == "fmt ") {
            const auto taken = static_cast<size_t>(std::min<uint64_t>({size, left, kFmtBytesRead}));
            ReadFmt(bytes.substr(body, taken), format);
        }
        pos = NextChunk(bytes, body, size);
    }
    return format;
}

void AppendLe16(std::string& out, uint32_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void AppendLe32(std::string& out, uint32_t value) {
    AppendLe16(out, value & 0xFFFF);
    AppendLe16(out, value >> 16);
}

std::string MakePcmWavHeader(uint16_t channels, uint32_t sampleRate, uint16_t bitsPerSample,
                             uint32_t dataBytes) {
    const uint32_t blockAlign = channels * ((bitsPerSample + 7u) / 8u);
    std::string header = "RIFF";
    AppendLe32(header, dataBytes + 36);
    header += "WAVEfmt ";
    AppendLe32(header, 16);
    AppendLe16(header, kWavFormatPcm);
    AppendLe16(header, channels);
    AppendLe32(header, sampleRate);
    AppendLe32(header, sampleRate * blockAlign);
    AppendLe16(header, blockAlign);
    AppendLe16(header, bitsPerSample);
    header += "data";
    AppendLe32(header, dataBytes);
    return header;
}

}  // namespace media
