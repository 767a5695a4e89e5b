// One 20 ms frame through each codec, side by side with the bare library
// calls on the same frames, and the load of a long CD-quality stereo file.
// On a busy machine compare codec and bare figures from an interleaved run:
//   bench_codec --benchmark_repetitions=12 --benchmark_enable_random_interleaving=true
#include <benchmark/benchmark.h>
#include <gsm.h>
#include <opus/opus.h>
#include <speex/speex.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <vector>

#include "media/codec_g711.h"
#include "media/codec_g729.h"
#include "media/codec_opus.h"
#include "media/codec_gsm.h"
#include "media/codec_speex.h"
#include "media/dtmf_detector.h"
#include "media/gsm_bits.h"
#include "media/keypad_tones.h"
#include "media/speex_library.h"
#include "media/wav.h"
#include "media/wav_format.h"

namespace {

constexpr int kFrame = 160;
constexpr int kFrames = 64;

// A few seconds' worth of frames of varied audio (keypad tones with a slow
// level change), cycled through so every iteration codes a different frame.
const std::vector<int16_t>& Audio() {
    static const std::vector<int16_t> audio = [] {
        std::vector<int16_t> a;
        for (int item = 1; a.size() < size_t(kFrame * kFrames); item = item % 12 + 1) {
            const std::string& wav = media::KeypadToneWav(item);
            for (size_t i = 44; i + 1 < 44 + 4800; i += 2) {
                const int s = static_cast<int16_t>(uint8_t(wav[i]) | uint8_t(wav[i + 1]) << 8);
                a.push_back(static_cast<int16_t>(s * (0.3 + 0.7 * std::abs(std::sin(a.size() * 1e-3)))));
            }
        }
        a.resize(size_t(kFrame * kFrames));
        return a;
    }();
    return audio;
}

const int16_t* FrameAt(int64_t n) { return Audio().data() + (n % kFrames) * kFrame; }

// Payloads produced by `codec` for every frame of Audio().
template <typename Encode>
std::vector<std::vector<uint8_t>> EncodedFrames(Encode encode) {
    std::vector<std::vector<uint8_t>> frames;
    std::array<uint8_t, 200> out{};
    for (int i = 0; i < kFrames; ++i) {
        const int n = encode(FrameAt(i), out.data());
        frames.emplace_back(out.begin(), out.begin() + n);
    }
    return frames;
}

template <typename Codec>
void BM_Encode(benchmark::State& state) {
    Codec codec;
    std::array<uint8_t, 200> out{};
    int64_t n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(codec.Encode(FrameAt(n++), out.data()));
        benchmark::ClobberMemory();
    }
}

template <typename Codec>
void BM_Decode(benchmark::State& state) {
    Codec codec;
    const auto frames = EncodedFrames([&](const int16_t* p, uint8_t* o) { return codec.Encode(p, o); });
    std::array<int16_t, kFrame> pcm{};
    int64_t n = 0;
    for (auto _ : state) {
        const auto& f = frames[size_t(n++ % kFrames)];
        benchmark::DoNotOptimize(codec.Decode(f.data(), pcm.data(), int(f.size())));
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_Encode<media::TCodecPCMU>)->Name("PCMU/Encode");
BENCHMARK(BM_Decode<media::TCodecPCMU>)->Name("PCMU/Decode");
BENCHMARK(BM_Encode<media::TCodecPCMA>)->Name("PCMA/Encode");
BENCHMARK(BM_Decode<media::TCodecPCMA>)->Name("PCMA/Decode");
BENCHMARK(BM_Encode<media::TCodecGSM>)->Name("GSM/Encode/codec");
BENCHMARK(BM_Decode<media::TCodecGSM>)->Name("GSM/Decode/codec");

// The bit move alone, both directions, for one two-frame block.
void BM_GsmBitMove(benchmark::State& state) {
    std::array<uint8_t, 65> block{};
    std::array<uint8_t, 66> frames{};
    for (size_t i = 0; i < block.size(); ++i) block[i] = uint8_t(i * 73 + 5);
    for (auto _ : state) {
        media::GsmBlockToRtpFrames(block.data(), frames.data());
        media::GsmRtpFramesToBlock(frames.data(), block.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_GsmBitMove)->Name("GSM/BitMove/block-both-ways");

struct TBareGsm {
    gsm handle = gsm_create();
    ~TBareGsm() { gsm_destroy(handle); }
};

void BM_GsmEncodeBare(benchmark::State& state) {
    TBareGsm g;
    std::array<uint8_t, 33> out{};
    int64_t n = 0;
    for (auto _ : state) {
        gsm_encode(g.handle, const_cast<int16_t*>(FrameAt(n++)), out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_GsmEncodeBare)->Name("GSM/Encode/bare-libgsm");

void BM_GsmDecodeBare(benchmark::State& state) {
    TBareGsm g;
    const auto frames = EncodedFrames([&](const int16_t* p, uint8_t* o) {
        gsm_encode(g.handle, const_cast<int16_t*>(p), o);
        return 33;
    });
    std::array<int16_t, kFrame> pcm{};
    int64_t n = 0;
    for (auto _ : state) {
        auto& f = frames[size_t(n++ % kFrames)];
        benchmark::DoNotOptimize(gsm_decode(g.handle, const_cast<uint8_t*>(f.data()), pcm.data()));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_GsmDecodeBare)->Name("GSM/Decode/bare-libgsm");

std::shared_ptr<const media::TSpeexLibrary> Speex() {
    static const auto library = media::TSpeexLibrary::Load(media::kSpeexLibraryName);
    return library;
}

struct TSpeexCodec : media::TCodecSpeex {
    TSpeexCodec() : media::TCodecSpeex(Speex()) {}
};

BENCHMARK(BM_Encode<TSpeexCodec>)->Name("Speex/Encode/codec");
BENCHMARK(BM_Decode<TSpeexCodec>)->Name("Speex/Decode/codec");

// The same library, linked directly, with the same settings.
struct TBareSpeex {
    SpeexBits bits{};
    void* encoder = speex_encoder_init(speex_lib_get_mode(SPEEX_MODEID_NB));
    void* decoder = speex_decoder_init(speex_lib_get_mode(SPEEX_MODEID_NB));
    std::array<float, kFrame> f{};
    TBareSpeex() {
        speex_bits_init(&bits);
        int rate = 8000, quality = 10, enhancer = 0;
        float vbrQuality = 10;
        speex_encoder_ctl(encoder, SPEEX_SET_SAMPLING_RATE, &rate);
        speex_encoder_ctl(encoder, SPEEX_SET_QUALITY, &quality);
        speex_encoder_ctl(encoder, SPEEX_SET_VBR_QUALITY, &vbrQuality);
        speex_decoder_ctl(decoder, SPEEX_SET_ENH, &enhancer);
    }
    ~TBareSpeex() {
        speex_bits_destroy(&bits);
        speex_encoder_destroy(encoder);
        speex_decoder_destroy(decoder);
    }
    int Encode(const int16_t* pcm, uint8_t* out) {
        for (int i = 0; i < kFrame; ++i) f[size_t(i)] = pcm[i];
        speex_bits_reset(&bits);
        speex_encode(encoder, f.data(), &bits);
        return speex_bits_write(&bits, reinterpret_cast<char*>(out), speex_bits_nbytes(&bits));
    }
    int Decode(const uint8_t* payload, int16_t* pcm, int length) {
        speex_bits_read_from(&bits, reinterpret_cast<const char*>(payload), length);
        speex_decode(decoder, &bits, f.data());
        for (int i = 0; i < kFrame; ++i) pcm[i] = static_cast<int16_t>(std::lrint(f[size_t(i)]));
        return 320;
    }
};

BENCHMARK(BM_Encode<TBareSpeex>)->Name("Speex/Encode/bare-libspeex");
BENCHMARK(BM_Decode<TBareSpeex>)->Name("Speex/Decode/bare-libspeex");

// G.729 and Opus: our codec classes (the library reached through dlopen)
// beside the same libraries linked and called bare with the same settings.
std::shared_ptr<const media::TG729Library> G729() {
    static const auto library = media::TG729Library::Load(media::kG729LibraryName);
    return library;
}

std::shared_ptr<const media::TOpusLibrary> Opus() {
    static const auto library = media::TOpusLibrary::Load(media::kOpusLibraryName);
    return library;
}

struct TG729Codec : media::TCodecG729 {
    TG729Codec() : media::TCodecG729(G729()) { SetFormatParameters("annexb=no"); }
};

struct TBareG729 {
    bcg729EncoderChannelContextStruct* encoder = initBcg729EncoderChannel(0);
    bcg729DecoderChannelContextStruct* decoder = initBcg729DecoderChannel();
    ~TBareG729() {
        closeBcg729EncoderChannel(encoder);
        closeBcg729DecoderChannel(decoder);
    }
    int Encode(const int16_t* pcm, uint8_t* out) {
        uint8_t first = 0, second = 0;
        bcg729Encoder(encoder, const_cast<int16_t*>(pcm), out, &first);
        bcg729Encoder(encoder, const_cast<int16_t*>(pcm + 80), out + first, &second);
        return first + second;
    }
    int Decode(const uint8_t* payload, int16_t* pcm, int length) {
        for (int frame = 0; frame * 10 < length; ++frame)
            bcg729Decoder(decoder, const_cast<uint8_t*>(payload + frame * 10), 10, 0, 0, 0, pcm + frame * 80);
        return length / 10 * 160;
    }
};

// Opus as a call with FEC runs it: narrow-band voice at 20 kbit/s.
struct TOpusCodec : media::TCodecOpus {
    TOpusCodec() : media::TCodecOpus(Opus()) { SetFormatParameters("useinbandfec=1"); }
};

struct TBareOpus {
    OpusEncoder* encoder;
    OpusDecoder* decoder;
    TBareOpus() {
        int error = 0;
        encoder = opus_encoder_create(8000, 1, OPUS_APPLICATION_VOIP, &error);
        decoder = opus_decoder_create(8000, 1, &error);
        opus_encoder_ctl(encoder, OPUS_SET_SIGNAL(OPUS_SIGNAL_VOICE));
        opus_encoder_ctl(encoder, OPUS_SET_MAX_BANDWIDTH(OPUS_BANDWIDTH_NARROWBAND));
        opus_encoder_ctl(encoder, OPUS_SET_BITRATE(media::TCodecOpus::kFecBitrate));
        opus_encoder_ctl(encoder, OPUS_SET_INBAND_FEC(1));
        opus_encoder_ctl(encoder, OPUS_SET_DTX(0));
        opus_encoder_ctl(encoder, OPUS_SET_PACKET_LOSS_PERC(media::TCodecOpus::kInitialLossPercent));
    }
    ~TBareOpus() {
        opus_encoder_destroy(encoder);
        opus_decoder_destroy(decoder);
    }
    int Encode(const int16_t* pcm, uint8_t* out) { return opus_encode(encoder, pcm, kFrame, out, 160); }
    int Decode(const uint8_t* payload, int16_t* pcm, int length) {
        return opus_decode(decoder, payload, length, pcm, kFrame, 0) * 2;
    }
};

BENCHMARK(BM_Encode<TG729Codec>)->Name("G729/Encode/codec");
BENCHMARK(BM_Encode<TBareG729>)->Name("G729/Encode/bare-bcg729");
BENCHMARK(BM_Decode<TG729Codec>)->Name("G729/Decode/codec");
BENCHMARK(BM_Decode<TBareG729>)->Name("G729/Decode/bare-bcg729");
BENCHMARK(BM_Encode<TOpusCodec>)->Name("Opus/Encode/codec");
BENCHMARK(BM_Encode<TBareOpus>)->Name("Opus/Encode/bare-libopus");
BENCHMARK(BM_Decode<TOpusCodec>)->Name("Opus/Decode/codec");
BENCHMARK(BM_Decode<TBareOpus>)->Name("Opus/Decode/bare-libopus");
// The keypad detector every received frame passes, on frames loud enough
// to be analysed, beside the eight filters run one after the other through
// TonePower (what the detector did before its filters ran side by side).
void BM_KeypadDetect(benchmark::State& state) {
    int64_t n = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(media::TKeypadToneDetector::Detect(FrameAt(n++)));
}
BENCHMARK(BM_KeypadDetect)->Name("Detector/keypad/bank");

void BM_KeypadFiltersOneByOne(benchmark::State& state) {
    using media::TKeypadToneDetector;
    int64_t n = 0;
    for (auto _ : state) {
        const int16_t* frame = FrameAt(n++);
        double sum = TKeypadToneDetector::FramePower(frame, kFrame);
        for (std::size_t index = 0; index < 4; ++index)
            sum += TKeypadToneDetector::TonePower(frame, kFrame, TKeypadToneDetector::kRowHz[index]) +
                   TKeypadToneDetector::TonePower(frame, kFrame, TKeypadToneDetector::kColumnHz[index]);
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_KeypadFiltersOneByOne)->Name("Detector/keypad/filters-one-by-one");

// 60 s of 44.1 kHz stereo 16-bit, converted to 8 kHz mono on load.
void BM_WavLoad60sStereo44k(benchmark::State& state) {
    const auto path = std::filesystem::temp_directory_path() / "codec_bench_60s.wav";
    {
        constexpr uint32_t kRate = 44100, kSeconds = 60;
        std::string bytes = media::MakePcmWavHeader(2, kRate, 16, kRate * kSeconds * 4);
        for (uint32_t n = 0; n < kRate * kSeconds; ++n) {
            const double t = double(n) / kRate;
            media::AppendLe16(bytes, uint16_t(int16_t(9000 * std::sin(2 * std::numbers::pi * 440 * t))));
            media::AppendLe16(bytes, uint16_t(int16_t(9000 * std::sin(2 * std::numbers::pi * 660 * t))));
        }
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    }
    for (auto _ : state) {
        media::TWavFile wav(path.string());
        benchmark::DoNotOptimize(wav.GetSize());
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_WavLoad60sStereo44k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
