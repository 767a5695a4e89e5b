// Mouth-to-ear latency added by the agent, one way, with the project's file
// devices: call A captures a WAV file with a click every half second and
// sends it over loopback UDP to call B, whose speaker records a WAV file.
// Each click is timed at every hand-over:
//
//   spoken      its place in the source file on the microphone's time line
//   captured    A's capture thread hands the frame holding it to the call
//   on the wire a relay socket between A and B receives the packet
//   to speaker  B's receive path takes the frame out of the jitter buffer
//   heard       its place in the recorded file on the speaker's time line
//
// so the total splits into capture (the frame fills after the click), send
// delay (from the capture to the socket), network and jitter buffer, playback queue
// (until the frame starts playing) and playout (the click's place within its
// frame). Capture and playout always add up to one frame.
//
// The speaker's periods and the microphone's frames run on clocks of their
// own, as two sound cards do; the wait in the playback queue depends on their
// phase, so one call is measured at each of four phases.
//
//   latency_bench [SECONDS [PAYLOAD_TYPE]]     defaults: 10 s per phase, 0 (PCMU); 8 is PCMA
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "media/audio_file_devices.h"
#include "media/audio_wav_writer.h"
#include "media/call.h"
#include "media/codecs.h"
#include "media/rtp_session.h"
#include "media/wav.h"
#include "sip/transport.h"

namespace {

using media::TAudioClock;
using TTime = TAudioClock::time_point;
using TMs = std::chrono::duration<double, std::milli>;

constexpr int kSampleRate = 8000;
constexpr int16_t kClickLevel = 24000;
constexpr int kClickThreshold = 12000;  // G.711 keeps the click above this; silence stays at 0
constexpr int kFirstClick = kSampleRate / 2;
// Not a multiple of the frame length, so the clicks fall at every offset
// within a frame in turn and the framing delay is sampled evenly.
constexpr int kClickSpacing = kSampleRate / 2 + 13;

std::optional<int> FindClick(const int16_t* pcm, int count) {
    for (int n = 0; n < count; ++n)
        if (std::abs(pcm[n]) > kClickThreshold)
            return n;
    return std::nullopt;
}

// Times at which one stage saw each click, in order; any thread may add.
class TStage {
public:
    void Saw(TTime when) {
        std::lock_guard<std::mutex> guard(Lock_);
        Times_.push_back(when);
    }
    std::vector<TTime> Times() {
        std::lock_guard<std::mutex> guard(Lock_);
        return Times_;
    }

private:
    std::mutex Lock_;
    std::vector<TTime> Times_;
};

// Sees the frames A sends (capture side) and B receives (playout side).
class TClickTap : public ISipRecorder {
public:
    TClickTap(TStage* sent, TStage* received) : Sent_(sent), Received_(received) {}
    void SentFrame(const int16_t* pcm) override {
        if (Sent_ && FindClick(pcm, 160))
            Sent_->Saw(TAudioClock::now());
    }
    void ReceivedFrame(const int16_t* pcm) override {
        if (Received_ && FindClick(pcm, 160))
            Received_->Saw(TAudioClock::now());
    }

private:
    TStage* const Sent_;
    TStage* const Received_;
};

std::string TempName(const std::string& stem) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/latency-" + stem + "-" + std::to_string(getpid()) + ".wav";
}

std::vector<int> WriteClickFile(const std::string& name, int seconds) {
    std::vector<int16_t> samples(static_cast<size_t>(seconds) * kSampleRate, 0);
    std::vector<int> clicks;
    // The last second stays quiet so every click is heard before the end.
    for (int at = kFirstClick; at < (seconds - 1) * kSampleRate; at += kClickSpacing) {
        samples[static_cast<size_t>(at)] = kClickLevel;
        clicks.push_back(at);
    }
    media::TWavWriter writer(name);
    writer.Write(samples.data(), samples.size());
    return clicks;
}

std::vector<int> FindClicksInFile(const std::string& name) {
    media::TWavFile file(name);
    std::vector<int16_t> samples(static_cast<size_t>(file.GetSize() / 2));
    file.Read(samples.data(), static_cast<int>(samples.size() * 2));
    std::vector<int> clicks;
    for (size_t n = 0; n < samples.size(); ++n)
        if (std::abs(samples[n]) > kClickThreshold && (clicks.empty() || n - static_cast<size_t>(clicks.back()) > 800))
            clicks.push_back(static_cast<int>(n));
    return clicks;
}

TCallPtr NewCall(int payloadType, ISipRecorderPtr tap) {
    TCallSettings settings;
    settings.mediaPath = media::NewRtpMediaPath();
    TCallPtr call = TCall::Create(std::move(settings));
    call->SetCodec(media::CodecRegistry().Create(payloadType));
    call->SetRecorder(std::move(tap));
    call->SetRemoteRtpHost("127.0.0.1");
    TUdpSocket probe(0, nullptr, [](const std::string&, uint16_t, const uint8_t*, std::size_t) {});
    call->SetLocalRtpPort(probe.LocalPort());
    return call;
}

struct TSummary {
    double mean = 0, min = 0, max = 0;
};

TSummary Summarise(const std::vector<double>& values) {
    TSummary summary;
    if (values.empty())
        return summary;
    summary.min = *std::min_element(values.begin(), values.end());
    summary.max = *std::max_element(values.begin(), values.end());
    for (const double value : values)
        summary.mean += value / static_cast<double>(values.size());
    return summary;
}

void PrintRow(const char* name, const std::vector<double>& values) {
    const TSummary s = Summarise(values);
    std::printf("  %-34s %7.2f %7.2f %7.2f\n", name, s.mean, s.min, s.max);
}

struct TRound {
    std::vector<double> framing, sendDelay, network, queue, playout, total;
    bool complete = false;
};

// One call of `seconds` whose microphone starts `phase` after the speaker:
// real devices run on unrelated clocks, so every phase occurs.
// With `stall`, the network holds every packet for that long two seconds in
// and then delivers them at once, as after a short outage.
TRound RunRound(int seconds, int payloadType, std::chrono::milliseconds phase,
                std::chrono::milliseconds stall = std::chrono::milliseconds(0)) {
    const std::string sourceName = TempName("source");
    const std::string heardName = TempName("heard");
    const std::vector<int> clicks = WriteClickFile(sourceName, seconds);

    TStage captured, onWire, toSpeaker;
    TCallPtr caller = NewCall(payloadType, std::make_shared<TClickTap>(&captured, nullptr));
    TCallPtr callee = NewCall(payloadType, std::make_shared<TClickTap>(nullptr, &toSpeaker));

    // The relay stands for the network: it notes when each packet with a
    // click is on the wire and passes every packet on to B unchanged.
    const IAudioCodecPtr wireCodec = media::CodecRegistry().Create(payloadType);
    TUdpSocket toCallee(0, nullptr, [](const std::string&, uint16_t, const uint8_t*, std::size_t) {});
    const uint16_t calleePort = static_cast<uint16_t>(callee->GetLocalRtpPort());
    std::atomic<TAudioClock::rep> stallFrom{TTime::max().time_since_epoch().count()};
    std::vector<std::vector<uint8_t>> held;  // relay thread only
    TUdpSocket relay(0, nullptr, [&](const std::string&, uint16_t, const uint8_t* data, std::size_t length) {
        const TTime now = TAudioClock::now();
        const TTime from{TAudioClock::duration(stallFrom.load())};
        if (now >= from && now < from + stall) {
            held.emplace_back(data, data + length);
            return;
        }
        for (const auto& packet : held)
            toCallee.Send("127.0.0.1", calleePort, packet.data(), packet.size());
        held.clear();
        if (length > media::TRtpMediaPath::kHeaderSize && (data[1] & 0x7F) == payloadType) {
            int16_t pcm[480];  // room for a Speex packet of three frames
            const int bytes = static_cast<int>(std::min<std::size_t>(length - 12, 160));
            wireCodec->Decode(data + 12, pcm, bytes);
            if (FindClick(pcm, bytes))
                onWire.Saw(now);
        }
        toCallee.Send("127.0.0.1", calleePort, data, length);
    });
    caller->SetRemoteRtpPort(relay.LocalPort());
    // B takes RTP only from its peer's address: the relay's sending socket
    // is that peer, as a provider's media relay would be.
    callee->SetRemoteRtpPort(toCallee.LocalPort());

    TTime spokenOrigin, heardOrigin;
    {
        auto speaker = std::make_shared<media::TFileSpeaker>(heardName);
        heardOrigin = speaker->GetTimeLineStart();
        callee->SetSpeaker(speaker);
        callee->SetMediaActive(true);
        caller->SetMediaActive(true);
        std::this_thread::sleep_until(heardOrigin + phase);
        auto microphone = std::make_shared<media::TFileMicrophone>(sourceName);
        spokenOrigin = microphone->GetTimeLineStart();
        stallFrom = (spokenOrigin + std::chrono::milliseconds(2100)).time_since_epoch().count();
        caller->SetMicrophone(microphone);
        microphone->SetCall(caller);

        std::this_thread::sleep_for(std::chrono::seconds(seconds) + std::chrono::milliseconds(300));

        microphone->SetCall(nullptr);
        caller->SetMicrophone(nullptr);
        caller->SetMediaActive(false);
        callee->SetMediaActive(false);
        callee->SetSpeaker(nullptr);
    }  // the speaker completes its file here

    const std::vector<int> heardAt = FindClicksInFile(heardName);
    std::remove(sourceName.c_str());
    std::remove(heardName.c_str());
    const auto sent = captured.Times(), wire = onWire.Times(), played = toSpeaker.Times();
    const size_t count = clicks.size();
    TRound round;
    if (sent.size() != count || wire.size() != count || played.size() != count || heardAt.size() != count) {
        std::printf("  phase %2lld ms: clicks seen: captured %zu, on the wire %zu, to speaker %zu, heard %zu (of %zu)\n",
                    static_cast<long long>(phase.count()), sent.size(), wire.size(), played.size(), heardAt.size(),
                    count);
        return round;
    }
    for (size_t i = 0; i < count; ++i) {
        // The click's place within its frame is the same at both ends:
        // frames are never split or merged on the way.
        const auto inFrame = media::SamplesDuration(clicks[i] % media::kFrameSamples);
        const TTime spoken = spokenOrigin + media::SamplesDuration(clicks[i]);
        const TTime heard = heardOrigin + media::kFramePeriod + media::SamplesDuration(heardAt[i]);
        const TTime startsPlaying = heard - inFrame;
        if (heardAt[i] % media::kFrameSamples != clicks[i] % media::kFrameSamples) {
            std::printf("  click %zu moved within its frame\n", i);
            return round;
        }
        round.framing.push_back(TMs(sent[i] - spoken).count());
        round.sendDelay.push_back(TMs(wire[i] - sent[i]).count());
        round.network.push_back(TMs(played[i] - wire[i]).count());
        round.queue.push_back(TMs(startsPlaying - played[i]).count());
        round.playout.push_back(TMs(inFrame).count());
        round.total.push_back(TMs(heard - spoken).count());
    }
    round.complete = true;
    return round;
}

void Append(std::vector<double>& to, const std::vector<double>& from) { to.insert(to.end(), from.begin(), from.end()); }

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 10;
    const int payloadType = argc > 2 ? std::atoi(argv[2]) : 0;
    if (payloadType != 0 && payloadType != 8) {
        std::fprintf(stderr, "latency_bench: payload type 0 (PCMU) or 8 (PCMA)\n");
        return 2;
    }
    std::printf("mouth-to-ear latency, one way, %s over loopback with the file devices\n",
                payloadType == 0 ? "PCMU" : "PCMA");
    std::printf("one call of %d s per phase of the microphone's clock against the speaker's\n", seconds);
    TRound all;
    bool complete = true;
    for (const int phase : {1, 5, 10, 15}) {
        const TRound round = RunRound(seconds, payloadType, std::chrono::milliseconds(phase));
        if (!round.complete) {
            complete = false;
            continue;
        }
        const TSummary total = Summarise(round.total);
        std::printf("  phase %2d ms: %zu clicks, total mean %.2f ms, min %.2f, max %.2f\n", phase,
                    round.total.size(), total.mean, total.min, total.max);
        Append(all.framing, round.framing);
        Append(all.sendDelay, round.sendDelay);
        Append(all.network, round.network);
        Append(all.queue, round.queue);
        Append(all.playout, round.playout);
        Append(all.total, round.total);
    }
    if (!complete || all.total.empty()) {
        std::printf("FAILED: clicks were lost or moved\n");
        return 1;
    }
    std::printf("\n  %-34s %7s %7s %7s  (ms, all phases)\n", "stage", "mean", "min", "max");
    PrintRow("capture: the frame fills", all.framing);
    PrintRow("send delay", all.sendDelay);
    PrintRow("network + jitter buffer", all.network);
    PrintRow("playback queue", all.queue);
    PrintRow("playout: the frame reaches it", all.playout);
    PrintRow("total, mouth to ear", all.total);

    // Not part of the target: how the delay recovers after an outage, when
    // the packets held up arrive together and wait in the playback queue.
    const int stallSeconds = std::max(seconds, 14);
    const TRound stalled = RunRound(stallSeconds, payloadType, std::chrono::milliseconds(5), std::chrono::milliseconds(200));
    if (stalled.complete) {
        std::printf("\n  a 200 ms network stall 2.1 s into a %d s call; delay per click (ms), every 0.5 s:\n   ", stallSeconds);
        for (size_t i = 0; i < stalled.total.size(); ++i)
            std::printf(" %.0f", stalled.total[i]);
        std::printf("\n");
    }

    const double worst = Summarise(all.total).max;
    std::printf("  target: at most 80 ms one way: %s (worst %.2f ms)\n", worst <= 80.0 ? "met" : "MISSED", worst);
    return worst <= 80.0 ? 0 : 1;
}
