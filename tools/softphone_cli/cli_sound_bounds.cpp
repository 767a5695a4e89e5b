#include "tools/softphone_cli/cli_sound_bounds.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "media/wav.h"
#include "media/wav_format.h"

namespace {

// Enough for the format chunk and the data chunk's header of any file we
// make or are given; a header that does not fit is no file we play.
constexpr std::size_t kHeaderBytes = 64 * 1024;
constexpr uint32_t kLowestSampleRate = 8000;
// GSM 06.10 in WAV: 65 bytes carry 320 samples.
constexpr double kGsmSamplesPerByte = 320.0 / 65.0;

uint32_t ReadLe32(const std::string& bytes, std::size_t at) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    return value;
}

std::string FileOutOfBounds(const std::string& name, int maxSeconds) {
    std::error_code error;
    // A pipe or device would block the read below.
    if (!std::filesystem::is_regular_file(name, error))
        return error ? error.message() : "not a regular file";
    const auto fileSize = std::filesystem::file_size(name, error);
    if (error)
        return error.message();
    std::ifstream in(name, std::ios::binary);
    std::string header(kHeaderBytes, '\0');
    in.read(header.data(), static_cast<std::streamsize>(header.size()));
    header.resize(static_cast<std::size_t>(in.gcount()));
    if (header.size() < 12 || header.compare(0, 4, "RIFF") != 0 || header.compare(8, 4, "WAVE") != 0)
        return "not a WAV file";
    const media::TWavFormat format = media::ParseWav(header);
    if (!format.hasFormat || !format.hasData || format.dataStart < 8)
        return "no WAV header we read (format or data chunk missing)";
    if (format.sampleRate < kLowestSampleRate)
        return "sample rate " + std::to_string(format.sampleRate) + " Hz, below " +
               std::to_string(kLowestSampleRate) + " Hz";
    // The data chunk as declared, cut to what the file holds.
    const uint64_t declared = ReadLe32(header, format.dataStart - 4);
    const uint64_t present = fileSize > format.dataStart ? fileSize - format.dataStart : 0;
    const double bytes = static_cast<double>(std::min(declared, present));
    const double frameBytes = format.channels * ((format.bitsPerSample + 7) / 8);
    const double samples = format.formatTag == media::kWavFormatGsm610 ? bytes * kGsmSamplesPerByte
                           : frameBytes > 0                            ? bytes / frameBytes
                                                                       : 0;
    const double seconds = samples / format.sampleRate;
    if (seconds > maxSeconds)
        return "sound of " + std::to_string(static_cast<long long>(seconds)) +
               " s, longer than the limit of " + std::to_string(maxSeconds) + " s";
    return {};
}

}  // namespace

std::string SoundOutOfBounds(const std::string& fileNames, int maxSeconds) {
    for (const std::string& name : media::SplitFileNames(fileNames)) {
        const std::string reason = FileOutOfBounds(name, maxSeconds);
        if (!reason.empty())
            return "\"" + name + "\": " + reason;
    }
    return {};
}
