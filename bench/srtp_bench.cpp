// CPU per call with SRTP beside plain RTP. N calls run in this process, each
// as two call ends (TCall with its RTP paths) wired back to back over
// loopback UDP, every end sending a 20 ms G.711 frame paced on the steady
// clock and playing what it receives into a null speaker: per end 50 packets
// a second each way, RTCP every 5 s. After a warm-up, one window of the
// process's CPU time (user + system, all threads) is read from getrusage;
// the same process with no call gives the share no call causes, which is
// taken off before the rest is divided by the call ends. A run counts only
// when every end received about as many packets as were sent and, with
// SRTP, dropped none.
//
// Usage: bench_srtp [library] [SECONDS] [CALLS...]   (default 4 s a window,
// seven rounds of each kind; 1 and 10 calls). With `library` libsrtp runs
// the RTP packets on its own crypto backend, rather than the agent's path.
//        bench_srtp side [SECONDS] [CALLS...]   both kinds at once in one
// process, each side's threads timed on their own: four rounds of five
// windows, SRTP on the first side, then on the second, and so on.
//        bench_srtp same [SECONDS] [CALLS...]   the same with plain RTP on
// both sides: the spread of a ratio that should be 1.
// scripts/profile-srtp.sh runs the two modes below under an instruction
// counter: `frames rtp|srtp COUNT` and `transform PACKETS EVICT_KIB`.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "media/aes128.h"
#include "media/call.h"
#include "media/sha1.h"
#include "media/codecs.h"
#include "media/rtp_session.h"
#include "media/srtp_session.h"
#include "sip/sdp_crypto.h"
#include "sip/transport.h"

namespace {

using namespace std::chrono_literals;

class TNullSpeaker : public ISipSpeaker {
public:
    void Play(const void*, int) override {}
    bool CanPlay() override { return true; }
};

uint16_t FreePort() {
    TUdpSocket probe(0, nullptr, [](const std::string&, uint16_t, const uint8_t*, std::size_t) {});
    return probe.LocalPort();
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct TEnd {
    TCallPtr call;
    std::shared_ptr<media::TRtpMediaPath> path;
};

// Two ends of one call; with `srtp` each encrypts with its own key and
// reads the other's, as an agreed offer and answer leave them.
std::pair<TEnd, TEnd> NewCall(bool srtp) {
    TEnd a, b;
    for (TEnd* end : {&a, &b}) {
        end->path = std::make_shared<media::TRtpMediaPath>();
        TCallSettings settings;
        settings.mediaPath = end->path;
        end->call = TCall::Create(std::move(settings));
        end->call->SetCodec(media::CodecRegistry().Create(0));
        end->call->SetNegotiatedPayloadTypes({0});
        // Port + 1 carries the reports: an even port with a free neighbour.
        int port = 0;
        do port = FreePort(); while (port % 2 != 0 || port >= 65534);
        end->call->SetLocalRtpPort(port);
        end->call->SetRemoteRtpHost("127.0.0.1");
        end->call->SetSpeaker(std::make_shared<TNullSpeaker>());
    }
    a.call->SetRemoteRtpPort(b.call->GetLocalRtpPort());
    b.call->SetRemoteRtpPort(a.call->GetLocalRtpPort());
    if (srtp) {
        const TSdpCrypto keyA = NewSdpCrypto(1, kSrtpSuite80), keyB = NewSdpCrypto(1, kSrtpSuite80);
        TCallCrypto cryptoA, cryptoB;
        cryptoA.local = keyA;
        cryptoA.remote = keyB;
        cryptoB.local = keyB;
        cryptoB.remote = keyA;
        a.call->SetCrypto(cryptoA);
        b.call->SetCrypto(cryptoB);
    }
    a.call->SetMediaActive(true);
    b.call->SetMediaActive(true);
    return {a, b};
}

struct TResult {
    double cpuPercent = 0;  // of one core, the whole process over the window
    bool valid = false;
    std::string note;
};

TResult Run(int calls, bool srtp, double seconds) {
    std::vector<TEnd> ends;
    for (int n = 0; n < calls; ++n) {
        auto [a, b] = NewCall(srtp);
        ends.push_back(a);
        ends.push_back(b);
    }
    std::vector<int16_t> frame(kFrameSamples);
    for (int n = 0; n < kFrameSamples; ++n)
        frame[static_cast<std::size_t>(n)] = static_cast<int16_t>(6000 * std::sin(n * 0.09) + 2000 * std::sin(n * 1.3));

    std::atomic<bool> running{true};
    std::atomic<int64_t> frames{0};
    std::thread pacer([&] {
        auto due = std::chrono::steady_clock::now();
        while (running) {
            for (TEnd& end : ends)
                end.call->SendAudioFrame(frame.data());
            ++frames;
            due += 20ms;
            std::this_thread::sleep_until(due);
        }
    });
    std::this_thread::sleep_for(1s);  // warm-up: buffers settle, first reports go
    const double cpuBefore = CpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    const int64_t framesBefore = frames;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double cpu = CpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    const int64_t sent = frames - framesBefore;
    running = false;
    pacer.join();

    TResult result;
    result.cpuPercent = 100.0 * cpu / wall;
    result.valid = true;
    for (TEnd& end : ends) {
        const int64_t received = end.path->Quality().received;
        if (received < (sent * 9) / 10) {
            result.valid = false;
            result.note = "an end received " + std::to_string(received) + " of " + std::to_string(sent);
        }
        if (end.call->Srtp().Dropped() != 0) {
            result.valid = false;
            result.note = "SRTP dropped " + std::to_string(end.call->Srtp().Dropped());
        }
    }
    for (TEnd& end : ends)
        end.call->SetMediaActive(false);
    return result;
}

// The process's threads as the kernel numbers them.
std::vector<pid_t> Tasks() {
    std::vector<pid_t> tasks;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        tasks.push_back(static_cast<pid_t>(std::stol(entry.path().filename().string())));
    std::sort(tasks.begin(), tasks.end());
    return tasks;
}

// Nanoseconds a thread has run (its scheduler statistics, exact to the
// nanosecond); 0 once it is gone.
double TaskCpuSeconds(pid_t task) {
    std::ifstream stat("/proc/self/task/" + std::to_string(task) + "/schedstat");
    double ns = 0;
    stat >> ns;
    return ns / 1e9;
}

// Calls of one kind with the threads that carry them: their media loops,
// found as the threads that appeared while they were set up, and a pacer
// of their own.
struct TSide {
    bool srtp = false;
    std::vector<TEnd> ends;
    std::vector<pid_t> tasks;
    std::atomic<pid_t> pacerTask{0};
    std::atomic<int64_t> frames{0};
    std::thread pacer;

    double CpuSeconds() const {
        double total = TaskCpuSeconds(pacerTask);
        for (const pid_t task : tasks)
            total += TaskCpuSeconds(task);
        return total;
    }
};

// What the windows of side-by-side rounds gave.
struct TSideFigures {
    std::vector<double> ratios, plain, secure;
    bool valid = true;
};

// Both kinds at once in one process, each call's threads timed on their
// own: the two share every moment of the machine's load, so each window
// compares like with like, where windows one after the other compare two
// different moments of a busy machine. The side made first (and its pacer
// half a frame ahead) may sit better with the scheduler for a whole round:
// `srtpFirst` says which side carries SRTP, and the rounds swap it. With
// `sameKind` both sides run plain RTP: the spread two equal sides show is
// the noise a ratio of the two kinds stands on.
void RunSideBySideRound(int calls, double seconds, int windows, bool srtpFirst, bool sameKind,
                        TSideFigures& figures) {
    TSide sides[2];
    std::atomic<bool> running{true};
    std::vector<int16_t> frame(kFrameSamples);
    for (int n = 0; n < kFrameSamples; ++n)
        frame[static_cast<std::size_t>(n)] = static_cast<int16_t>(6000 * std::sin(n * 0.09) + 2000 * std::sin(n * 1.3));
    for (int index = 0; index < 2; ++index) {
        TSide& side = sides[index];
        side.srtp = !sameKind && (index == 0) == srtpFirst;
        const std::vector<pid_t> before = Tasks();
        for (int n = 0; n < calls; ++n) {
            auto [a, b] = NewCall(side.srtp);
            side.ends.push_back(a);
            side.ends.push_back(b);
        }
        const std::vector<pid_t> after = Tasks();
        std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(side.tasks));
    }
    // Half a frame apart: each side's packets run alone, not in the warmth
    // the other's just left in the caches.
    const auto start = std::chrono::steady_clock::now();
    for (int index = 0; index < 2; ++index) {
        TSide& side = sides[index];
        side.pacer = std::thread([&side, &running, &frame, due = start + (index == 1 ? 10ms : 0ms)]() mutable {
            side.pacerTask = static_cast<pid_t>(gettid());
            std::this_thread::sleep_until(due);
            while (running) {
                for (TEnd& end : side.ends)
                    end.call->SendAudioFrame(frame.data());
                ++side.frames;
                due += 20ms;
                std::this_thread::sleep_until(due);
            }
        });
    }
    std::this_thread::sleep_for(1s);  // warm-up
    // A thread that came and went during the set-up (a port probe's) is
    // no call's.
    for (TSide& side : sides)
        std::erase_if(side.tasks, [](pid_t task) {
            return !std::filesystem::exists("/proc/self/task/" + std::to_string(task));
        });
    // Figures of the plain side first; with both plain, of the first side.
    TSide& plainSide = sides[sameKind || !srtpFirst ? 0 : 1];
    TSide& secureSide = sides[sameKind || !srtpFirst ? 1 : 0];
    const int64_t framesBefore = sides[0].frames;
    for (int window = 0; window < windows; ++window) {
        const double before[2] = {plainSide.CpuSeconds(), secureSide.CpuSeconds()};
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        const double rtp = (plainSide.CpuSeconds() - before[0]) / seconds / (2.0 * calls) * 100;
        const double srtp = (secureSide.CpuSeconds() - before[1]) / seconds / (2.0 * calls) * 100;
        figures.plain.push_back(rtp);
        figures.secure.push_back(srtp);
        figures.ratios.push_back(rtp > 0 ? srtp / rtp : 0);
        std::fprintf(stderr, "  %d calls side by side (%s on the first side): rtp %.3f %s %.3f ratio %.3f\n", calls,
                     !sameKind && srtpFirst ? "srtp" : "rtp", rtp, sameKind ? "rtp" : "srtp", srtp,
                     figures.ratios.back());
    }
    const int64_t sent = sides[0].frames - framesBefore;
    running = false;
    for (TSide& side : sides) {
        side.pacer.join();
        for (TEnd& end : side.ends) {
            if (end.path->Quality().received < (sent * 9) / 10 || end.call->Srtp().Dropped() != 0)
                figures.valid = false;
            end.call->SetMediaActive(false);
        }
    }
}

// Rounds of side-by-side windows, SRTP on one side then on the other; prints
// the median of every window's ratio and its spread; false when a side lost
// packets.
bool RunSideBySide(int calls, double seconds, int rounds, int windowsPerRound, bool sameKind) {
    TSideFigures figures;
    for (int round = 0; round < rounds; ++round)
        RunSideBySideRound(calls, seconds, windowsPerRound, round % 2 == 1, sameKind, figures);
    const auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    std::vector<double> ratios = figures.ratios;
    std::sort(ratios.begin(), ratios.end());
    // The middle half of the windows: how far one window's ratio may stray.
    const double lowQuartile = ratios[ratios.size() / 4];
    const double highQuartile = ratios[(3 * ratios.size()) / 4];
    std::printf("%5d  %12.3f  %13.3f  %8.3f  [%.3f .. %.3f] (%d rounds of %d windows of %.0f s)%s\n", calls,
                median(figures.plain), median(figures.secure), median(figures.ratios), lowQuartile, highQuartile,
                rounds, windowsPerRound, seconds, figures.valid ? "" : "  INVALID: packets lost");
    std::fflush(stdout);
    return figures.valid;
}

// One call of the kind for exactly `frames` frames each way, ended once every
// end has taken in what was sent (or after a generous ceiling): a run whose
// work is fixed, so an instruction count of two runs of different lengths
// gives the cost per packet without the start-up around it.
int RunFrames(bool srtp, int64_t frames) {
    auto [a, b] = NewCall(srtp);
    std::vector<int16_t> frame(kFrameSamples, 0);
    for (int n = 0; n < kFrameSamples; ++n)
        frame[static_cast<std::size_t>(n)] = static_cast<int16_t>(6000 * std::sin(n * 0.09));
    auto due = std::chrono::steady_clock::now();
    for (int64_t n = 0; n < frames; ++n) {
        a.call->SendAudioFrame(frame.data());
        b.call->SendAudioFrame(frame.data());
        due += 20ms;
        std::this_thread::sleep_until(due);
    }
    const auto ceiling = std::chrono::steady_clock::now() + 30s;
    const auto received = [&] { return std::min(a.path->Quality().received, b.path->Quality().received); };
    while (received() < frames && std::chrono::steady_clock::now() < ceiling)
        std::this_thread::sleep_for(5ms);
    const int64_t got = received();
    a.call->SetMediaActive(false);
    b.call->SetMediaActive(false);
    std::printf("%s: %lld frames each way, %lld received by the slower end, %llu dropped\n", srtp ? "srtp" : "rtp",
                static_cast<long long>(frames), static_cast<long long>(got),
                static_cast<unsigned long long>(a.call->Srtp().Dropped() + b.call->Srtp().Dropped()));
    return got == frames ? 0 : 1;
}

// The transform alone: microseconds for one 20 ms G.711 packet protected
// and checked, which is what SRTP adds per packet each way.
// With `cold`, the caches are filled with other data before each packet, as
// 20 ms of a busy machine leave them between one call's packets.
double TransformMicroseconds(bool cold, int packets = 0, std::size_t evictBytes = 32u << 20) {
    const std::vector<uint8_t> key(kSdpKeySaltBytes, 7);
    media::TSrtpSession out(media::TSrtpSuite::AesCm128HmacSha1_80, key, media::TSrtpSession::TDirection::Outbound);
    media::TSrtpSession in(media::TSrtpSuite::AesCm128HmacSha1_80, key, media::TSrtpSession::TDirection::Inbound);
    if (packets == 0)
        packets = cold ? 2000 : 20000;
    std::vector<uint8_t> packet(12 + 160 + media::kSrtpMaxGrowth);
    std::vector<uint8_t> evict(cold ? evictBytes : 0);
    std::chrono::steady_clock::duration spent{};
    for (int n = 0; n < packets; ++n) {
        for (std::size_t at = 0; at < evict.size(); at += 64)
            ++evict[at];
        packet[0] = 0x80;
        packet[2] = static_cast<uint8_t>(n >> 8);
        packet[3] = static_cast<uint8_t>(n);
        const auto start = std::chrono::steady_clock::now();
        const auto length = out.ProtectRtp(packet.data(), 12 + 160, packet.size());
        if (!length || in.UnprotectRtp(packet.data(), *length).refusal != media::TSrtpRefusal::None)
            return -1;
        spent += std::chrono::steady_clock::now() - start;
    }
    return std::chrono::duration<double, std::micro>(spent).count() / packets;
}

}  // namespace

int main(int argc, char** argv) {
    // One call of fixed length, for an instruction counter.
    if (argc == 4 && std::string(argv[1]) == "frames")
        return RunFrames(std::string(argv[2]) == "srtp", std::atoll(argv[3]));
    // The transform alone with the caches filled between packets, for a
    // cache simulator.
    if (argc == 4 && std::string(argv[1]) == "transform") {
        std::printf("%.2f us\n", TransformMicroseconds(true, std::atoi(argv[2]), std::size_t(std::atoi(argv[3])) << 10));
        return 0;
    }
    // Both kinds at once, each call's threads timed on their own; `same`
    // runs plain RTP on both sides, for the noise floor.
    if (argc >= 2 && (std::string(argv[1]) == "side" || std::string(argv[1]) == "same")) {
        const bool sameKind = std::string(argv[1]) == "same";
        const double seconds = argc > 2 ? std::atof(argv[2]) : 4.0;
        std::vector<int> counts;
        for (int index = 3; index < argc; ++index)
            counts.push_back(std::atoi(argv[index]));
        if (counts.empty())
            counts = {1, 10};
        std::printf(sameKind ? "calls  rtp %%cpu/end   rtp %%cpu/end  second/first: median of windows [quartiles]\n"
                             : "calls  rtp %%cpu/end  srtp %%cpu/end  srtp/rtp: median of windows [quartiles]\n");
        bool valid = true;
        for (const int calls : counts)
            valid = RunSideBySide(calls, seconds, 4, 5, sameKind) && valid;
        return valid ? 0 : 1;
    }
    int first = 1;
    const bool library = argc > 1 && std::string(argv[1]) == "library";
    if (library) {
        media::ChooseSrtpCrypto(media::TSrtpCrypto::Library);
        ++first;
    }
    if (library)
        std::printf("SRTP: libsrtp on its own crypto\n");
    else
        std::printf("SRTP crypto: the agent's, AES on %s, SHA-1 on %s\n",
                    media::TAes128::ProcessorHasAes() ? "the processor's instructions" : "OpenSSL",
                    media::TSha1::ProcessorHasSha() ? "the processor's instructions" : "OpenSSL");
    const double seconds = argc > first ? std::atof(argv[first]) : 4.0;
    std::vector<int> counts;
    for (int index = first + 1; index < argc; ++index)
        counts.push_back(std::atoi(argv[index]));
    if (counts.empty())
        counts = {1, 10};
    std::printf("protect + unprotect of one packet: %.2f us, caches cold: %.2f us\n", TransformMicroseconds(false),
                TransformMicroseconds(true));
    // One window each is at the mercy of what else the machine does in it:
    // the two kinds alternate over several rounds, in both orders, and both
    // the medians and the ratio of each round's adjacent pair are compared.
    // What the process spends with no call at all (the pacing thread's
    // wake-ups) is measured in windows of its own and taken off before the
    // CPU is shared among the call ends: at one call it would otherwise
    // dilute what the calls themselves cost.
    constexpr int kRounds = 7;
    std::printf("calls  idle %%cpu  rtp %%cpu/end  srtp %%cpu/end  srtp/rtp  paired: median [min .. max]"
                "   (%d rounds of %.0f s windows)\n",
                kRounds, seconds);
    const auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    int status = 0;
    for (const int calls : counts) {
        std::vector<double> idle, plain, secure, ratios;
        std::string notes;
        for (int round = 0; round < kRounds; ++round) {
            if (round == 0 || round == kRounds / 2 || round == kRounds - 1) {
                idle.push_back(Run(0, false, seconds).cpuPercent);
                std::fprintf(stderr, "  no call: %.3f\n", idle.back());
            }
            double pair[2] = {0, 0};
            for (const bool srtp : {round % 2 == 1, round % 2 == 0}) {
                const TResult result = Run(calls, srtp, seconds);
                pair[srtp] = result.cpuPercent;
                std::fprintf(stderr, "  %d calls, %s: %.3f\n", calls, srtp ? "srtp" : "rtp", result.cpuPercent);
                if (!result.valid) {
                    status = 1;
                    notes += result.note;
                }
            }
            plain.push_back(pair[0]);
            secure.push_back(pair[1]);
        }
        const double base = median(idle);
        const double ends = 2.0 * calls;
        for (double& value : plain)
            value = (value - base) / ends;
        for (double& value : secure)
            value = (value - base) / ends;
        for (std::size_t n = 0; n < plain.size(); ++n)
            ratios.push_back(plain[n] > 0 ? secure[n] / plain[n] : 0.0);
        const double plainMedian = median(plain);
        const double secureMedian = median(secure);
        std::printf("%5d  %9.3f  %12.3f  %13.3f  %8.3f  %6.3f [%.3f .. %.3f]%s%s\n", calls, base, plainMedian,
                    secureMedian, plainMedian > 0 ? secureMedian / plainMedian : 0.0, median(ratios),
                    *std::min_element(ratios.begin(), ratios.end()), *std::max_element(ratios.begin(), ratios.end()),
                    notes.empty() ? "" : "  INVALID: ", notes.c_str());
        std::fflush(stdout);
    }
    return status;
}
