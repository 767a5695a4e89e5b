// The receive path on a poor line: a 1 kHz tone from call A through the
// impairment relay to call B, whose file speaker records what a listener
// hears. Every line setting runs twice, with the adaptive path and with the
// fixed four-slot buffer without concealment, and one table shows both:
//
//   late%      frames discarded for coming after their time
//   concealed  frames filled by concealment
//   holes      20 ms frames of the recording more than 30 dB below the tone
//              while it plays
//   delay      jitter buffer delay p50 / p95 (sampled every 100 ms)
//   jit95      the relay's added delay p95 (the jitter)
//   R, MOS     the E-model estimate (for the fixed path from the holes,
//              without concealment)
//
// The listener's speaker pulls each frame on its own 20 ms grid, and which
// frames miss their period depends on where the sender's grid lies against
// it: every run starts the sender PHASE ms into the speaker's period, so two
// builds (or two runs) meet the same line at the same phase.
//
//   impaired_bench [SECONDS [JITTER [PHASE]]]
//       default 6 s per run, four runs at a time; with JITTER (ms) only the
//       rows of that jitter (0 for all); PHASE in ms, default 1
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "media/audio_file_devices.h"
#include "media/call.h"
#include "media/codecs.h"
#include "media/rtp_session.h"
#include "media/wav.h"
#include "sip/transport.h"
#include "tools/impair_relay/impair_relay.h"

namespace {

constexpr int kFrame = 160;
constexpr double kToneAmplitude = 8000;

struct TLine {
    double loss;
    double burst;
    double jitter;
};

struct TResult {
    double latePercent = -1;
    int64_t concealed = 0;
    int holes = 0;
    int frames = 0;
    double delayP50 = -1, delayP95 = -1;
    double jitterP95 = 0;
    double relayLoss = 0;
    double r = 0, mos = 0;
};

uint16_t FreeEvenPort() {
    for (;;) {
        TUdpSocket probe(0, nullptr, [](const std::string&, uint16_t, const uint8_t*, std::size_t) {});
        if (probe.LocalPort() % 2 == 0)
            return probe.LocalPort();
    }
}

double Quantile(std::vector<double> values, double q) {
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1))];
}

std::vector<int16_t> Tone(int samples) {
    std::vector<int16_t> pcm(static_cast<std::size_t>(samples));
    for (int n = 0; n < samples; ++n)
        pcm[static_cast<std::size_t>(n)] = static_cast<int16_t>(kToneAmplitude * std::sin(2 * M_PI * 1000 * n / 8000.0));
    return pcm;
}

std::string BytesOf(const std::vector<int16_t>& pcm) {
    return std::string(reinterpret_cast<const char*>(pcm.data()), pcm.size() * 2);
}

int CountHoles(const std::vector<int16_t>& heard, int& frames) {
    const double floor = kToneAmplitude / std::sqrt(2.0) * std::pow(10, -30 / 20.0);
    std::vector<bool> loud;
    for (std::size_t at = 0; at + kFrame <= heard.size(); at += kFrame) {
        double sum = 0;
        for (int n = 0; n < kFrame; ++n)
            sum += static_cast<double>(heard[at + static_cast<std::size_t>(n)]) * heard[at + static_cast<std::size_t>(n)];
        loud.push_back(std::sqrt(sum / kFrame) >= floor);
    }
    const auto first = std::find(loud.begin(), loud.end(), true);
    const auto last = std::find(loud.rbegin(), loud.rend(), true).base();
    frames = first < last ? static_cast<int>(last - first) : 0;
    return first < last ? static_cast<int>(std::count(first, last, false)) : 0;
}

TResult RunLine(const TLine& line, media::TReceiveMode mode, int seconds, uint64_t seed, double phaseMs) {
    const std::string recording = "/tmp/impaired-" + std::to_string(getpid()) + "-" + std::to_string(seed) +
                                  (mode == media::TReceiveMode::Adaptive ? "a" : "f") + ".wav";
    auto path = std::make_shared<media::TRtpMediaPath>(mode);
    TCallPtr a, b;
    for (TCallPtr* call : {&a, &b}) {
        TCallSettings settings;
        settings.mediaPath = call == &b ? path : std::make_shared<media::TRtpMediaPath>();
        *call = TCall::Create(std::move(settings));
        (*call)->SetCodec(media::CodecRegistry().Create(0));
        (*call)->SetLocalRtpPort(FreeEvenPort());
        (*call)->SetRemoteRtpHost("127.0.0.1");
    }
    auto speaker = std::make_shared<media::TFileSpeaker>(recording);
    const auto speakerStart = speaker->GetTimeLineStart();
    b->SetSpeaker(std::move(speaker));
    b->SetRemoteRtpPort(a->GetLocalRtpPort());
    relay::TImpairment impairment;
    impairment.lossPercent = line.loss;
    impairment.burstLength = line.burst;
    impairment.jitterMs = line.jitter;
    impairment.seed = seed;
    relay::TImpairRelay relay(0, static_cast<uint16_t>(b->GetLocalRtpPort()), impairment);
    a->SetRemoteRtpPort(relay.ListenPort());
    a->SetMediaActive(true);
    b->SetMediaActive(true);
    a->PlayWav(std::make_shared<media::TWavStream>(BytesOf(Tone(seconds * 8000))));
    const std::vector<int16_t> silence(kFrame, 0);
    std::vector<double> delays;
    // The first frame goes PHASE ms into a period of the speaker's, a few
    // periods on from now.
    auto due = speakerStart + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double, std::milli>(phaseMs));
    while (due < std::chrono::steady_clock::now() + std::chrono::milliseconds(5))
        due += std::chrono::milliseconds(20);
    std::this_thread::sleep_until(due);
    const int frames = seconds * 50 + 15;
    for (int n = 0; n < frames; ++n) {
        a->SendAudioFrame(silence.data());
        if (n % 5 == 4 && mode == media::TReceiveMode::Adaptive)
            delays.push_back(path->Quality().bufferDelayMs);
        due += std::chrono::milliseconds(20);
        std::this_thread::sleep_until(due);
    }
    a->SetMediaActive(false);
    b->SetMediaActive(false);
    b->SetSpeaker(nullptr);
    const relay::TRelaySummary summary = relay.Summary();
    TResult result;
    result.jitterP95 = summary.delayP95Ms;
    result.relayLoss = summary.LossPercent();
    {
        media::TWavFile file(recording);
        std::vector<int16_t> heard(static_cast<std::size_t>(file.GetSize() / 2));
        file.Read(heard.data(), static_cast<int>(heard.size() * 2));
        result.holes = CountHoles(heard, result.frames);
    }
    std::remove(recording.c_str());
    if (mode == media::TReceiveMode::Adaptive) {
        const media::TCallQuality quality = b->GetQuality();
        const int64_t expected = quality.received + std::max<int64_t>(0, quality.lost);
        result.latePercent = expected ? 100.0 * static_cast<double>(quality.late) / static_cast<double>(expected) : 0;
        result.concealed = quality.concealed;
        result.delayP50 = Quantile(delays, 0.5);
        result.delayP95 = Quantile(delays, 0.95);
        result.r = quality.r;
        result.mos = quality.mos;
    } else {
        // What the listener misses is the holes; nothing conceals them.
        const double missing = result.frames ? 100.0 * result.holes / result.frames : 0;
        result.r = media::EstimateR(0, missing, line.burst, 40, false);
        result.mos = media::MosFromR(result.r);
    }
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 6;
    const double phaseMs = argc > 3 ? std::fmod(std::fabs(std::atof(argv[3])), 20.0) : 1;
    std::vector<TLine> lines;
    for (double jitter : {0.0, 20.0, 40.0})
        for (double loss : {0.0, 1.0, 2.0, 5.0})
            for (double burst : {1.0, 3.0})
                if (loss > 0 || burst == 1.0)
                    lines.push_back({loss, burst, jitter});
    lines.push_back({2, 1, 30});  // the target line
    // Each row keeps its seed (its place in the full table) when others are left out.
    std::vector<std::size_t> rows;
    for (std::size_t index = 0; index < lines.size(); ++index)
        if (argc <= 2 || std::atof(argv[2]) == 0 || lines[index].jitter == std::atof(argv[2]))
            rows.push_back(index);
    std::printf("Receive path on an impaired line (G.711, %d s of 1 kHz tone per run, sender %.1f ms into the "
                "speaker's period)\n", seconds, phaseMs);
    std::printf("%-22s | %-42s | %-30s\n", "", "adaptive buffer + concealment", "four-slot, no concealment");
    std::printf("%-5s %-6s %-6s %-3s | %5s %5s %5s %5s %5s %5s %5s | %5s %5s %5s %5s\n", "loss", "burst", "jitt",
                "", "late%", "conc", "holes", "d50", "d95", "R", "MOS", "holes", "jit95", "R", "MOS");
    constexpr std::size_t kParallel = 4;
    for (std::size_t start = 0; start < rows.size(); start += kParallel) {
        std::vector<std::future<std::pair<TResult, TResult>>> runs;
        for (std::size_t row = start; row < std::min(rows.size(), start + kParallel); ++row) {
            runs.push_back(std::async(std::launch::async, [&, index = rows[row]] {
                const auto seed = static_cast<uint64_t>(index + 1);
                TResult adaptive = RunLine(lines[index], media::TReceiveMode::Adaptive, seconds, seed, phaseMs);
                TResult fixed = RunLine(lines[index], media::TReceiveMode::FixedFourSlot, seconds, seed, phaseMs);
                return std::make_pair(adaptive, fixed);
            }));
        }
        for (std::size_t row = start; row < start + runs.size(); ++row) {
            const auto [adaptive, fixed] = runs[row - start].get();
            const TLine& line = lines[rows[row]];
            std::printf("%4.0f%% %-6s %3.0fms %3s | %5.2f %5lld %5d %5.0f %5.0f %5.1f %5.2f | %5d %5.0f %5.1f %5.2f\n",
                        line.loss, line.burst > 1 ? "bursty" : "random", line.jitter, "", adaptive.latePercent,
                        static_cast<long long>(adaptive.concealed), adaptive.holes, adaptive.delayP50,
                        adaptive.delayP95, adaptive.r, adaptive.mos, fixed.holes, fixed.jitterP95, fixed.r, fixed.mos);
            std::fflush(stdout);
        }
    }
    return 0;
}
