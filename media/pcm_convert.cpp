#include "media/pcm_convert.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

#include "media/g711.h"
#include "media/gsm_coder.h"
#include "media/resampler.h"

namespace media {
namespace {

// Frames decoded per resampler call: bounds the float buffers for long files.
constexpr size_t kPieceFrames = 8192;

void AppendRawPcm16(std::string_view data, std::vector<int16_t>& out) {
    const size_t samples = data.size() / 2;
    if (samples == 0) return;
    const size_t base = out.size();
    out.resize(base + samples);
    std::memcpy(out.data() + base, data.data(), samples * 2);
}

void AppendGsm(std::string_view data, std::vector<int16_t>& out) {
    TGsmCoder decoder(TGsmCoder::TPacking::Wav49);
    std::array<int16_t, kGsmBlockSamples> pcm{};
    for (size_t at = 0; at + kGsmBlockBytes <= data.size(); at += kGsmBlockBytes) {
        if (!decoder.DecodeBlock(reinterpret_cast<const uint8_t*>(data.data() + at), pcm.data()))
            break;
        out.insert(out.end(), pcm.begin(), pcm.end());
    }
}

// One sample of the given encoding and container width as a value in [-1, 1].
using TSampleReader = float (*)(const uint8_t*);

float ReadU8(const uint8_t* p) { return (p[0] - 128) / 128.0f; }
float ReadS16(const uint8_t* p) { return static_cast<int16_t>(p[0] | p[1] << 8) / 32768.0f; }
float ReadS24(const uint8_t* p) {
    const uint32_t u = uint32_t{p[0]} << 8 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 24;
    const auto v = static_cast<int32_t>(u);
    return static_cast<float>(v >> 8) / 8388608.0f;
}
float ReadS32(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return static_cast<float>(v) / 2147483648.0f;
}
float ReadF32(const uint8_t* p) {
    float v;
    std::memcpy(&v, p, 4);
    return v;
}
float ReadAlaw(const uint8_t* p) { return AlawToLinear(p[0]) / 32768.0f; }
float ReadUlaw(const uint8_t* p) { return UlawToLinear(p[0]) / 32768.0f; }

TSampleReader ReaderFor(uint32_t tag, uint16_t bits) {
    if (tag == kWavFormatPcm) {
        switch (bits) {
            case 8: return ReadU8;
            case 16: return ReadS16;
            case 24: return ReadS24;
            case 32: return ReadS32;
            default: return nullptr;
        }
    }
    if (tag == kWavFormatFloat && bits == 32) return ReadF32;
    if (tag == kWavFormatAlaw && bits == 8) return ReadAlaw;
    if (tag == kWavFormatUlaw && bits == 8) return ReadUlaw;
    return nullptr;
}

void AppendConverted(const TWavFormat& format, TSampleReader reader, std::string_view data,
                     std::vector<int16_t>& out) {
    const size_t width = format.bitsPerSample / 8;
    const size_t frameBytes = width * format.channels;
    const size_t frames = data.size() / frameBytes;
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
    TResampler resampler(format.sampleRate);
    std::vector<float> mono(kPieceFrames);
    size_t done = 0;
    do {
        const size_t count = std::min(kPieceFrames, frames - done);
        for (size_t f = 0; f < count; ++f) {
            const uint8_t* frame = bytes + (done + f) * frameBytes;
            float sum = 0;
            for (size_t c = 0; c < format.channels; ++c) sum += reader(frame + c * width);
            mono[f] = sum / format.channels;
        }
        done += count;
        const bool last = done == frames;
        if (format.sampleRate == kWorkingRate) {
            AppendAsInt16(mono.data(), count, out);
        } else {
            resampler.Push(mono.data(), count, last, out);
        }
    } while (done < frames);
}

}  // namespace

void AppendWorkingPcm(const TWavFormat& format, std::string_view fileBytes,
                      std::vector<int16_t>& out) {
    if (!format.hasData || format.dataStart > fileBytes.size()) return;
    const std::string_view data = fileBytes.substr(format.dataStart, format.dataSize);
    if (format.formatTag == kWavFormatNoRiff) {
        AppendRawPcm16(data, out);
        return;
    }
    if (!format.hasFormat || format.channels == 0) return;
    if (format.formatTag == kWavFormatGsm610) {
        if (format.channels == 1) AppendGsm(data, out);
        return;
    }
    if (format.sampleRate == 0) return;
    if (format.formatTag == kWavFormatPcm && format.bitsPerSample == 16 &&
        format.sampleRate == kWorkingRate && format.channels == 1) {
        AppendRawPcm16(data, out);
        return;
    }
    const TSampleReader reader = ReaderFor(format.formatTag, format.bitsPerSample);
    if (!reader) return;
    try {
        AppendConverted(format, reader, data, out);
    } catch (const std::runtime_error&) {
        // A rate the converter cannot take: the file contributes nothing more.
    }
}

}  // namespace media
