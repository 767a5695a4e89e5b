// The RTP send path and receive handler, driven directly: packets
// byte for byte on a loopback peer, datagrams handed to the receive handler.
#include <gtest/gtest.h>

#include <optional>

#include <array>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "media/codec_g711.h"
#include "media/codecs.h"
#include "media/keypad_tones.h"
#include "media/rtp_session.h"
#include "media/wav.h"
#include "tests/media/audio_test_util.h"
#include "tests/media/rtp_test_util.h"

using namespace rtp_test;
using media::TRtpMediaPath;
using Bytes = std::vector<uint8_t>;

namespace {

class RtpPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        Path = std::make_shared<TRtpMediaPath>(Mode);
        TCallSettings settings;
        settings.eventSink = Sink;
        settings.mediaPath = Path;
        auto tick = Tick;
        settings.clock.tick = [tick] { return tick->load(); };
        Call = TCall::Create(std::move(settings));
        Call->SetCodec(media::CodecRegistry().Create(0));
        Call->SetLocalRtpPort(FreePort());
        Call->SetRemoteRtpHost("127.0.0.1");
        Call->SetRemoteRtpPort(Peer.Port());
        Call->SetSilenceThreshold(500);
        Call->SetSilenceTimeout(5000);
        Call->SetSpeaker(Speaker);
    }
    void TearDown() override { Call->SetMediaActive(false); }

    void SendFrames(int count, int16_t level = 1000) {
        std::array<int16_t, 160> frame;
        frame.fill(level);
        for (int n = 0; n < count; ++n)
            Call->SendAudioFrame(frame.data());
    }
    // An RTP datagram of the payload type with the payload; its timestamp
    // that of a 20 ms packet stream unless given.
    static Bytes Rtp(int payloadType, int sequenceNumber, const Bytes& payload, uint8_t first = 0x80,
                     std::optional<uint32_t> time = std::nullopt) {
        const uint32_t t = time.value_or(static_cast<uint32_t>(sequenceNumber) * 160);
        const uint8_t header[12] = {first, static_cast<uint8_t>(payloadType), static_cast<uint8_t>(sequenceNumber >> 8),
                                    static_cast<uint8_t>(sequenceNumber), static_cast<uint8_t>(t >> 24),
                                    static_cast<uint8_t>(t >> 16), static_cast<uint8_t>(t >> 8), static_cast<uint8_t>(t),
                                    1, 2, 3, 4};
        Bytes d(sizeof header + payload.size());
        std::copy(std::begin(header), std::end(header), d.begin());
        std::copy(payload.begin(), payload.end(), d.begin() + sizeof header);
        return d;
    }
    static Bytes Event(int event, bool end, int sequenceNumber) {
        // The sender in these tests stamps every event alike: only the end
        // bit tells one event from the next.
        return Rtp(101, sequenceNumber, {static_cast<uint8_t>(event), static_cast<uint8_t>(end ? 0x8A : 0x0A), 0, 160},
                   0x80, 0);
    }
    // A mu-law payload of 160 samples.
    static Bytes MuLaw(const int16_t* pcm) {
        media::TCodecPCMU codec;
        Bytes payload(160);
        codec.Encode(pcm, payload.data());
        return payload;
    }
    void Receive(const Bytes& d) { Path->ReceiveDatagram(*Call, d.data(), d.size()); }
    // Receives the samples as mu-law frames, one every 20 ms of the clock.
    void ReceiveAudio(const std::vector<int16_t>& pcm) {
        for (size_t at = 0; at + 160 <= pcm.size(); at += 160) {
            *Tick += 20;
            Receive(Rtp(0, Sequence++, MuLaw(pcm.data() + at)));
        }
    }
    void ReceiveSilence(int frames) { ReceiveAudio(std::vector<int16_t>(static_cast<size_t>(frames) * 160, 0)); }

    std::shared_ptr<std::atomic<uint32_t>> Tick = std::make_shared<std::atomic<uint32_t>>(100000);
    std::shared_ptr<TRecordingSink> Sink = std::make_shared<TRecordingSink>();
    std::shared_ptr<TRecordingSpeaker> Speaker = std::make_shared<TRecordingSpeaker>();
    media::TReceiveMode Mode = media::TReceiveMode::Adaptive;
    std::shared_ptr<TRtpMediaPath> Path;
    TPeer Peer;
    TCallPtr Call;
    int Sequence = 1;
};

// The four-slot buffer's own behaviour in the path, kept for comparison.
class RtpFixedPathTest : public RtpPathTest {
protected:
    RtpFixedPathTest() { Mode = media::TReceiveMode::FixedFourSlot; }
};

uint32_t Ssrc(const TCall& call) { return const_cast<TCall&>(call).GetSsrc(); }

Bytes Header(int payloadType, int sequenceNumber, uint32_t timestamp, uint32_t ssrc) {
    return {0x80,
            static_cast<uint8_t>(payloadType),
            static_cast<uint8_t>(sequenceNumber >> 8),
            static_cast<uint8_t>(sequenceNumber),
            static_cast<uint8_t>(timestamp >> 24),
            static_cast<uint8_t>(timestamp >> 16),
            static_cast<uint8_t>(timestamp >> 8),
            static_cast<uint8_t>(timestamp),
            static_cast<uint8_t>(ssrc),
            static_cast<uint8_t>(ssrc >> 8),
            static_cast<uint8_t>(ssrc >> 16),
            static_cast<uint8_t>(ssrc >> 24)};
}

}  // namespace

// Send path -------------------------------------------------------------------------

TEST_F(RtpPathTest, EachFrameIsSentAsSoonAsItIsCaptured) {
    Call->SetMediaActive(true);
    SendFrames(1);
    const auto got = Peer.WaitFor(1);
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(got[0].size(), 12u + 160u);
    EXPECT_EQ(Bytes(got[0].begin(), got[0].begin() + 12), Header(0, 0, 0, Ssrc(*Call)));
    SendFrames(1);
    const auto two = Peer.WaitFor(2);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(Bytes(two[1].begin(), two[1].begin() + 12), Header(0, 1, 160, Ssrc(*Call)));
}

TEST_F(RtpPathTest, QueuedDigitIsTheTelephoneEventTrainByteForByte) {
    Call->SetMediaActive(true);
    Call->QueueDtmf("5");
    SendFrames(10);  // frames 1-9 send the digit; 10 sends audio
    const auto got = Peer.WaitFor(12);
    ASSERT_EQ(got.size(), 12u);
    const uint32_t ssrc = Ssrc(*Call);
    for (int packet = 1; packet <= 11; ++packet) {
        const int number = std::min(packet, 9);
        Bytes expected = Header(101, packet - 1, 0, ssrc);
        const int duration = 160 * number;
        expected.insert(expected.end(), {5, static_cast<uint8_t>(number == 9 ? 0x8A : 0x0A),
                                         static_cast<uint8_t>(duration >> 8), static_cast<uint8_t>(duration)});
        EXPECT_EQ(got[static_cast<size_t>(packet - 1)], expected) << "packet " << packet;
    }
    // The next audio packet follows the third copy.
    EXPECT_EQ(got[11].size(), 12u + 160u);
    EXPECT_EQ(Bytes(got[11].begin(), got[11].begin() + 12), Header(0, 11, 9 * 160, ssrc));
    EXPECT_EQ(Call->GetDtmfQueue(), "");
    EXPECT_EQ(Call->GetDtmfPacketCount(), 0);
}

TEST_F(RtpPathTest, TwoDigitsKeepSequenceNumbersConsecutiveWithTheirOwnTimestamps) {
    Call->SetMediaActive(true);
    Call->QueueDtmf("1#");
    SendFrames(19);
    const auto got = Peer.WaitFor(23);
    ASSERT_EQ(got.size(), 23u);
    for (size_t n = 0; n < got.size(); ++n)
        EXPECT_EQ(got[n][2] << 8 | got[n][3], static_cast<int>(n));
    EXPECT_EQ(got[0][12], 1);
    EXPECT_EQ(got[11][12], 11);  // "#"
    EXPECT_EQ(got[11][1], 101);
    // "#" starts at frame 10, captured with timestamp 9 * 160.
    EXPECT_EQ((got[11][6] << 8) | got[11][7], 9 * 160);
    EXPECT_EQ((got[21][6] << 8) | got[21][7], 9 * 160);
}

TEST_F(RtpPathTest, QueuedLetterIsSkippedAndTheFrameGoesAsAudio) {
    Call->SetMediaActive(true);
    Call->QueueDtmf("A");
    SendFrames(1);
    const auto got = Peer.WaitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0][1], 0);
    EXPECT_EQ(got[0].size(), 172u);
    EXPECT_EQ(Call->GetDtmfQueue(), "");
}

// A receiver counts every missing sequence number as lost and plays by the
// timestamp: across a hold the numbers go on from the last packet sent, the
// timestamp by every frame captured meanwhile, and the marker flags the jump.
TEST_F(RtpPathTest, HoldLeavesNoSequenceGapAndKeepsTime) {
    Call->SetMediaActive(true);
    SendFrames(2);  // packets 0 and 1 go out
    ASSERT_EQ(Peer.WaitFor(2).size(), 2u);
    Call->SetOnHold(true);
    SendFrames(50);
    EXPECT_EQ(Peer.WaitFor(3, 200ms).size(), 2u);
    Call->SetOnHold(false);
    SendFrames(2);
    const auto got = Peer.WaitFor(4);
    ASSERT_EQ(got.size(), 4u);
    const uint32_t ssrc = Ssrc(*Call);
    EXPECT_EQ(Bytes(got[2].begin(), got[2].begin() + 12), Header(0x80, 2, (2 + 50) * 160, ssrc));
    EXPECT_EQ(Bytes(got[3].begin(), got[3].begin() + 12), Header(0, 3, (2 + 51) * 160, ssrc));
}

// A digit queued during a hold goes out after it with the numbers that
// follow the last packet sent.
TEST_F(RtpPathTest, DigitAfterHoldFollowsTheLastSentNumber) {
    Call->SetMediaActive(true);
    SendFrames(1);
    ASSERT_EQ(Peer.WaitFor(1).size(), 1u);
    Call->SetOnHold(true);
    SendFrames(10);
    Call->QueueDtmf("7");
    Call->SetOnHold(false);
    SendFrames(9);
    const auto got = Peer.WaitFor(12);
    ASSERT_EQ(got.size(), 12u);
    for (size_t n = 0; n < got.size(); ++n)
        EXPECT_EQ(got[n][2] << 8 | got[n][3], static_cast<int>(n)) << n;
    EXPECT_EQ(got[1][1], 101);
    EXPECT_EQ((got[1][6] << 8) | got[1][7], 11 * 160);  // the digit starts at the frame after the hold
    EXPECT_EQ((got[11][6] << 8) | got[11][7], 11 * 160);
}

TEST_F(RtpPathTest, WithoutSocketNothingIsSent) {
    SendFrames(3);  // media never started: no crash, nothing on the wire
    EXPECT_TRUE(Peer.WaitFor(1, 100ms).empty());
}

TEST_F(RtpPathTest, DisabledMicrophoneSendsTheQuietFrame) {
    auto tap = std::make_shared<TRecordingTap>();
    Call->SetRecorder(tap);
    Call->SetMicrophoneEnabled(false);
    SendFrames(2, 12345);
    ASSERT_EQ(tap->Sent.size(), 2u);
    EXPECT_EQ(tap->Sent[1], std::vector<int16_t>(media::kQuietFrame.begin(), media::kQuietFrame.end()));
    Call->SetMicrophoneEnabled(true);
    SendFrames(1, 12345);
    EXPECT_EQ(tap->Sent[2], std::vector<int16_t>(160, 12345));
}

TEST_F(RtpPathTest, WavSourceReplacesTheMicrophoneThenReportsItsEndEveryFrame) {
    auto tap = std::make_shared<TRecordingTap>();
    Call->SetRecorder(tap);
    std::vector<int16_t> source(160 * 2 + 100);
    for (size_t n = 0; n < source.size(); ++n)
        source[n] = static_cast<int16_t>(n);
    Call->PlayWav(std::make_shared<media::TWavStream>(media_test::BytesOf(source)));
    Call->SetMicrophoneEnabled(false);  // WAV data is sent even with the microphone off
    SendFrames(4, 7);
    ASSERT_EQ(tap->Sent.size(), 4u);
    EXPECT_EQ(tap->Sent[0], std::vector<int16_t>(source.begin(), source.begin() + 160));
    EXPECT_EQ(tap->Sent[1], std::vector<int16_t>(source.begin() + 160, source.begin() + 320));
    // 100 samples left are less than a frame: the source is done.
    EXPECT_EQ(tap->Sent[2], std::vector<int16_t>(media::kQuietFrame.begin(), media::kQuietFrame.end()));
    EXPECT_EQ(Sink->WavStops.load(), 2);
    EXPECT_TRUE(Call->GetWavDoneEvent()->Wait(0ms));
    EXPECT_NE(Call->GetWavFile(), nullptr);  // stays set
}

// Receive handler ---------------------------------------------------------------------

TEST_F(RtpPathTest, ReceivedAudioIsPlayedAndTapped) {
    auto tap = std::make_shared<TRecordingTap>();
    Call->SetRecorder(tap);
    std::vector<int16_t> pcm(160, 1000);
    Receive(Rtp(0, 7, MuLaw(pcm.data())));
    ASSERT_EQ(Speaker->Played.load(), 1);
    EXPECT_EQ(Speaker->Lengths[0], 320);
    EXPECT_NEAR(Speaker->GetSamples()[0], 1000, 40);
    EXPECT_EQ(tap->Received.size(), 1u);
}

TEST_F(RtpFixedPathTest, PlayoutStopsWhileTheSpeakerIsFull) {
    Speaker->Room = 0;
    std::vector<int16_t> pcm(160, 1000);
    Receive(Rtp(0, 10, MuLaw(pcm.data())));
    EXPECT_EQ(Speaker->Played.load(), 0);
    Speaker->Room = -1;
    Receive(Rtp(0, 11, MuLaw(pcm.data())));
    EXPECT_EQ(Speaker->Played.load(), 2);  // 10, then 11
    Speaker->Room = 3;
    Receive(Rtp(0, 12, MuLaw(pcm.data())));
    Receive(Rtp(0, 13, MuLaw(pcm.data())));
    EXPECT_EQ(Speaker->Played.load(), 3);  // 13 waits in the buffer
    Speaker->Room = -1;
    Receive(Rtp(0, 14, MuLaw(pcm.data())));
    EXPECT_EQ(Speaker->Played.load(), 5);
}

// While nothing has been taken out yet (LastPlayed 0) every put
// moves LastPlayed to s - 1: frames that a full speaker held back at the
// start wait until the buffer holds four, then play from the oldest.
TEST_F(RtpFixedPathTest, FramesHeldBackAtTheStartPlayWhenTheBufferIsFull) {
    Speaker->Room = 0;
    std::vector<int16_t> pcm(160, 1000);
    Receive(Rtp(0, 1, MuLaw(pcm.data())));
    Receive(Rtp(0, 2, MuLaw(pcm.data())));
    Speaker->Room = 2;
    Receive(Rtp(0, 3, MuLaw(pcm.data())));
    EXPECT_EQ(Speaker->Played.load(), 0);
    Receive(Rtp(0, 4, MuLaw(pcm.data())));  // four stored: 1 and 2 play
    EXPECT_EQ(Speaker->Played.load(), 2);
    Speaker->Room = -1;
    Receive(Rtp(0, 5, MuLaw(pcm.data())));
    EXPECT_EQ(Speaker->Played.load(), 5);
}

TEST_F(RtpPathTest, DisabledSpeakerPlaysSilence) {
    Call->SetSpeakerEnabled(false);
    std::vector<int16_t> pcm(160, 8000);
    Receive(Rtp(0, 1, MuLaw(pcm.data())));
    ASSERT_EQ(Speaker->Played.load(), 1);
    EXPECT_EQ(Speaker->GetSamples(), std::vector<int16_t>(160, 0));
}

TEST_F(RtpPathTest, ReceivedPayloadTypeZeroSwitchesTheCodecForBothDirections) {
    Call->SetCodec(media::CodecRegistry().Create(8));
    Call->SetMediaActive(true);
    SendFrames(2);
    ASSERT_EQ(Peer.WaitFor(1).at(0)[1], 8);
    std::vector<int16_t> pcm(160, 1000);
    Receive(Rtp(0, 1, MuLaw(pcm.data())));
    EXPECT_EQ(Call->GetCodec()->GetPayloadType(), 0);
    EXPECT_EQ(Speaker->Played.load(), 1);
    SendFrames(1);
    const auto got = Peer.WaitFor(3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[2][1], 0);
}

TEST_F(RtpPathTest, OtherPayloadTypesAreDropped) {
    std::vector<int16_t> pcm(160, 1000);
    Receive(Rtp(96, 1, MuLaw(pcm.data())));
    Receive(Rtp(110, 2, MuLaw(pcm.data())));
    EXPECT_EQ(Call->GetCodec()->GetPayloadType(), 0);
    EXPECT_EQ(Speaker->Played.load(), 0);
    Call->SetCodec(nullptr);
    Receive(Rtp(96, 3, MuLaw(pcm.data())));  // no codec: dropped, no crash
    EXPECT_EQ(Speaker->Played.load(), 0);
}

TEST_F(RtpPathTest, PaddingIsTakenOffThePayload) {
    std::vector<int16_t> pcm(160, 1000);
    Bytes payload = MuLaw(pcm.data());
    payload.insert(payload.end(), {0, 0, 0, 4});  // four bytes of padding
    Receive(Rtp(0, 1, payload, 0xA0));
    ASSERT_EQ(Speaker->Played.load(), 1);
    EXPECT_EQ(Speaker->Lengths[0], 320);
}

TEST_F(RtpPathTest, TelephoneEventsReportOneDigitPerEvent) {
    Receive(Event(5, false, 1));
    Receive(Event(5, false, 2));
    EXPECT_EQ(Sink->GetDigits(), "5");
    Receive(Event(5, true, 3));
    Receive(Event(5, true, 4));
    *Tick += 200;  // beyond the 120 ms dead time of ReportDtmf
    Receive(Event(11, false, 5));
    EXPECT_EQ(Sink->GetDigits(), "5#");
    Receive(Event(11, true, 6));
    *Tick += 200;
    Receive(Event(15, false, 7));
    Receive(Event(15, true, 8));
    *Tick += 200;
    Receive(Event(16, false, 9));  // beyond the table: ignored, latch still set
    Receive(Event(3, false, 10));
    EXPECT_EQ(Sink->GetDigits(), "5#D");
    EXPECT_EQ(Call->GetDtmfReceived(), "5#");  // "D" is not a keypad digit
    EXPECT_EQ(Speaker->Played.load(), 0);
}

// Events as peers that send them beside their audio do: each event has a
// timestamp of its own, a lost start or a lost end must not swallow it.
TEST_F(RtpPathTest, TelephoneEventsAreToldApartByTheirTimestamp) {
    Receive(Rtp(101, 1, {1, 0x0A, 0, 160}, 0x80, 1000));
    Receive(Rtp(101, 2, {1, 0x0A, 1, 64}, 0x80, 1000));  // its end never comes
    *Tick += 200;
    for (int copy = 0; copy < 3; ++copy)  // only the end of this one comes
        Receive(Rtp(101, 3 + copy, {5, 0x8A, 3, 32}, 0x80, 2000));
    *Tick += 200;
    Receive(Rtp(101, 6, {9, 0x0A, 0, 160}, 0x80, 3000));
    for (int copy = 0; copy < 3; ++copy)
        Receive(Rtp(101, 7 + copy, {9, 0x8A, 3, 32}, 0x80, 3000));
    EXPECT_EQ(Sink->GetDigits(), "159");
}

// A call that heard nothing has no rating to give.
TEST_F(RtpPathTest, NoPacketsNoRating) {
    const media::TCallQuality quality = Path->Quality();
    EXPECT_FALSE(quality.HasData());
    EXPECT_EQ(quality.mos, 0);
    EXPECT_NE(quality.Text().find("R - MOS -"), std::string::npos) << quality.Text();
}

// Untrusted datagrams ----------------------------------------------------------------

TEST_F(RtpPathTest, DatagramsShorterThanAHeaderAreIgnored) {
    Bytes full = Rtp(0, 1, Bytes(160, 0xFF));
    for (size_t length = 0; length < 12; ++length) {
        // A heap copy of exactly `length` bytes, so ASan sees any read past it.
        auto copy = std::make_unique<uint8_t[]>(length + 0);
        if (length)
            std::memcpy(copy.get(), full.data(), length);
        Path->ReceiveDatagram(*Call, copy.get(), length);
    }
    auto event = std::make_unique<uint8_t[]>(2);
    event[0] = 0x80;
    event[1] = 101;
    Path->ReceiveDatagram(*Call, event.get(), 2);
    EXPECT_EQ(Speaker->Played.load(), 0);
    EXPECT_EQ(Sink->GetDigits(), "");
}

TEST_F(RtpPathTest, PaddingCountLargerThanThePayloadIsDropped) {
    for (uint8_t padding : {uint8_t(161), uint8_t(255)}) {
        Bytes payload(160, 0xFF);
        payload.back() = padding;
        Receive(Rtp(0, 1, payload, 0xA0));
    }
    // Padding of a header-only datagram: the count byte is header.
    Receive(Rtp(0, 2, {}, 0xA0));
    EXPECT_EQ(Path->JitterBuffer().StoredCount(), 0);
    EXPECT_EQ(Speaker->Played.load(), 0);
    // The padding count that takes the whole payload leaves nothing to decode.
    Bytes payload(4, 0xFF);
    payload.back() = 4;
    Receive(Rtp(0, 3, payload, 0xA0));
    EXPECT_EQ(Speaker->Played.load(), 0);
}

TEST_F(RtpPathTest, ShortTelephoneEventsAreIgnored) {
    for (size_t length = 0; length < 4; ++length) {
        Bytes d = Event(5, false, 1);
        d.resize(12 + length);
        auto copy = std::make_unique<uint8_t[]>(d.size());
        std::memcpy(copy.get(), d.data(), d.size());
        Path->ReceiveDatagram(*Call, copy.get(), d.size());
    }
    EXPECT_EQ(Sink->GetDigits(), "");
    EXPECT_FALSE(Call->GetEventInProgress());
}

TEST_F(RtpFixedPathTest, LargeG711PayloadIsBoundedTo512Bytes) {
    for (size_t payload : {size_t(513), size_t(1024), size_t(1500), size_t(65000)}) {
        auto d = std::make_unique<uint8_t[]>(12 + payload);
        std::memset(d.get(), 0xD5, 12 + payload);
        d[0] = 0x80;
        d[1] = 8;
        d[2] = 0;
        d[3] = static_cast<uint8_t>(payload & 0x7F);
        Call->SetCodec(media::CodecRegistry().Create(8));
        Path->ReceiveDatagram(*Call, d.get(), 12 + payload);
        EXPECT_EQ(Path->JitterBuffer().LastPutLength(), 2 * TRtpMediaPath::kMaxDecodePayload);
    }
    EXPECT_GE(Speaker->Played.load(), 1);
    EXPECT_EQ(Speaker->Lengths.back(), 1024);
}

TEST_F(RtpPathTest, RandomDatagramsNeverFault) {
    std::mt19937 random(3);
    for (int round = 0; round < 3000; ++round) {
        const size_t length = random() % 1100;
        auto d = std::make_unique<uint8_t[]>(length + 1);
        for (size_t n = 0; n < length; ++n)
            d[n] = static_cast<uint8_t>(random());
        if (length > 1) {
            const uint8_t types[] = {0, 3, 8, 101, 110, 96};
            d[1] = types[random() % 6];
        }
        if (round % 50 == 0)
            Call->SetCodec(media::CodecRegistry().Create(3));
        Path->ReceiveDatagram(*Call, d.get(), length);
    }
    SUCCEED();
}

// Detectors on received audio ------------------------------------------------------------

TEST_F(RtpPathTest, SilenceIsJudgedOnlyOnReceivedPackets) {
    Call->SetState(csConnected);
    *Tick = 500000;
    Call->SetMediaActive(true);  // LastSoundTime starts here
    EXPECT_EQ(Call->GetLastSoundTime(), 500000u);
    *Tick += 60000;  // a minute without any RTP: nothing
    EXPECT_EQ(Sink->Silences.load(), 0);
    ReceiveSilence(1);  // first frame: a minute since media started
    EXPECT_EQ(Sink->Silences.load(), 1);
    ReceiveSilence(249);  // 4980 ms more
    EXPECT_EQ(Sink->Silences.load(), 1);
    ReceiveSilence(1);  // 5000 ms
    EXPECT_EQ(Sink->Silences.load(), 2);
    // Energies are of samples reduced to 7 bits (x = sample / 65536): a tone
    // on a bin must reach about 18 300 to pass the threshold 500.
    ReceiveAudio(media_test::Sine(1333.3, 160, 30000));  // sound restarts the count
    ReceiveSilence(249);
    EXPECT_EQ(Sink->Silences.load(), 2);
    ReceiveSilence(1);
    EXPECT_EQ(Sink->Silences.load(), 3);
}

TEST_F(RtpPathTest, FirstSilentFrameAfterMediaStartIsNotSilence) {
    Call->SetState(csConnected);
    *Tick = 900000;  // long after tick 0
    Call->SetMediaActive(true);
    ReceiveSilence(10);
    EXPECT_EQ(Sink->Silences.load(), 0);
}

TEST_F(RtpPathTest, SilenceIsReportedOnlyWhenConnected) {
    Call->SetState(csRinging);
    Call->SetMediaActive(true);
    ReceiveSilence(300);
    EXPECT_EQ(Sink->Silences.load(), 0);
}

namespace {

std::vector<int16_t> ToneOf(char key) {
    const std::string bytes = media::KeypadToneWav(media::KeypadToneItem(key)).substr(44);
    return media_test::SamplesOf(bytes);
}

}  // namespace

TEST_F(RtpPathTest, InBandDigitIsReportedOncePerTone) {
    ReceiveAudio(ToneOf('5'));  // 300 ms of tone, 50 ms of silence
    ReceiveSilence(10);
    EXPECT_EQ(Sink->GetDigits(), "5");
    ReceiveAudio(ToneOf('#'));
    ReceiveSilence(10);
    EXPECT_EQ(Sink->GetDigits(), "5#");
    EXPECT_EQ(Call->GetDtmfReceived(), "5#");
}

TEST_F(RtpPathTest, InBandToneWithin250MsOfTheLastIsSwallowed) {
    ReceiveAudio(ToneOf('5'));  // reported; the tone keeps restarting the 250 ms
    ReceiveAudio(ToneOf('7'));  // begins 50 ms after the end of the first
    ReceiveSilence(20);
    EXPECT_EQ(Sink->GetDigits(), "5");
    ReceiveAudio(ToneOf('7'));  // 400 ms later: reported
    EXPECT_EQ(Sink->GetDigits(), "57");
}

// A fast dialer's events, or events a busy receiver takes in one go, come
// closer than the dead time: each has a later timestamp of its own and is
// a key press. What only looks new (a packet of an ended event reordered
// behind its end, a late packet of an earlier event, the same key stamped
// anew packet by packet) or repeats a key the tone in the audio gave is
// still held to the dead time.
TEST_F(RtpPathTest, EventsBunchedTogetherAreEachAKeyPress) {
    uint16_t sequence = 1;
    const auto event = [&](int key, bool end, uint32_t time) {
        Receive(Rtp(101, sequence++, {static_cast<uint8_t>(key), static_cast<uint8_t>(end ? 0x8A : 0x0A), 0, 160}, 0x80,
                    time));
    };
    for (uint32_t key = 1; key <= 4; ++key) {  // 80 ms apart on the sender's clock, all at once here
        event(static_cast<int>(key), false, key * 640);
        event(static_cast<int>(key), true, key * 640);
    }
    EXPECT_EQ(Sink->GetDigits(), "1234");
    event(4, false, 4 * 640);  // reordered behind its own end
    event(3, true, 3 * 640);   // late, of the one before
    event(4, true, 4 * 640);   // the end again: still the same press
    for (uint32_t packet = 0; packet < 9; ++packet)  // a sender that stamps each packet anew
        event(7, false, 6 * 640 + packet * 160);
    EXPECT_EQ(Sink->GetDigits(), "12347");

    *Tick += 1000;
    ReceiveAudio(ToneOf('5'));  // the key in band, then its event
    event(5, false, 10 * 640);
    EXPECT_EQ(Sink->GetDigits(), "123475");
    EXPECT_EQ(Call->GetDtmfReceived(), "123475");
}

TEST_F(RtpPathTest, InBandDigitsAfterGsmAreFound) {
    Call->SetCodec(media::CodecRegistry().Create(3));
    const IAudioCodecPtr encoder = media::CodecRegistry().Create(3);
    for (char key : std::string("159")) {
        auto pcm = ToneOf(key);
        pcm.resize(pcm.size() + 160 * 20, 0);
        for (size_t at = 0; at + 160 <= pcm.size(); at += 160) {
            Bytes payload(65);
            payload.resize(static_cast<size_t>(encoder->Encode(pcm.data() + at, payload.data())));
            *Tick += 20;
            Receive(Rtp(3, Sequence++, payload));
        }
    }
    EXPECT_EQ(Sink->GetDigits(), "159");
}
