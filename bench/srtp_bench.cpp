// CPU per call with SRTP beside plain RTP. N calls run in this process, each
// as two call ends (TCall with its RTP paths) wired back to back over
// loopback UDP, every end sending a 20 ms G.711 frame paced on the steady
// clock and playing what it receives into a null speaker: per end 50 packets
// a second each way, RTCP every 5 s. After a warm-up, one window of the
// process's CPU time (user + system, all threads) is read from getrusage
// and divided by the call ends. A run counts only when every end received
// about as many packets as were sent and, with SRTP, dropped none.
//
// Usage: bench_srtp [library] [SECONDS] [CALLS...]   (default 4 s a window,
// five windows of each kind; 1 and 10 calls). With `library` the crypto is libsrtp's own backend rather than
// the OpenSSL types the agent registers: run both to compare.
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "media/call.h"
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
    double cpuPercentPerEnd = 0;
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
    result.cpuPercentPerEnd = 100.0 * cpu / wall / static_cast<double>(ends.size());
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

// The transform alone: microseconds for one 20 ms G.711 packet protected
// and checked, which is what SRTP adds per packet each way.
double TransformMicroseconds() {
    const std::vector<uint8_t> key(kSdpKeySaltBytes, 7);
    media::TSrtpSession out(media::TSrtpSuite::AesCm128HmacSha1_80, key, media::TSrtpSession::TDirection::Outbound);
    media::TSrtpSession in(media::TSrtpSuite::AesCm128HmacSha1_80, key, media::TSrtpSession::TDirection::Inbound);
    constexpr int kPackets = 20000;
    std::vector<uint8_t> packet(12 + 160 + media::kSrtpMaxGrowth);
    const auto start = std::chrono::steady_clock::now();
    for (int n = 0; n < kPackets; ++n) {
        packet[0] = 0x80;
        packet[2] = static_cast<uint8_t>(n >> 8);
        packet[3] = static_cast<uint8_t>(n);
        const auto length = out.ProtectRtp(packet.data(), 12 + 160, packet.size());
        if (!length || in.UnprotectRtp(packet.data(), *length).refusal != media::TSrtpRefusal::None)
            return -1;
    }
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / kPackets;
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    const bool library = argc > 1 && std::string(argv[1]) == "library";
    if (library) {
        media::ChooseSrtpCrypto(media::TSrtpCrypto::Library);
        ++first;
    }
    std::printf("SRTP crypto: %s\n", library ? "libsrtp's own" : "OpenSSL types");
    const double seconds = argc > first ? std::atof(argv[first]) : 4.0;
    std::vector<int> counts;
    for (int index = first + 1; index < argc; ++index)
        counts.push_back(std::atoi(argv[index]));
    if (counts.empty())
        counts = {1, 10};
    std::printf("protect + unprotect of one packet: %.2f us\n", TransformMicroseconds());
    // One window each is at the mercy of what else the machine does in it:
    // the two kinds alternate over several rounds, in both orders, and the
    // medians are compared.
    constexpr int kRounds = 5;
    std::printf("calls  rtp %%cpu/end  srtp %%cpu/end  srtp/rtp   (medians of %d alternating rounds)\n", kRounds);
    int status = 0;
    for (const int calls : counts) {
        std::vector<double> plain;
        std::vector<double> secure;
        std::string notes;
        for (int round = 0; round < kRounds; ++round) {
            for (const bool srtp : {round % 2 == 1, round % 2 == 0}) {
                const TResult result = Run(calls, srtp, seconds);
                (srtp ? secure : plain).push_back(result.cpuPercentPerEnd);
                std::fprintf(stderr, "  %d calls, %s: %.3f\n", calls, srtp ? "srtp" : "rtp", result.cpuPercentPerEnd);
                if (!result.valid) {
                    status = 1;
                    notes += result.note;
                }
            }
        }
        const auto median = [](std::vector<double> values) {
            std::sort(values.begin(), values.end());
            return values[values.size() / 2];
        };
        const double plainMedian = median(plain);
        const double secureMedian = median(secure);
        std::printf("%5d  %12.3f  %13.3f  %8.3f%s%s\n", calls, plainMedian, secureMedian,
                    plainMedian > 0 ? secureMedian / plainMedian : 0.0, notes.empty() ? "" : "  INVALID: ",
                    notes.c_str());
    }
    return status;
}
