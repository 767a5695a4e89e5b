#include "tools/softphone_cli/cli_sound_loader.h"

#include <fstream>

#include "media/pcm_convert.h"
#include "media/wav.h"
#include "media/wav_format.h"

namespace {

// As much of the file's start as any header we take needs.
constexpr std::size_t kHeaderBytes = 64 * 1024;

std::string Describe(const media::TWavFormat& format) {
    return "unsupported encoding (format " + std::to_string(format.formatTag) + ", " +
           std::to_string(format.bitsPerSample) + " bits, " + std::to_string(format.channels) +
           " channels, " + std::to_string(format.sampleRate) + " Hz)";
}

// Converts one file; false when it gave nothing.
bool AppendFile(const std::string& name, std::vector<int16_t>& out, std::string& error) {
    std::ifstream in(name, std::ios::binary);
    std::string header(kHeaderBytes, '\0');
    in.read(header.data(), static_cast<std::streamsize>(header.size()));
    header.resize(static_cast<std::size_t>(in.gcount()));
    media::TWavFormat format = media::ParseWav(header);
    const std::size_t before = out.size();
    const std::size_t frameBytes = format.channels * ((format.bitsPerSample + 7u) / 8u);
    // GSM frames carry the decoder's state from one to the next: such a file
    // (1.6 kB a second) is converted in one piece.
    const bool whole = format.formatTag == media::kWavFormatGsm610 || frameBytes == 0;
    if (!format.hasData || !format.hasFormat) {
        error = "\"" + name + "\": no format or data chunk";
        return false;
    }
    // The declared length of the data chunk; what the file lacks of it ends
    // the reading early.
    const uint32_t declared = static_cast<uint32_t>(static_cast<unsigned char>(header[format.dataStart - 4])) |
                              static_cast<uint32_t>(static_cast<unsigned char>(header[format.dataStart - 3])) << 8 |
                              static_cast<uint32_t>(static_cast<unsigned char>(header[format.dataStart - 2])) << 16 |
                              static_cast<uint32_t>(static_cast<unsigned char>(header[format.dataStart - 1])) << 24;
    const std::size_t block = whole ? declared : frameBytes * format.sampleRate;  // a second
    in.clear();
    in.seekg(static_cast<std::streamoff>(format.dataStart));
    std::size_t left = declared;
    std::string chunk;
    while (left > 0 && in) {
        chunk.resize(std::min(block, left));
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        chunk.resize(static_cast<std::size_t>(in.gcount()));
        if (chunk.empty())
            break;
        left -= chunk.size();
        media::TWavFormat piece = format;
        piece.dataStart = 0;
        piece.dataSize = chunk.size();
        media::AppendWorkingPcm(piece, chunk, out);
    }
    if (out.size() == before) {
        error = "\"" + name + "\": " + Describe(format);
        return false;
    }
    return true;
}

}  // namespace

TLoadedSound LoadWorkingSound(const std::string& fileNames) {
    TLoadedSound sound;
    for (const std::string& name : media::SplitFileNames(fileNames))
        if (!AppendFile(name, sound.samples, sound.error))
            return {{}, sound.error};
    if (sound.samples.empty() && sound.error.empty())
        sound.error = "no file named";
    return sound;
}
