// What each codec costs a shop's line and a booth's processor, and what it
// leaves a listener on a lossy line. Three tables, all from one run:
//
//   wire     bytes per second one call sends, counted on a receiving
//            socket (RTP payload + header), and with UDP/IPv4 headers
//            (28 bytes a packet) as kbit/s on the line
//   cpu      CPU per call leg (encode one way, decode the other, the RTP
//            paths between), N = 1 and 10 pairs of calls on loopback, paced
//            every 20 ms, as % of one core, from getrusage over the window
//   impaired Opus with FEC beside PCMU with concealment through the
//            impairment relay at 2% and 5% random loss: lost, concealed and
//            rebuilt frames, R and MOS of the receiver's figures
//
//   codec_line_bench [CPU_SECONDS] [IMPAIRED_SECONDS]   default 4 and 8
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "media/audio_file_devices.h"
#include "media/call.h"
#include "media/codec_names.h"
#include "media/codecs.h"
#include "media/rtp_session.h"
#include "media/wav.h"
#include "sip/transport.h"
#include "tools/impair_relay/impair_relay.h"

namespace {

constexpr int kFrame = 160;
constexpr int kIpUdpBytes = 28;

struct TCodecSetup {
    const char* name;
    int payloadType;
    const char* farEnd;  // the far end's fmtp, as a call would have it
};

const TCodecSetup kCodecs[] = {
    {"pcmu", media::kPcmuPayloadType, ""},
    {"gsm", media::kGsmPayloadType, ""},
    {"g729", media::kG729PayloadType, "annexb=no"},
    {"opus", media::kOpusPayloadType, "useinbandfec=0"},
    {"opus+fec", media::kOpusPayloadType, "useinbandfec=1"},
};

// A voiced sound swelling three times a second, as syllables do: what the
// voice codecs are built for (a steady tone soon counts as background).
std::vector<int16_t> Voice(int samples) {
    std::vector<int16_t> pcm(static_cast<std::size_t>(samples));
    for (int n = 0; n < samples; ++n) {
        const double t = n / 8000.0;
        const double swell = 0.6 + 0.4 * std::sin(2 * M_PI * 3 * t);
        pcm[static_cast<std::size_t>(n)] = static_cast<int16_t>(
            swell * (4000 * std::sin(2 * M_PI * 150 * t) + 2500 * std::sin(2 * M_PI * 600 * t) +
                     1200 * std::sin(2 * M_PI * 1350 * t)));
    }
    return pcm;
}

std::string BytesOf(const std::vector<int16_t>& pcm) {
    return std::string(reinterpret_cast<const char*>(pcm.data()), pcm.size() * 2);
}

uint16_t FreeEvenPort() {
    for (;;) {
        TUdpSocket probe(0, nullptr, [](const std::string&, uint16_t, const uint8_t*, std::size_t) {});
        if (probe.LocalPort() % 2 == 0) return probe.LocalPort();
    }
}

TCallPtr NewCall(const TCodecSetup& codec, const std::shared_ptr<media::TRtpMediaPath>& path = nullptr) {
    TCallSettings settings;
    settings.mediaPath = path ? path : std::make_shared<media::TRtpMediaPath>();
    TCallPtr call = TCall::Create(std::move(settings));
    call->SetCodec(media::CreateCodec(codec.payloadType, codec.farEnd));
    call->SetLocalRtpPort(FreeEvenPort());
    call->SetRemoteRtpHost("127.0.0.1");
    return call;
}

// Wire ----------------------------------------------------------------------------

void WireTable() {
    constexpr int kFrames = 500;  // 10 s of audio
    std::printf("\nOn the wire per call, one direction (%d frames of voice, 20 ms packets)\n", kFrames);
    std::printf("%-9s %8s %10s %12s %12s\n", "codec", "packets", "RTP B/s", "line kbit/s", "payload B/pk");
    const std::vector<int16_t> voice = Voice(kFrames * kFrame);
    for (const TCodecSetup& codec : kCodecs) {
        if (!media::CodecRegistry().IsRegistered(codec.payloadType)) continue;
        std::atomic<int64_t> packets{0}, bytes{0};
        TUdpSocket counter(0, nullptr, [&](const std::string&, uint16_t, const uint8_t*, std::size_t length) {
            bytes += static_cast<int64_t>(length);
            ++packets;
        });
        const TCallPtr call = NewCall(codec);
        call->SetRemoteRtpPort(counter.LocalPort());
        call->SetMediaActive(true);
        // Sent as fast as they encode: the bytes a frame costs do not
        // depend on when it goes.
        for (int n = 0; n <= kFrames; ++n) {
            call->SendAudioFrame(voice.data() + std::min(n, kFrames - 1) * kFrame);
            if (n % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        for (int wait = 0; wait < 200 && packets.load() < kFrames; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        call->SetMediaActive(false);
        const double seconds = kFrames * 0.02;
        const double rtp = static_cast<double>(bytes.load()) / seconds;
        const double line = (static_cast<double>(bytes.load()) + kIpUdpBytes * static_cast<double>(packets.load())) *
                            8 / seconds / 1000;
        std::printf("%-9s %8lld %10.0f %12.1f %12.1f\n", codec.name, static_cast<long long>(packets.load()), rtp, line,
                    packets.load() ? static_cast<double>(bytes.load()) / static_cast<double>(packets.load()) - 12 : 0);
    }
}

// CPU -------------------------------------------------------------------------------

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Percent of one core per call leg.
double CpuPerCall(const TCodecSetup& codec, int pairs, int seconds) {
    std::vector<TCallPtr> calls;
    for (int pair = 0; pair < pairs; ++pair) {
        TCallPtr a = NewCall(codec), b = NewCall(codec);
        a->SetRemoteRtpPort(b->GetLocalRtpPort());
        b->SetRemoteRtpPort(a->GetLocalRtpPort());
        calls.push_back(a);
        calls.push_back(b);
    }
    for (const TCallPtr& call : calls) call->SetMediaActive(true);
    const std::vector<int16_t> voice = Voice(50 * kFrame);
    auto due = std::chrono::steady_clock::now();
    auto tick = [&](int n) {
        for (const TCallPtr& call : calls) call->SendAudioFrame(voice.data() + (n % 50) * kFrame);
        due += std::chrono::milliseconds(20);
        std::this_thread::sleep_until(due);
    };
    for (int n = 0; n < 25; ++n) tick(n);  // settle
    const double cpuBefore = CpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    for (int n = 0; n < seconds * 50; ++n) tick(n);
    const double cpu = CpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    for (const TCallPtr& call : calls) call->SetMediaActive(false);
    return 100 * cpu / wall / static_cast<double>(calls.size());
}

void CpuTable(int seconds) {
    std::printf("\nCPU per call leg, %% of one core (%d s window, pairs of calls on loopback)\n", seconds);
    std::printf("%-9s %10s %10s %12s\n", "codec", "N=1", "N=10", "vs pcmu N=10");
    double pcmu10 = 0;
    for (const TCodecSetup& codec : kCodecs) {
        if (!media::CodecRegistry().IsRegistered(codec.payloadType)) continue;
        if (std::string(codec.name) == "gsm" || std::string(codec.name) == "opus") continue;
        const double one = CpuPerCall(codec, 1, seconds);
        const double ten = CpuPerCall(codec, 10, seconds);
        if (codec.payloadType == media::kPcmuPayloadType) pcmu10 = ten;
        std::printf("%-9s %10.3f %10.3f %11.1fx\n", codec.name, one, ten, pcmu10 > 0 ? ten / pcmu10 : 0);
        std::fflush(stdout);
    }
}

// Impaired line -----------------------------------------------------------------------

struct TLineResult {
    media::TCallQuality quality;
    relay::TRelaySummary relay;
};

TLineResult RunImpaired(const TCodecSetup& codec, double loss, int seconds, uint64_t seed) {
    const std::string recording = "/tmp/codec-line-" + std::to_string(getpid()) + "-" + codec.name + "-" +
                                  std::to_string(seed) + ".wav";
    const TCallPtr a = NewCall(codec);
    const TCallPtr b = NewCall(codec, std::make_shared<media::TRtpMediaPath>());
    b->SetSpeaker(std::make_shared<media::TFileSpeaker>(recording));
    relay::TImpairment impairment;
    impairment.lossPercent = loss;
    impairment.seed = seed;
    relay::TImpairRelay line(0, static_cast<uint16_t>(b->GetLocalRtpPort()), impairment);
    a->SetRemoteRtpPort(line.ListenPort());
    b->SetRemoteRtpPort(line.ListenPort());
    a->SetMediaActive(true);
    b->SetMediaActive(true);
    a->PlayWav(std::make_shared<media::TWavStream>(BytesOf(Voice(seconds * 8000))));
    const std::vector<int16_t> silence(kFrame, 0);
    auto due = std::chrono::steady_clock::now();
    for (int n = 0; n < seconds * 50 + 20; ++n) {
        a->SendAudioFrame(silence.data());
        due += std::chrono::milliseconds(20);
        std::this_thread::sleep_until(due);
    }
    a->SetMediaActive(false);
    b->SetMediaActive(false);
    b->SetSpeaker(nullptr);
    std::remove(recording.c_str());
    return {b->GetQuality(), line.Summary()};
}

void ImpairedTable(int seconds) {
    std::printf("\nImpaired line, random loss, %d s of voice per run (same relay seed per loss)\n", seconds);
    std::printf("%-9s %5s %6s %6s %9s %8s %6s %5s\n", "codec", "loss", "sent", "lost", "concealed", "rebuilt", "R",
                "MOS");
    struct TRun {
        const TCodecSetup* codec;
        double loss;
    };
    std::vector<TRun> runs;
    for (const double loss : {2.0, 5.0})
        for (const TCodecSetup& codec : kCodecs)
            if (codec.payloadType == media::kPcmuPayloadType || std::string(codec.name) == "opus+fec")
                if (media::CodecRegistry().IsRegistered(codec.payloadType)) runs.push_back({&codec, loss});
    std::vector<std::future<TLineResult>> results;
    for (const TRun& run : runs)
        results.push_back(std::async(std::launch::async, [&, run] {
            return RunImpaired(*run.codec, run.loss, seconds, static_cast<uint64_t>(run.loss * 10));
        }));
    for (std::size_t index = 0; index < runs.size(); ++index) {
        const TLineResult result = results[index].get();
        const media::TCallQuality& q = result.quality;
        std::printf("%-9s %4.0f%% %6lld %6lld %9lld %8lld %6.1f %5.2f\n", runs[index].codec->name, runs[index].loss,
                    static_cast<long long>(result.relay.received), static_cast<long long>(q.lost),
                    static_cast<long long>(q.concealed), static_cast<long long>(q.rebuilt), q.r, q.mos);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int cpuSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 4;
    const int impairedSeconds = argc > 2 ? std::max(2, std::atoi(argv[2])) : 8;
    std::printf("codecs registered: %s\n", media::CodecListText(media::CodecRegistry().PayloadTypes()).c_str());
    WireTable();
    CpuTable(cpuSeconds);
    ImpairedTable(impairedSeconds);
    return 0;
}
