// The adaptive jitter buffer, driven with an injected clock: scripted lines
// (clean, lost, late, spike, wrap) and long seeded runs of the relay's own
// impairment model.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "media/adaptive_jitter_buffer.h"
#include "tools/impair_relay/impairment.h"

using media::TAdaptiveJitterBuffer;
using TOutput = TAdaptiveJitterBuffer::TOutput;

namespace {

// Feeds frames at given arrival times and takes out what is due every
// millisecond, recording what came out when.
class TLine {
public:
    struct TOut {
        double atMs;
        TOutput kind;
        int firstByte;  // of a real frame: the frame's number mod 256
    };
    // Frame `n` (RTP timestamp base + 160 n) arriving at `atMs`.
    void Arrive(int n, double atMs) { Arrivals_.insert({atMs, n}); }
    void RunUntil(double endMs) {
        for (; Now_ <= endMs; Now_ += 1) {
            while (!Arrivals_.empty() && Arrivals_.begin()->first <= Now_) {
                const int n = Arrivals_.begin()->second;
                Arrivals_.erase(Arrivals_.begin());
                std::array<uint8_t, 320> frame{};
                frame.fill(static_cast<uint8_t>(n));
                Buffer.Put(frame.data(), 320, Base + static_cast<uint32_t>(n) * 160, Now_);
            }
            std::array<uint8_t, TAdaptiveJitterBuffer::kMaxFrameBytes> out{};
            int length = 0;
            for (TOutput kind; (kind = Buffer.Get(Now_, out.data(), length)) != TOutput::None;)
                Outs.push_back({Now_, kind, kind == TOutput::Frame ? out[0] : -1});
        }
    }
    int Count(TOutput kind) const {
        return static_cast<int>(std::count_if(Outs.begin(), Outs.end(), [&](const TOut& o) { return o.kind == kind; }));
    }

    TAdaptiveJitterBuffer Buffer;
    std::vector<TOut> Outs;
    uint32_t Base = 160000;

private:
    std::multimap<double, int> Arrivals_;
    double Now_ = 0;
};

}  // namespace

TEST(AdaptiveJitterBufferTest, CleanLinePlaysEveryFrameOnArrivalInOrder) {
    TLine line;
    for (int n = 0; n < 200; ++n)
        line.Arrive(n, 100 + 20.0 * n + (n % 3));  // a millisecond or two of wobble
    line.RunUntil(4800);  // and past the end: trailing concealment is no loss
    ASSERT_EQ(line.Count(TOutput::Frame), 200);
    EXPECT_EQ(line.Buffer.Counters().concealed, 0);
    for (int n = 0; n < 200; ++n) {
        EXPECT_EQ(line.Outs[static_cast<size_t>(n)].firstByte, n % 256);
        EXPECT_NEAR(line.Outs[static_cast<size_t>(n)].atMs, 100 + 20.0 * n + (n % 3), 0.5) << n;
    }
    EXPECT_LE(line.Buffer.DelayMs(), 12);
}

// Scripted faults, one frame each, on an otherwise clean line; the figures
// after the whole run.
struct TScript {
    const char* name;
    int frame;        // the first frame the fault hits
    int span;         // frames it hits
    double lateByMs;  // < 0: lost; otherwise they arrive this much after their time
    int wantFrames;
    int wantConcealed;
    int wantLate;
    int wantGrown;
};

class AdaptiveJitterBufferScriptTest : public ::testing::TestWithParam<TScript> {};

TEST_P(AdaptiveJitterBufferScriptTest, FiguresFollowTheFault) {
    const TScript& script = GetParam();
    TLine line;
    for (int n = 0; n < 100; ++n) {
        const bool hit = n >= script.frame && n < script.frame + script.span;
        if (hit && script.lateByMs < 0)
            continue;
        line.Arrive(n, 20.0 * n + (hit ? script.lateByMs : 0));
    }
    line.RunUntil(2700);
    const auto& counters = line.Buffer.Counters();
    EXPECT_EQ(line.Count(TOutput::Frame), script.wantFrames);
    EXPECT_EQ(counters.concealed, script.wantConcealed);
    EXPECT_EQ(counters.late, script.wantLate);
    EXPECT_EQ(counters.grown, script.wantGrown);
    // Whatever happened, output never stalls within the stream: a frame goes
    // out as it comes, a concealment when its time is up (the margin later).
    for (size_t k = 1; k < line.Outs.size() && line.Outs[k].atMs < 1980; ++k)
        EXPECT_LE(line.Outs[k].atMs - line.Outs[k - 1].atMs, 20 + TAdaptiveJitterBuffer::kEarlyMs)
            << "output " << k;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, AdaptiveJitterBufferScriptTest,
    ::testing::Values(
        // Lost: concealed at its time, the next plays on schedule.
        TScript{"Lost", 50, 1, -1, 99, 1, 0, 0},
        TScript{"LostBurstOfThree", 50, 3, -1, 97, 3, 0, 0},
        // Within the margin: no fault at all.
        TScript{"SlightlyLate", 50, 1, 8, 100, 0, 0, 0},
        // A delay spike of 30 ms over three frames: the first one's slot was
        // concealed when it comes; the schedule moves back over it and
        // everything plays (nothing discarded).
        TScript{"SpikeGrowsOverTheGap", 50, 3, 30, 100, 1, 0, 1},
        // One frame 30 ms late while the next came in time: too late to grow
        // over, it is discarded, and the delay grows for what may follow.
        TScript{"LoneLateFrame", 50, 1, 30, 99, 2, 1, 1},
        // Later than the cap allows: discarded, and not followed.
        TScript{"BeyondTheCap", 50, 1, 260, 99, 1, 1, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AdaptiveJitterBufferTest, TimestampWrapAndDuplicatesPlayEachFrameOnce) {
    TLine line;
    line.Base = 0xFFFFFFFFu - 6 * 160 + 1;
    for (int n = 0; n < 20; ++n) {
        line.Arrive(n, 20.0 * n);
        if (n % 5 == 0)
            line.Arrive(n, 20.0 * n + 3);  // a copy
    }
    line.RunUntil(1000);
    ASSERT_EQ(line.Count(TOutput::Frame), 20);
    for (int n = 0; n < 20; ++n)
        EXPECT_EQ(line.Outs[static_cast<size_t>(n)].firstByte, n);
    EXPECT_EQ(line.Buffer.Counters().duplicates, 4);
}

TEST(AdaptiveJitterBufferTest, DelayGrowsForASpikeAndShrinksOverSeconds) {
    TLine line;
    // Clean, then one second of 80 ms spikes every 100 ms, then clean again.
    for (int n = 0; n < 600; ++n) {
        const bool spiky = n >= 100 && n < 150;
        line.Arrive(n, 20.0 * n + (spiky && n % 5 == 0 ? 80 : 0));
    }
    line.RunUntil(3000);
    const double during = line.Buffer.DelayMs();
    EXPECT_GE(during, 80);
    EXPECT_LE(during, 110);
    line.RunUntil(12100);
    EXPECT_LE(line.Buffer.DelayMs(), 12);
    EXPECT_GE(line.Buffer.Counters().skipped, 3);
    // Spikes of 80 ms are absorbed after the first: few late frames.
    EXPECT_LE(line.Buffer.Counters().late, 2);
}

TEST(AdaptiveJitterBufferTest, DelayNeverExceedsTheCap) {
    TLine line;
    for (int n = 0; n < 300; ++n)
        line.Arrive(n, 20.0 * n + (n % 10 == 5 ? 400 : 0));
    line.RunUntil(6500);
    EXPECT_LE(line.Buffer.DelayMs(), TAdaptiveJitterBuffer::kMaxDelayMs);
}

TEST(AdaptiveJitterBufferTest, StreamThatStopsGoesIdleWithoutCountingLossThenResumes) {
    TLine line;
    for (int n = 0; n < 50; ++n)
        line.Arrive(n, 20.0 * n);
    // A pause of three seconds (on hold), then the stream goes on.
    for (int n = 50; n < 100; ++n)
        line.Arrive(n, 3000 + 20.0 * n);
    line.RunUntil(5700);
    EXPECT_EQ(line.Count(TOutput::Frame), 100);
    EXPECT_EQ(line.Buffer.Counters().concealed, 0);
    EXPECT_EQ(line.Buffer.Counters().late, 0);
}

// Long seeded runs through the relay's model: 2% loss with 30 ms of jitter,
// random and bursty. Late discards stay at 1% or less and the delay within
// twice the jitter's 95th percentile (plus the margin of a clean line).
struct TImpairedRun {
    const char* name;
    double loss;
    double burst;
    double jitter;
};

class AdaptiveJitterBufferImpairedTest : public ::testing::TestWithParam<TImpairedRun> {};

TEST_P(AdaptiveJitterBufferImpairedTest, LateDiscardsAndDelayStayWithinTargets) {
    const TImpairedRun& run = GetParam();
    relay::TImpairment impairment;
    impairment.lossPercent = run.loss;
    impairment.burstLength = run.burst;
    impairment.jitterMs = run.jitter;
    impairment.seed = 7;
    relay::TImpairmentModel model(impairment);
    TLine line;
    const int frames = 3000;
    int kept = 0;
    for (int n = 0; n < frames; ++n) {
        const relay::TFate fate = model.Next();
        for (const double wait : fate.sendAfterMs) {
            line.Arrive(n, 20.0 * n + wait);
            ++kept;
        }
    }
    line.RunUntil(20.0 * frames + 800);
    const auto& counters = line.Buffer.Counters();
    EXPECT_LE(counters.late, frames / 100);
    EXPECT_EQ(counters.played + counters.late + counters.skipped, kept);
    EXPECT_LE(line.Buffer.DelayMs(), 2 * 0.95 * run.jitter + TAdaptiveJitterBuffer::kMarginMs);
}

INSTANTIATE_TEST_SUITE_P(Lines, AdaptiveJitterBufferImpairedTest,
                         ::testing::Values(TImpairedRun{"Random2Jitter30", 2, 1, 30},
                                           TImpairedRun{"Bursty5Jitter40", 5, 3, 40},
                                           TImpairedRun{"Jitter20Only", 0, 1, 20}),
                         [](const auto& info) { return std::string(info.param.name); });

// A sound card asking for each period's frame, at every phase of its periods
// against the sender's and with a clock 1% slow or fast: while the stream runs
// no period is left empty, a clean line's frame goes out on the first period
// after it came (within a frame more on a drifting card), and a poor line's
// late discards stay at 1% or less.
struct TPulledRun {
    const char* name;
    double phaseMs;   // of the card's periods against the frames' sending
    double periodMs;  // the card's 20 ms as the sender's clock measures it
    double loss;
    double jitter;
};

class AdaptiveJitterBufferPullTest : public ::testing::TestWithParam<TPulledRun> {};

TEST_P(AdaptiveJitterBufferPullTest, EveryPeriodIsFilledOnTheCardsClock) {
    const TPulledRun& run = GetParam();
    relay::TImpairment impairment;
    impairment.lossPercent = run.loss;
    impairment.jitterMs = run.jitter;
    impairment.seed = 11;
    relay::TImpairmentModel model(impairment);
    const int frames = 1500;
    std::multimap<double, int> arrivals;
    for (int n = 0; n < frames; ++n)
        for (const double wait : model.Next().sendAfterMs)
            arrivals.insert({20.0 * n + 3 + wait, n});
    const double lastArrival = arrivals.rbegin()->first;

    TAdaptiveJitterBuffer buffer;
    std::array<uint8_t, TAdaptiveJitterBuffer::kMaxFrameBytes> out{};
    int empty = 0, started = 0;
    double longestWait = 0, nextPull = run.phaseMs;
    for (double now = 0; now <= lastArrival + 20; now += 1) {
        while (!arrivals.empty() && arrivals.begin()->first <= now) {
            std::array<uint8_t, 320> frame{};
            buffer.Put(frame.data(), 320, static_cast<uint32_t>(40000 + arrivals.begin()->second) * 160, now);
            arrivals.erase(arrivals.begin());
        }
        if (now < nextPull)
            continue;
        nextPull += run.periodMs;
        int length = 0;
        const TOutput kind = buffer.Pull(now, out.data(), length);
        if (kind == TOutput::None) {
            empty += started;
        } else {
            started = 1;
            if (kind == TOutput::Frame)
                longestWait = std::max(longestWait, buffer.LastWaitMs());
        }
    }
    const auto& counters = buffer.Counters();
    EXPECT_EQ(empty, 0);
    EXPECT_LE(counters.late, frames / 100);
    if (run.jitter == 0) {
        const bool drifts = run.periodMs != TAdaptiveJitterBuffer::kFrameMs;
        EXPECT_LT(longestWait, (drifts ? 3 : 1) * TAdaptiveJitterBuffer::kFrameMs);
        if (!drifts) {
            EXPECT_EQ(counters.concealed, 0);
        }
    } else {
        EXPECT_LE(buffer.DelayMs(), 2 * 0.95 * run.jitter + TAdaptiveJitterBuffer::kMarginMs);
    }
}

INSTANTIATE_TEST_SUITE_P(Phases, AdaptiveJitterBufferPullTest,
                         ::testing::Values(TPulledRun{"CleanPhase0", 0, 20, 0, 0}, TPulledRun{"CleanPhase2", 2, 20, 0, 0},
                                           TPulledRun{"CleanPhase13", 13, 20, 0, 0},
                                           TPulledRun{"CleanPhase19", 19, 20, 0, 0},
                                           TPulledRun{"CleanSlowCard", 7, 20.2, 0, 0},
                                           TPulledRun{"CleanFastCard", 7, 19.8, 0, 0},
                                           TPulledRun{"Random2Jitter30Phase4", 4, 20, 2, 30},
                                           TPulledRun{"Random2Jitter30Phase15", 15, 20, 2, 30},
                                           TPulledRun{"Random5Jitter40Phase9", 9, 20, 5, 40},
                                           TPulledRun{"Jitter20Phase18", 18, 20, 0, 20}),
                         [](const auto& info) { return std::string(info.param.name); });

// Packets placed by RTP time, pulled by a card every 20 ms. Each script
// letter is one packet time of the sender: 'p' a packet that arrives on
// time, 'x' one lost on the way, '_' a packet time the sender stayed silent
// (the next 'p' starts a talkspurt: its timestamp jumps, its sequence number
// does not), 's' a packet that arrives one packet time late (after the next
// one). Every sample carries its own RTP time, so a frame heard whole is
// seen whole.
struct TRtpTimeScript {
    const char* name;
    int packetMs;
    const char* script;
    int wantWholeFrames;  // frames heard with every sample right
    int wantConcealed;
    int wantLate;
};

class AdaptiveJitterBufferRtpTimeTest : public ::testing::TestWithParam<TRtpTimeScript> {};

TEST_P(AdaptiveJitterBufferRtpTimeTest, FramesFollowRtpTimeNotSequenceNumbers) {
    const TRtpTimeScript& run = GetParam();
    const int samples = run.packetMs * 8;
    const uint32_t base = 0xFFFFFFFFu - 1000;  // the timestamp wraps on the way
    struct TArrival {
        uint32_t timestamp;
        bool talkspurt;
    };
    std::multimap<double, TArrival> arrivals;
    const std::string script = run.script;
    bool silent = false;
    for (size_t k = 0; k < script.size(); ++k) {
        const char letter = script[k];
        const uint32_t timestamp = base + static_cast<uint32_t>(k * samples);
        const double sentMs = static_cast<double>(k * run.packetMs) + run.packetMs;  // sent once filled
        if (letter == 'p' || letter == 's')
            arrivals.insert({sentMs + (letter == 's' ? run.packetMs + 1 : 0), {timestamp, silent}});
        silent = letter == '_';
    }
    TAdaptiveJitterBuffer buffer;
    std::array<uint8_t, TAdaptiveJitterBuffer::kMaxFrameBytes> out{};
    int whole = 0;
    // On past the time the stream is taken as stopped: its trailing
    // concealments are no loss.
    const double endMs = static_cast<double>(script.size() * run.packetMs) + 800;
    for (double now = 0; now <= endMs; now += 1) {
        while (!arrivals.empty() && arrivals.begin()->first <= now) {
            const TArrival arrival = arrivals.begin()->second;
            std::vector<int16_t> pcm(static_cast<size_t>(samples));
            for (int n = 0; n < samples; ++n)
                pcm[static_cast<size_t>(n)] = static_cast<int16_t>((arrival.timestamp + static_cast<uint32_t>(n) - base) % 16000);
            TAdaptiveJitterBuffer::TPut how;
            how.talkspurt = arrival.talkspurt;
            how.packetSamples = samples;
            buffer.Put(reinterpret_cast<const uint8_t*>(pcm.data()), samples * 2, arrival.timestamp, now, how);
            arrivals.erase(arrivals.begin());
        }
        if (static_cast<int>(now) % 20 != 7)
            continue;
        int length = 0;
        if (buffer.Pull(now, out.data(), length) != TOutput::Frame)
            continue;
        const auto* pcm = reinterpret_cast<const int16_t*>(out.data());
        bool right = length == 320 && pcm[0] % 160 == 0;  // starts on a frame
        for (int n = 1; n < 160 && right; ++n)
            right = pcm[n] == pcm[0] + n;
        whole += right;
    }
    const auto& counters = buffer.Counters();
    EXPECT_EQ(whole, run.wantWholeFrames);
    EXPECT_EQ(counters.concealed, run.wantConcealed);
    EXPECT_EQ(counters.late, run.wantLate);
    EXPECT_LT(buffer.DelayMs(), 2 * run.packetMs + TAdaptiveJitterBuffer::kEarlyMs);
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, AdaptiveJitterBufferRtpTimeTest,
    ::testing::Values(
        // 1.2 s of every packet length: nothing concealed, nothing late.
        TRtpTimeScript{"Packets10ms", 10, "pppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppp", 60, 0, 0},
        TRtpTimeScript{"Packets20ms", 20, "pppppppppppppppppppppppppppppppppppppppppppppppppppppppppppp", 60, 0, 0},
        TRtpTimeScript{"Packets30ms", 30, "pppppppppppppppppppppppppppppppppppppppp", 60, 0, 0},
        TRtpTimeScript{"Packets40ms", 40, "pppppppppppppppppppppppppppppp", 60, 0, 0},
        TRtpTimeScript{"Packets60ms", 60, "pppppppppppppppppppp", 60, 0, 0},
        // Pauses of 100 and 200 ms between talkspurts are the sender's
        // silence: every frame sent is heard, nothing counts as lost or late.
        TRtpTimeScript{"Talkspurts20ms", 20, "pppppppppp_____pppppppppp__________pppppppppp", 30, 0, 0},
        // The third talkspurt starts half way into a frame: that frame and
        // its last are heard in halves, the silence of the pause beside them.
        TRtpTimeScript{"Talkspurts30ms", 30, "pppppppppp____pppppppppp_______pppppppppp", 44, 0, 0},
        // A lost 30 ms packet takes one whole frame and half of another:
        // both are concealed.
        TRtpTimeScript{"Lost30ms", 30, "ppppppppppxppppppppp", 28, 2, 0},
        // A packet swapped with its successor still plays in its place.
        TRtpTimeScript{"Swapped20ms", 20, "ppppppppppsppppppppp", 20, 1, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// Packets longer than a frame (a gateway's 30 ms, 40 and 60 ms), three
// talkspurts with 200 ms pauses, pulled by a card at every phase of its
// periods, each packet up to 1 ms later than its time as a real line and the
// receiving thread make it. A frame the next packet completes may miss the
// one period that falls just before the packet; that may cost one
// concealment in the whole stream, after which the schedule has room, and
// never a gap inside a talkspurt beside it.
struct TLongPackets {
    const char* name;
    int packetMs;
};

class AdaptiveJitterBufferLongPacketTest : public ::testing::TestWithParam<TLongPackets> {};

TEST_P(AdaptiveJitterBufferLongPacketTest, EveryPhaseHearsEachTalkspurtWhole) {
    const int packetMs = GetParam().packetMs;
    constexpr int kTalkspurtMs = 600, kPauseMs = 200, kTalkspurts = 3;
    uint32_t seed = 7;
    for (double phase = 0; phase < TAdaptiveJitterBuffer::kFrameMs; phase += 0.5) {
        struct TArrival {
            uint32_t timestamp;
            bool talkspurt;
        };
        std::multimap<double, TArrival> arrivals;
        for (int spurt = 0; spurt < kTalkspurts; ++spurt) {
            const int startMs = spurt * (kTalkspurtMs + kPauseMs);
            for (int at = 0; at < kTalkspurtMs; at += packetMs) {
                seed = seed * 1103515245u + 12345u;
                const double jitter = static_cast<double>((seed >> 8) % 1000) / 1000.0;
                arrivals.insert({100.0 + startMs + at + packetMs + jitter,
                                 {static_cast<uint32_t>((startMs + at) * 8), at == 0}});
            }
        }
        TAdaptiveJitterBuffer buffer;
        std::array<uint8_t, TAdaptiveJitterBuffer::kMaxFrameBytes> out{};
        std::string heard;  // one letter a period: F frame, c concealment, . nothing
        for (double now = phase; now < 100.0 + kTalkspurts * (kTalkspurtMs + kPauseMs); now += TAdaptiveJitterBuffer::kFrameMs) {
            for (; !arrivals.empty() && arrivals.begin()->first <= now; arrivals.erase(arrivals.begin())) {
                const std::vector<uint8_t> pcm(static_cast<size_t>(packetMs * 16), 1);
                TAdaptiveJitterBuffer::TPut how;
                how.talkspurt = arrivals.begin()->second.talkspurt;
                how.packetSamples = packetMs * 8;
                buffer.Put(pcm.data(), static_cast<int>(pcm.size()), arrivals.begin()->second.timestamp,
                           arrivals.begin()->first, how);
            }
            int length = 0;
            const TOutput kind = buffer.Pull(now, out.data(), length);
            heard += kind == TOutput::Frame ? 'F' : kind == TOutput::Conceal ? 'c' : '.';
        }
        // A gap inside a talkspurt: a run of fills shorter than the pause
        // between two frames.
        int gaps = 0;
        for (size_t from = heard.find('F'); from != std::string::npos;) {
            const size_t fill = heard.find_first_not_of('F', from);
            const size_t next = fill == std::string::npos ? fill : heard.find('F', fill);
            if (next == std::string::npos)
                break;
            gaps += static_cast<int>(next - fill) * TAdaptiveJitterBuffer::kFrameMs < kPauseMs - 2 * TAdaptiveJitterBuffer::kFrameMs;
            from = next;
        }
        EXPECT_LE(gaps, 1) << "phase " << phase << ": " << heard;
        EXPECT_LE(buffer.ConcealedWithinStream(), 1) << "phase " << phase << ": " << heard;
        EXPECT_EQ(buffer.Counters().played, kTalkspurts * kTalkspurtMs / TAdaptiveJitterBuffer::kFrameMs)
            << "phase " << phase << ": " << heard;
    }
}

INSTANTIATE_TEST_SUITE_P(Gateways, AdaptiveJitterBufferLongPacketTest,
                         ::testing::Values(TLongPackets{"Packets30ms", 30}, TLongPackets{"Packets40ms", 40},
                                           TLongPackets{"Packets60ms", 60}),
                         [](const auto& info) { return std::string(info.param.name); });
