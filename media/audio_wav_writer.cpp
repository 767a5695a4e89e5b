#include "media/audio_wav_writer.h"

#include <bit>
#include <stdexcept>
#include <vector>

#include "media/wav_format.h"

namespace media {
namespace {

constexpr uint16_t kChannels = 1;
constexpr uint32_t kRate = 8000;
constexpr uint16_t kBits = 16;
// The RIFF sizes are 32-bit: stop growing before they would wrap (about
// 74 hours of audio).
constexpr uint32_t kMaxDataBytes = 0xFFFFFFFFu - 36;

}  // namespace

TWavWriter::TWavWriter(const std::string& fileName) : File_(std::fopen(fileName.c_str(), "wb")) {
    if (!File_)
        throw std::runtime_error("Cannot create " + fileName);
    const std::string header = MakePcmWavHeader(kChannels, kRate, kBits, 0);
    std::fwrite(header.data(), 1, header.size(), File_.get());
    std::fflush(File_.get());
}

TWavWriter::~TWavWriter() {
    const std::string header = MakePcmWavHeader(kChannels, kRate, kBits, DataBytes_);
    if (std::fseek(File_.get(), 0, SEEK_SET) == 0)
        std::fwrite(header.data(), 1, header.size(), File_.get());
}

void TWavWriter::Write(const int16_t* samples, size_t count) {
    const size_t room = (kMaxDataBytes - DataBytes_) / 2;
    if (count > room)
        count = room;
    static_assert(std::endian::native == std::endian::little, "WAV samples are little-endian");
    DataBytes_ += static_cast<uint32_t>(std::fwrite(samples, 2, count, File_.get()) * 2);
}

void TWavWriter::WriteSilence(size_t count) {
    const std::vector<int16_t> silence(count, 0);
    Write(silence.data(), count);
}

}  // namespace media
