// Keypad events travel under whatever number the peer's SDP gives
// telephone-event: a call answered or placed over real loopback sockets
// sends its digits with that number and reports the peer's digits once.
#include <array>
#include <condition_variable>
#include <deque>
#include <optional>
#include <vector>

#include "engine_test_fixture.h"

namespace sip_test {
namespace {

using namespace std::chrono_literals;

class EngineTelephoneEvent : public EngineTest {
protected:
    // The peer's SDP: `payloads` on its m= line, telephone-event mapped to
    // `event` when given.
    std::string PeerSdp(const std::string& payloads, std::optional<int> event) {
        std::string sdp = SdpBody(Peer.LocalPort(), payloads);
        if (event) sdp += "a=rtpmap:" + std::to_string(*event) + " TELEPHONE-EVENT/8000\r\n";
        return sdp;
    }

    // A call from the peer offering `sdp`, answered; the 200's text in `ok`.
    ISipCallPtr AnsweredCall(const std::string& callId, const std::string& sdp, std::string& ok) {
        Server.Send(IncomingInvite(callId, sdp), Port);
        EXPECT_TRUE(Sink->WaitFor("Invite", ++Offers));
        const ISipCallPtr call = Sink->OfferedCall();
        Engine->Answer(call);
        ok = Server.NextOf("INVITE", "200");
        EXPECT_FALSE(ok.empty());
        return call;
    }

    // A call placed by the engine (offering 101) and answered with `sdp`.
    ISipCallPtr PlacedCall(const ISipAccountPtr& account, const std::string& sdp) {
        ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
        const std::string offer = Server.NextOf("INVITE");
        EXPECT_NE(offer.find("a=rtpmap:101 telephone-event/8000"), std::string::npos);
        Server.Send(Respond(offer, "200 OK", "callee1",
                            "Contact: <sip:5550100@127.0.0.1:" + std::to_string(Server.Port()) + ">\r\n", sdp),
                    Port);
        EXPECT_FALSE(Server.NextOf("ACK").empty());
        EXPECT_TRUE(Sink->WaitFor("InviteOk", ++Answers));
        return call;
    }

    // One keypad digit as a peer sends it: two packets under way, then the
    // end three times, all with the event's first timestamp.
    void SendDigit(const ISipCallPtr& call, int payloadType, uint8_t event) {
        const auto& media = dynamic_cast<const TCall&>(*call);
        const uint64_t before = media.GetMediaReceived();
        const uint32_t timestamp = 8000u * static_cast<uint32_t>(++Digits);
        const std::array<std::pair<uint8_t, uint16_t>, 5> train = {
            {{0x0A, 160}, {0x0A, 320}, {0x8A, 480}, {0x8A, 480}, {0x8A, 480}}};
        for (const auto& [flags, duration] : train) {
            std::array<uint8_t, 16> packet{0x80, static_cast<uint8_t>(payloadType)};
            ++Sequence;
            packet[2] = static_cast<uint8_t>(Sequence >> 8);
            packet[3] = static_cast<uint8_t>(Sequence);
            for (int byte = 0; byte < 4; ++byte)
                packet[4 + byte] = static_cast<uint8_t>(timestamp >> (24 - 8 * byte));
            packet[11] = 0x42;  // SSRC
            packet[12] = event;
            packet[13] = flags;
            packet[14] = static_cast<uint8_t>(duration >> 8);
            packet[15] = static_cast<uint8_t>(duration);
            Peer.Send("127.0.0.1", static_cast<uint16_t>(call->GetLocalRtpPort()), packet.data(), packet.size());
        }
        ASSERT_TRUE(WaitUntil([&] { return media.GetMediaReceived() >= before + train.size(); }));
    }

    // The payload type of the first event packet the peer receives for
    // keypad event `event` (a 16-byte RTP packet), or -1 when none comes.
    int SentEventType(uint8_t event) {
        std::unique_lock<std::mutex> guard(Lock_);
        int found = -1;
        Arrived_.wait_for(guard, kEventCeiling, [&] {
            for (; !Received_.empty(); Received_.pop_front()) {
                const std::vector<uint8_t>& packet = Received_.front();
                if (packet.size() == 16 && packet[12] == event) {
                    found = packet[1] & 0x7F;
                    return true;
                }
            }
            return false;
        });
        return found;
    }

    std::mutex Lock_;
    std::condition_variable Arrived_;
    std::deque<std::vector<uint8_t>> Received_;
    TUdpSocket Peer{0, nullptr, [this](const std::string&, uint16_t, const uint8_t* data, std::size_t length) {
                        std::lock_guard<std::mutex> guard(Lock_);
                        Received_.emplace_back(data, data + length);
                        Arrived_.notify_all();
                    }};
    int Offers = 0;
    int Answers = 0;
    int Digits = 0;
    uint16_t Sequence = 0;
};

TEST_F(EngineTelephoneEvent, DigitsBothWaysUnderTheNegotiatedNumber) {
    struct TCase {
        const char* name;
        bool peerOffers;             // the peer calls us; otherwise we call it
        const char* payloads;        // the peer's m= line
        std::optional<int> mapped;   // its telephone-event number
        int peerSends;               // the number its digits arrive under
        int weSend;                  // the number ours must leave under
        int codec;                   // the codec the call must carry
    };
    const TCase cases[] = {
        {"offer with 96", true, "0 96", 96, 96, 96, 0},
        {"offer with 100", true, "8 100", 100, 100, 100, 8},
        {"offer with 101", true, "0 101", 101, 101, 101, 0},
        {"offer naming no events", true, "0", std::nullopt, 101, 101, 0},
        // 110 is also a codec number of ours: mapped to events it is no codec.
        {"offer with events on 110", true, "110 8", 110, 110, 110, 8},
        {"answer with 96", false, "0 96", 96, 101, 96, 0},
        // A peer that sends under its own number rather than ours.
        {"answer with 100, sent under 100", false, "0 100", 100, 100, 100, 0},
    };
    const ISipAccountPtr account = AddAccount();
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.name);
        const std::string sdp = PeerSdp(test.payloads, test.mapped);
        ISipCallPtr call;
        if (test.peerOffers) {
            std::string ok;
            call = AnsweredCall(std::string("te-") + std::to_string(Offers), sdp, ok);
            const std::string event = std::to_string(test.weSend);
            const TSipMessage answer(ok);
            EXPECT_NE(answer.Body.find("a=rtpmap:" + event + " telephone-event/8000\r\n"), std::string::npos)
                << answer.Body;
            EXPECT_NE(answer.Body.find("m=audio " + std::to_string(call->GetLocalRtpPort()) + " RTP/AVP " +
                                       std::to_string(test.codec) + " " + event),
                      std::string::npos)
                << answer.Body;
        } else {
            call = PlacedCall(account, sdp);
        }
        ASSERT_TRUE(call);
        ASSERT_TRUE(call->GetCodec());
        EXPECT_EQ(call->GetCodec()->GetPayloadType(), test.codec);

        const int before = Sink->Count("Dtmf 5");
        SendDigit(call, test.peerSends, 5);
        EXPECT_TRUE(WaitUntil([&] { return Sink->Count("Dtmf 5") > before; }));
        EXPECT_EQ(Sink->Count("Dtmf 5"), before + 1);

        {
            std::lock_guard<std::mutex> guard(Lock_);
            Received_.clear();
        }
        // No sound card here: the frames a microphone would give are handed
        // to the call as its capture does.
        Engine->SendDtmfRfc2833(call, "7");
        const std::array<int16_t, 160> frame{};
        for (int n = 0; n < 3; ++n)
            dynamic_cast<TCall&>(*call).SendAudioFrame(frame.data());
        EXPECT_EQ(SentEventType(7), test.weSend);

        Engine->EndCall(call);
        EXPECT_FALSE(Server.NextOf("BYE").empty());
        EXPECT_TRUE(WaitUntil([&] { return Engine->Calls().Count() == 0; }));
    }
}

}  // namespace
}  // namespace sip_test
