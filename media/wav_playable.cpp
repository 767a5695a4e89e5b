#include "media/wav_playable.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "media/pcm_convert.h"
#include "media/wav.h"
#include "media/wav_format.h"

namespace media {
namespace {

// Why a file that parsed gave no samples, in the order the converter gives up.
std::string SilentFileReason(const TWavFormat& format) {
    if (!format.hasData) return "no data chunk";
    if (format.formatTag == kWavFormatNoRiff) return "no audio in it";
    if (!format.hasFormat) return "no format chunk";
    if (format.channels == 0 || format.sampleRate == 0) return "no channels or no sample rate";
    if (format.dataSize == 0) return "no audio in it";
    return "unsupported encoding (format " + std::to_string(format.formatTag) + ", " +
           std::to_string(format.bitsPerSample) + " bits, " + std::to_string(format.channels) +
           " channels, " + std::to_string(format.sampleRate) + " Hz)";
}

std::string FileReason(const std::string& name) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(name, error);
    if (error) return error.message();
    if (!std::filesystem::is_regular_file(status)) return "not a regular file";
    std::ifstream in(name, std::ios::binary);
    if (!in) return std::strerror(errno);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return "read error";
    const TWavFormat format = ParseWav(bytes);
    std::vector<int16_t> pcm;
    AppendWorkingPcm(format, bytes, pcm);
    return pcm.empty() ? SilentFileReason(format) : std::string();
}

}  // namespace

std::string UnplayableReason(const std::string& fileNames) {
    const std::vector<std::string> names = SplitFileNames(fileNames);
    if (names.empty()) return "no file named";
    for (const std::string& name : names) {
        const std::string reason = FileReason(name);
        if (!reason.empty()) return "\"" + name + "\": " + reason;
    }
    return {};
}

}  // namespace media
