// Spoofed RTP during a call, over real loopback sockets: packets from another
// port, in the call's codec or in another, and packets from the peer's own
// address in a codec nobody agreed on, never reach the speaker or change the
// codec; the peer's own packets all do.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "media/codecs.h"
#include "media/g711.h"
#include "media/rtp_session.h"
#include "tests/media/rtp_test_util.h"

using namespace rtp_test;

namespace {

std::vector<uint8_t> Packet(int payloadType, int sequence, int16_t level) {
    std::vector<uint8_t> packet = {0x80, static_cast<uint8_t>(payloadType),
                                   static_cast<uint8_t>(sequence >> 8), static_cast<uint8_t>(sequence),
                                   0, 0, 0, 0, 9, 9, 9, 9};
    const auto time = static_cast<uint32_t>(sequence) * 160;  // 20 ms a packet
    for (int k = 0; k < 4; ++k)
        packet[static_cast<size_t>(4 + k)] = static_cast<uint8_t>(time >> (24 - 8 * k));
    const std::vector<int16_t> pcm(160, level);
    std::vector<uint8_t> payload(160);
    if (payloadType == 8) media::EncodeAlaw(pcm.data(), payload.data(), 160);
    else media::EncodeUlaw(pcm.data(), payload.data(), 160);
    packet.insert(packet.end(), payload.begin(), payload.end());
    return packet;
}

bool WaitUntilPlayed(TRecordingSpeaker& speaker, int frames) {
    for (int i = 0; i < 2000 && speaker.Played.load() < frames; ++i) std::this_thread::sleep_for(10ms);
    return speaker.Played.load() >= frames;
}

TEST(RtpSpoofing, OnlyThePeersAudioIsPlayedAndTheCodecNeverChanges) {
    TCallSettings settings;
    settings.eventSink = std::make_shared<TRecordingSink>();
    settings.mediaPath = media::NewRtpMediaPath();
    const TCallPtr call = TCall::Create(std::move(settings));
    const auto speaker = std::make_shared<TRecordingSpeaker>();
    TUdpSocket peer(0, nullptr, nullptr);
    TUdpSocket spoofer(0, nullptr, nullptr);
    call->SetCodec(media::CodecRegistry().Create(8));
    call->SetNegotiatedPayloadTypes({8});  // A-law alone was offered and answered
    call->SetLocalRtpPort(FreePort());
    call->SetSpeaker(speaker);
    call->SetSpeakerEnabled(true);
    call->SetRemoteRtpHost("127.0.0.1");
    call->SetRemoteRtpPort(peer.LocalPort());
    call->SetMediaActive(true);

    constexpr int16_t kPeerLevel = 1000;
    constexpr int16_t kSpoofLevel = -7000;
    const auto port = static_cast<uint16_t>(call->GetLocalRtpPort());
    constexpr int kFrames = 40;
    for (int n = 0; n < kFrames; ++n) {
        const auto send = [&](TUdpSocket& from, int payloadType, int sequence, int16_t level) {
            const auto packet = Packet(payloadType, sequence, level);
            ASSERT_TRUE(from.Send("127.0.0.1", port, packet.data(), packet.size()));
        };
        // Until somebody is heard the first source is taken (symmetric RTP),
        // so the peer speaks first; from then on the spoofer goes first each
        // time, and would win if every new source were simply latched.
        if (n == 0) send(peer, 8, 300 + n, kPeerLevel);
        send(spoofer, 0, 100 + n, kSpoofLevel);  // mu-law: would switch the codec
        send(spoofer, 8, 200 + n, kSpoofLevel);  // the call's codec, from another port
        if (n > 0) send(peer, 8, 300 + n, kPeerLevel);
        if (n % 4 == 0) send(peer, 0, 400 + n, kSpoofLevel);  // never agreed on
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(WaitUntilPlayed(*speaker, kFrames / 2));
    call->SetMediaActive(false);

    EXPECT_EQ(call->GetCodec()->GetPayloadType(), 8);
    const std::vector<int16_t> heard = speaker->GetSamples();
    const int16_t peerDecoded = media::AlawToLinear(media::LinearToAlaw(kPeerLevel));
    // A frame late on a busy machine is concealed from the peer's last one
    // and faded toward silence: still the peer's audio, between silence and
    // its level, never the spoofer's (of the other sign) nor a wrong codec's.
    EXPECT_TRUE(std::all_of(heard.begin(), heard.end(), [&](int16_t s) { return s >= 0 && s <= peerDecoded; }))
        << "samples heard from " << *std::min_element(heard.begin(), heard.end()) << " to "
        << *std::max_element(heard.begin(), heard.end());
    EXPECT_GT(std::count(heard.begin(), heard.end(), peerDecoded), 0);
    // The payload type is judged first: the spoofer's mu-law never gets as
    // far as the source rule.
    EXPECT_GE(call->RtpFilter().DroppedForSource(), kFrames - 1u);
    EXPECT_GE(call->RtpFilter().DroppedForPayloadType(), kFrames + kFrames / 4u - 1);
}

}  // namespace

namespace {

// Counts the control reports that reach the media path.
class TControlCounter : public ICallMediaPath {
public:
    void SendFrame(TCall&, const int16_t*) override {}
    void ReceiveDatagram(TCall&, const uint8_t*, std::size_t) override {}
    void ReceiveControl(TCall&, const uint8_t*, std::size_t) override { ++Received; }
    std::atomic<int> Received{0};
};

TEST(RtpSpoofing, OnlyThePeersControlReportsAreTaken) {
    const auto path = std::make_shared<TControlCounter>();
    TCallSettings settings;
    settings.eventSink = std::make_shared<TRecordingSink>();
    settings.mediaPath = path;
    const TCallPtr call = TCall::Create(std::move(settings));
    // The peer's reports come from its RTP port + 1, as the SDP implies.
    TUdpSocket peerControl(0, nullptr, nullptr);
    TUdpSocket spoofer(0, nullptr, nullptr);
    call->SetCodec(media::CodecRegistry().Create(8));
    call->SetLocalRtpPort(FreePort());
    call->SetRemoteRtpHost("127.0.0.1");
    call->SetRemoteRtpPort(peerControl.LocalPort() - 1);
    call->SetMediaActive(true);

    const auto control = static_cast<uint16_t>(call->GetLocalRtpPort() + 1);
    const std::vector<uint8_t> report = {0x80, 201, 0, 1, 1, 2, 3, 4};  // an empty receiver report
    constexpr int kReports = 5;
    for (int n = 0; n < kReports; ++n) {
        ASSERT_TRUE(spoofer.Send("127.0.0.1", control, report.data(), report.size()));
        ASSERT_TRUE(peerControl.Send("127.0.0.1", control, report.data(), report.size()));
        std::this_thread::sleep_for(10ms);
    }
    for (int i = 0; i < 2000 && path->Received.load() < kReports; ++i) std::this_thread::sleep_for(10ms);
    call->SetMediaActive(false);

    EXPECT_EQ(path->Received.load(), kReports);
    EXPECT_EQ(call->ControlFilter().DroppedForSource(), static_cast<uint64_t>(kReports));
    EXPECT_EQ(call->RtpFilter().DroppedForSource(), 0u);
}

}  // namespace
