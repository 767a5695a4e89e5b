// Real streams as peers send them, through loopback sockets into a call whose
// file speaker records what a listener hears: every packet length of every
// codec, pauses between talkspurts with and without comfort noise, a sender
// that restarts, counters that wrap, GSM packets swapped and lost, telephone
// events among the audio, and headers with CSRCs, an extension and padding.
// Each talkspurt must be heard whole, and the figures must show the line as
// it was.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <ostream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "media/audio_file_devices.h"
#include "media/call_quality.h"
#include "media/codecs.h"
#include "media/rtp_session.h"
#include "media/wav.h"
#include "tests/media/audio_test_util.h"
#include "tests/media/rtp_test_util.h"

using namespace rtp_test;

namespace {

constexpr double kAmplitude = 8000;
constexpr int kFrameMs = 20;

enum class TTwist { None, Restart, Wrap, Swap, LoseOne, Events, HeaderExtras };

struct TStream {
    const char* name;
    int payloadType;
    int packetMs;
    int talkspurts;  // of 600 ms each
    int pauseMs;     // between them
    bool comfortNoise;
    TTwist twist;
};

// Rows print as their names, so CTest lists them readably.
void PrintTo(const TStream& stream, std::ostream* out) { *out << stream.name; }

struct TSend {
    int atMs;
    std::vector<uint8_t> datagram;
};

// Writes packets of one sender: consecutive sequence numbers, timestamps in
// samples of the sender's clock (they keep running over its pauses).
class TSender {
public:
    TSender(int payloadType, uint16_t sequence, uint32_t timestamp, uint32_t ssrc)
        : PayloadType_(payloadType), Sequence_(sequence), Ssrc_(ssrc), Base_(timestamp) {}
    std::vector<uint8_t> Packet(int payloadType, bool marker, int atSample, const std::vector<uint8_t>& payload,
                                bool extras = false) {
        const uint32_t timestamp = Base_ + static_cast<uint32_t>(atSample);
        std::vector<uint8_t> d = {static_cast<uint8_t>(0x80 | (extras ? 0x30 | 2 : 0)),
                                  static_cast<uint8_t>((marker ? 0x80 : 0) | payloadType),
                                  static_cast<uint8_t>(Sequence_ >> 8), static_cast<uint8_t>(Sequence_),
                                  static_cast<uint8_t>(timestamp >> 24), static_cast<uint8_t>(timestamp >> 16),
                                  static_cast<uint8_t>(timestamp >> 8), static_cast<uint8_t>(timestamp),
                                  static_cast<uint8_t>(Ssrc_ >> 24), static_cast<uint8_t>(Ssrc_ >> 16),
                                  static_cast<uint8_t>(Ssrc_ >> 8), static_cast<uint8_t>(Ssrc_)};
        if (extras) {
            // Two contributing sources and a one-word extension, each loud
            // enough to be heard if it were taken for audio.
            const uint8_t header[] = {0x7F, 0x7F, 0x7F, 0x7F, 0x00, 0x00, 0x00, 0x00, 0xBE, 0xDE, 0, 1, 0x11, 0x22, 0x33, 0x44};
            d.insert(d.end(), std::begin(header), std::end(header));
        }
        d.insert(d.end(), payload.begin(), payload.end());
        if (extras)
            d.insert(d.end(), {0x00, 0x7F, 0x7F, 4});
        ++Sequence_;
        return d;
    }
    int PayloadType() const { return PayloadType_; }

private:
    int PayloadType_;
    uint16_t Sequence_;
    uint32_t Ssrc_;
    uint32_t Base_;
};

// The tone, continuous over the whole call, encoded 20 ms at a time.
std::vector<std::vector<uint8_t>> EncodedFrames(int payloadType, int frames) {
    const auto tone = media_test::Sine(1000, frames * 160, kAmplitude);
    const IAudioCodecPtr codec = media::CodecRegistry().Create(payloadType);
    std::vector<std::vector<uint8_t>> encoded;
    std::array<uint8_t, 1024> payload{};
    for (int n = 0; n < frames; ++n) {
        const int bytes = codec->Encode(tone.data() + n * 160, payload.data());
        encoded.emplace_back(payload.begin(), payload.begin() + bytes);
    }
    return encoded;
}

struct TPlan {
    std::vector<TSend> sends;
    std::vector<std::pair<int, int>> talkspurtsMs;  // start and end on the sender's clock
    int audioPackets = 0;
    int lost = 0;
    std::string digits;
};

TPlan Plan(const TStream& s) {
    constexpr int kTalkspurtMs = 600;
    TPlan plan;
    const bool wrap = s.twist == TTwist::Wrap;
    TSender first(s.payloadType, wrap ? 65530 : 1000, wrap ? 0xFFFFFFFFu - 1600 : 5000, 0x11223344);
    TSender restarted(s.payloadType, 40000, 0x70000000, 0x55667788);
    const int frames = s.talkspurts * kTalkspurtMs / kFrameMs;
    const auto encoded = EncodedFrames(s.payloadType, frames);
    const bool g711 = s.payloadType == 0 || s.payloadType == 8;
    int frame = 0;
    int clockMs = 0;  // the sender's clock
    for (int spurt = 0; spurt < s.talkspurts; ++spurt) {
        plan.talkspurtsMs.push_back({clockMs, clockMs + kTalkspurtMs});
        for (int at = 0; at < kTalkspurtMs; at += s.packetMs) {
            TSender& sender = s.twist == TTwist::Restart && at >= kTalkspurtMs / 2 ? restarted : first;
            std::vector<uint8_t> payload;
            if (g711) {
                // G.711 is one byte a sample: a packet is any run of them.
                for (int sample = at * 8; sample < (at + s.packetMs) * 8; ++sample)
                    payload.push_back(encoded[static_cast<size_t>(frame + sample / 160)][static_cast<size_t>(sample % 160)]);
            } else {
                for (int k = at / kFrameMs; k < (at + s.packetMs) / kFrameMs; ++k)
                    payload.insert(payload.end(), encoded[static_cast<size_t>(frame + k)].begin(),
                                   encoded[static_cast<size_t>(frame + k)].end());
            }
            const int sentAtMs = clockMs + at + s.packetMs;  // a packet leaves once it is full
            auto d = sender.Packet(s.payloadType, at == 0, (clockMs + at) * 8, payload, s.twist == TTwist::HeaderExtras);
            ++plan.audioPackets;
            const int index = plan.audioPackets;
            if (s.twist == TTwist::LoseOne && index == 12) {
                ++plan.lost;
                continue;
            }
            // Packet 12 is sent early, just before packet 11.
            const bool early = s.twist == TTwist::Swap && index == 12;
            plan.sends.push_back({early ? sentAtMs - s.packetMs : sentAtMs, std::move(d)});
            if (early)
                std::swap(plan.sends.back(), plan.sends[plan.sends.size() - 2]);
            if (s.twist == TTwist::Events && spurt == 0 && at % 200 == 100 && at < 500) {
                // An event of 100 ms every 200 ms, sent beside the audio:
                // five updates and the end three times, one timestamp.
                const char key = "159"[at / 200];
                plan.digits += key;
                const int start = (clockMs + at) * 8;
                for (int update = 1; update <= 8; ++update) {
                    const int duration = std::min(update, 5) * 160;
                    const bool end = update >= 6;
                    const std::vector<uint8_t> event = {static_cast<uint8_t>(key == '1' ? 1 : key == '5' ? 5 : 9),
                                                        static_cast<uint8_t>(end ? 0x8A : 0x0A),
                                                        static_cast<uint8_t>(duration >> 8), static_cast<uint8_t>(duration)};
                    plan.sends.push_back({sentAtMs + 20 * std::min(update - 1, 5) + 5,
                                          sender.Packet(101, update == 1, start, event)});
                }
            }
        }
        frame += kTalkspurtMs / kFrameMs;
        clockMs += kTalkspurtMs;
        if (spurt + 1 < s.talkspurts) {
            if (s.comfortNoise)  // silence at 70 dB below full scale
                plan.sends.push_back({clockMs + 5, first.Packet(13, false, clockMs * 8, {70})});
            clockMs += s.pauseMs;
        }
    }
    std::stable_sort(plan.sends.begin(), plan.sends.end(),
                     [](const TSend& a, const TSend& b) { return a.atMs < b.atMs; });
    if (s.twist == TTwist::Events) {
        // Events and audio share the sequence, numbered as they leave.
        uint16_t sequence = 1000;
        for (TSend& send : plan.sends) {
            send.datagram[2] = static_cast<uint8_t>(sequence >> 8);
            send.datagram[3] = static_cast<uint8_t>(sequence++);
        }
    }
    return plan;
}

double Rms(const int16_t* pcm, int count) {
    double sum = 0;
    for (int n = 0; n < count; ++n)
        sum += static_cast<double>(pcm[n]) * pcm[n];
    return std::sqrt(sum / count);
}

class ReceivedStreamTest : public ::testing::TestWithParam<TStream> {
protected:
    void SetUp() override {
        if (!media::CodecRegistry().IsRegistered(GetParam().payloadType))
            GTEST_SKIP() << "codec not available";
        Recording = std::filesystem::temp_directory_path() /
                    ("received_stream_" + std::to_string(getpid()) + ".wav");
        TCallSettings settings;
        settings.eventSink = Sink;
        settings.mediaPath = std::make_shared<media::TRtpMediaPath>();
        Call = TCall::Create(std::move(settings));
        Call->SetCodec(media::CodecRegistry().Create(GetParam().payloadType));
        Call->SetNegotiatedPayloadTypes({GetParam().payloadType});
        Call->SetLocalRtpPort(FreePort());
        Call->SetRemoteRtpHost("127.0.0.1");
        Call->SetRemoteRtpPort(Peer.LocalPort());
        Call->SetSpeaker(std::make_shared<media::TFileSpeaker>(Recording.string()));
    }
    void TearDown() override {
        if (Call)
            Call->SetMediaActive(false);
        std::filesystem::remove(Recording);
    }
    void Send(const TPlan& plan) {
        Call->SetMediaActive(true);
        const auto port = static_cast<uint16_t>(Call->GetLocalRtpPort());
        const auto start = std::chrono::steady_clock::now();
        for (const TSend& send : plan.sends) {
            const auto due = start + std::chrono::milliseconds(send.atMs);
            std::this_thread::sleep_until(due);
            // A loaded machine may wake this sender late; what the call then
            // makes of the late packet says nothing of its receive path.
            if (std::chrono::steady_clock::now() - due > std::chrono::milliseconds(10))
                ++DelayedSends;
            ASSERT_TRUE(Peer.Send("127.0.0.1", port, send.datagram.data(), send.datagram.size()));
        }
        // The last frames are played out on the speaker's clock.
        std::this_thread::sleep_until(start + std::chrono::milliseconds(plan.sends.back().atMs + 300));
        Call->SetMediaActive(false);
        Call->SetSpeaker(nullptr);  // the file is complete once the speaker is gone
    }
    std::vector<int16_t> Recorded() {
        media::TWavFile file(Recording.string());
        std::vector<int16_t> samples(static_cast<size_t>(file.GetSize() / 2));
        file.Read(samples.data(), static_cast<int>(samples.size() * 2));
        return samples;
    }

    std::shared_ptr<TRecordingSink> Sink = std::make_shared<TRecordingSink>();
    TUdpSocket Peer{0, nullptr, nullptr};
    std::filesystem::path Recording;
    TCallPtr Call;
    int DelayedSends = 0;
};

// 20 ms windows, every 10 ms, quieter than the tone by 30 dB, inside the
// talkspurts as the first loud window places them (30 ms of slack at each
// end for where the buffer starts each one).
int HolesInTalkspurts(const std::vector<int16_t>& heard, const std::vector<std::pair<int, int>>& talkspurtsMs) {
    const double floor = kAmplitude / std::sqrt(2.0) * std::pow(10, -30 / 20.0);
    std::vector<bool> loud;
    for (size_t at = 0; at + 160 <= heard.size(); at += 80)
        loud.push_back(Rms(heard.data() + at, 160) >= floor);
    const auto first = std::find(loud.begin(), loud.end(), true);
    if (first == loud.end())
        return -1;
    const int origin = static_cast<int>(first - loud.begin()) - talkspurtsMs.front().first / 10;
    int holes = 0;
    for (const auto& [startMs, endMs] : talkspurtsMs)
        for (int window = origin + startMs / 10 + 3; window < origin + (endMs - kFrameMs) / 10 - 3; ++window)
            if (window < 0 || window >= static_cast<int>(loud.size()) || !loud[static_cast<size_t>(window)])
                ++holes;
    return holes;
}

}  // namespace

TEST_P(ReceivedStreamTest, EveryTalkspurtIsHeardWholeAndTheFiguresAreRight) {
    const TStream& stream = GetParam();
    const TPlan plan = Plan(stream);
    Send(plan);
    const media::TCallQuality quality = Call->GetQuality();
    std::printf("%s: %s\n", stream.name, quality.Text().c_str());

    // Strict on a stream sent on time; a packet this test itself sent late
    // may cost the frames it carries and the windows around them.
    std::printf("%s: %d packets sent more than 10 ms late\n", stream.name, DelayedSends);
    EXPECT_LE(HolesInTalkspurts(Recorded(), plan.talkspurtsMs), DelayedSends * (stream.packetMs / 10 + 4));
    EXPECT_EQ(Sink->GetDigits(), plan.digits);
    EXPECT_EQ(quality.lost, plan.lost);
    // What a loaded machine delays past its time may be late (one packet,
    // or 2% of a long stream), never more.
    const int scheduling = 1 + plan.audioPackets / 50 + DelayedSends * (stream.packetMs / 20 + 1);
    EXPECT_LE(quality.late, scheduling);
    // The buffer follows the jitter it sees, the loaded machine's too.
    if (DelayedSends == 0) {
        EXPECT_LE(quality.bufferDelayMs, 2 * stream.packetMs + 40);
    }
    if (plan.lost == 0) {
        EXPECT_LE(quality.concealed, scheduling);
        // Loss and R judge the receive path only on a stream sent on time:
        // the packets this test sent late count as loss of the machine's.
        if (DelayedSends == 0) {
            EXPECT_LE(quality.lossPercent, 2.0);
            const double clean = media::EstimateR(stream.payloadType, 0, 1, 40 + 2 * stream.packetMs);
            EXPECT_GE(quality.r, clean - 3);
        }
    } else {
        EXPECT_GE(quality.concealed, plan.lost);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, ReceivedStreamTest,
    ::testing::Values(TStream{"Pcmu10ms", 0, 10, 1, 0, false, TTwist::None},
                      TStream{"Pcmu20ms", 0, 20, 1, 0, false, TTwist::None},
                      TStream{"Pcmu30ms", 0, 30, 1, 0, false, TTwist::None},
                      TStream{"Pcmu40ms", 0, 40, 1, 0, false, TTwist::None},
                      TStream{"Pcmu60ms", 0, 60, 1, 0, false, TTwist::None},
                      TStream{"Pcma30ms", 8, 30, 1, 0, false, TTwist::None},
                      TStream{"Pcma60ms", 8, 60, 1, 0, false, TTwist::None},
                      TStream{"Gsm20ms", 3, 20, 1, 0, false, TTwist::None},
                      TStream{"Gsm40ms", 3, 40, 1, 0, false, TTwist::None},
                      TStream{"Gsm60ms", 3, 60, 1, 0, false, TTwist::None},
                      TStream{"Speex20ms", 110, 20, 1, 0, false, TTwist::None},
                      TStream{"Pause100ms", 0, 20, 3, 100, false, TTwist::None},
                      TStream{"Pause200ms30msPackets", 0, 30, 3, 200, false, TTwist::None},
                      TStream{"Pause600ms", 8, 20, 2, 600, false, TTwist::None},
                      TStream{"Pause100msComfortNoise", 0, 20, 3, 100, true, TTwist::None},
                      TStream{"Pause200msComfortNoiseGsm", 3, 20, 3, 200, true, TTwist::None},
                      TStream{"Pause600msComfortNoise", 0, 20, 2, 600, true, TTwist::None},
                      TStream{"SenderRestart", 0, 20, 2, 0, false, TTwist::Restart},
                      TStream{"SequenceAndTimestampWrap", 0, 20, 1, 0, false, TTwist::Wrap},
                      TStream{"GsmSwapped", 3, 20, 1, 0, false, TTwist::Swap},
                      TStream{"GsmLost", 3, 20, 1, 0, false, TTwist::LoseOne},
                      TStream{"EventsAmongAudio", 0, 20, 1, 0, false, TTwist::Events},
                      TStream{"CsrcsExtensionAndPadding", 0, 20, 1, 0, false, TTwist::HeaderExtras}),
    [](const auto& info) { return std::string(info.param.name); });
