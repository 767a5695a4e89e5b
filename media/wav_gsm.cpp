#include "media/wav_gsm.h"

#include <array>
#include <cstring>

#include "media/gsm_coder.h"
#include "media/wav_format.h"

namespace media {
namespace {

constexpr size_t kBlockPcmBytes = kGsmBlockSamples * 2;

std::string GsmHeader(uint32_t dataBytes) {
    std::string header = "RIFF";
    AppendLe32(header, dataBytes + 40);
    header += "WAVEfmt ";
    AppendLe32(header, 20);
    AppendLe16(header, kWavFormatGsm610);
    AppendLe16(header, 1);     // channels
    AppendLe32(header, 8000);  // samples per second
    AppendLe32(header, 1625);  // bytes per second
    AppendLe16(header, kGsmBlockBytes);
    AppendLe16(header, 0);  // bits per sample
    AppendLe16(header, 2);  // extra bytes
    AppendLe16(header, kGsmBlockSamples);
    header += "data";
    AppendLe32(header, dataBytes);
    return header;
}

}  // namespace

std::string EncodeGsmWav(std::string_view pcmBytes) {
    const size_t blocks = pcmBytes.size() / kBlockPcmBytes;
    const auto dataBytes = static_cast<uint32_t>(blocks * kGsmBlockBytes);
    std::string file = GsmHeader(dataBytes);
    file.reserve(file.size() + dataBytes);
    TGsmCoder encoder(TGsmCoder::TPacking::Wav49);
    std::array<int16_t, kGsmBlockSamples> pcm{};
    std::array<uint8_t, kGsmBlockBytes> block{};
    for (size_t b = 0; b < blocks; ++b) {
        std::memcpy(pcm.data(), pcmBytes.data() + b * kBlockPcmBytes, kBlockPcmBytes);
        encoder.EncodeBlock(pcm.data(), block.data());
        file.append(reinterpret_cast<const char*>(block.data()), block.size());
    }
    return file;
}

}  // namespace media
