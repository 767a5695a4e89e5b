// A far end whose SDP names an IPv6 address while its RTP reaches our IPv4
// socket (a dual-stack softphone's default): the agent answers its audio
// where that audio comes from, whether the far end offered or answered.
#include <array>
#include <mutex>

#include "engine_test_fixture.h"
#include "sip/message.h"

namespace sip_test {
namespace {

std::string Ipv6Sdp(int port, const std::string& address) {
    return "v=0\r\no=peer 1 1 IN IP6 " + address + "\r\ns=peer\r\nc=IN IP6 " + address +
           "\r\nt=0 0\r\nm=audio " + std::to_string(port) + " RTP/AVP 0\r\n";
}

std::vector<uint8_t> SilentPcmuPacket(uint16_t sequence) {
    const uint32_t timestamp = sequence * 160u;
    std::vector<uint8_t> packet = {0x80, 0, static_cast<uint8_t>(sequence >> 8), static_cast<uint8_t>(sequence),
                                   static_cast<uint8_t>(timestamp >> 24), static_cast<uint8_t>(timestamp >> 16),
                                   static_cast<uint8_t>(timestamp >> 8), static_cast<uint8_t>(timestamp),
                                   5, 6, 7, 8};
    packet.resize(12 + kFrameSamples, 0xFF);
    return packet;
}

class EngineIpv6Media : public EngineTest {
protected:
    // The far end offers `sdp`; the agent answers. The answered call.
    ISipCallPtr Offered(const std::string& callId, const std::string& sdp) {
        Server.Send(IncomingInvite(callId, sdp), Port);
        EXPECT_TRUE(Sink->WaitFor("Invite", ++Offers));
        ISipCallPtr call = Sink->OfferedCall();
        Engine->Answer(call);
        return call;
    }

    // The agent offers; the far end answers with `sdp`. The answered call.
    ISipCallPtr Answered(const std::string& sdp) {
        const ISipCallPtr call = Engine->MakeCall(Account, "5550100", -1, -1);
        const std::string offer = Server.NextOf("INVITE");
        EXPECT_FALSE(offer.empty());
        Server.Send(Respond(offer, "200 OK", "callee1",
                            "Contact: <sip:5550100@127.0.0.1:" + std::to_string(Server.Port()) + ">\r\n", sdp),
                    Port);
        EXPECT_TRUE(Sink->WaitFor("InviteOk"));
        return call;
    }

    int Offers = 0;
    ISipAccountPtr Account;
};

}  // namespace

TEST_F(EngineIpv6Media, AudioGoesBackToWhereTheFarEndsRtpComesFrom) {
    struct TCase {
        const char* name;
        bool farEndOffers;
        const char* address;
    };
    const TCase cases[] = {
        {"offer naming the loopback", true, "::1"},
        {"offer naming a global address", true, "2001:db8::7"},
        {"answer naming the loopback", false, "::1"},
    };
    Account = AddAccount();
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::mutex lock;
        int arrived = 0;
        TUdpSocket peer(0, nullptr, [&](const std::string&, uint16_t, const uint8_t* data, std::size_t length) {
            std::lock_guard<std::mutex> guard(lock);
            if (length >= 12 && (data[1] & 0x7F) == 0) ++arrived;
        });
        const std::string sdp = Ipv6Sdp(peer.LocalPort(), c.address);
        const ISipCallPtr call = c.farEndOffers ? Offered(std::string("v6-") + c.address, sdp) : Answered(sdp);
        ASSERT_TRUE(call);
        ASSERT_TRUE(WaitUntil([&] { return call->GetLocalRtpPort() > 0; }));
        const auto to = static_cast<uint16_t>(call->GetLocalRtpPort());
        const std::array<int16_t, kFrameSamples> silence{};
        // Both sides talk, paced as a call is, until the agent's audio
        // reaches the far end's IPv4 source or the ceiling passes.
        auto due = std::chrono::steady_clock::now();
        for (uint16_t sequence = 1; sequence <= 250; ++sequence) {
            const auto packet = SilentPcmuPacket(sequence);
            peer.Send("127.0.0.1", to, packet.data(), packet.size());
            call->SendAudioFrame(silence.data());
            {
                std::lock_guard<std::mutex> guard(lock);
                if (arrived >= 10) break;
            }
            due += 20ms;
            std::this_thread::sleep_until(due);
        }
        {
            std::lock_guard<std::mutex> guard(lock);
            EXPECT_GE(arrived, 10);
        }
        Engine->HangUp(call);
    }
}

}  // namespace sip_test
