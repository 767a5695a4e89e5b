// A port of the RTP pool that another program holds is never named in an
// SDP: each call binds its port before its offer or answer leaves, keeps it
// bound until the call ends, and gives it back then.
#include <array>

#include "engine_test_fixture.h"

namespace sip_test {
namespace {

// The port bound here, or an empty handle when someone holds it.
TUniqueFd BindUdp(int port) {
    try {
        return TUniqueFd(CreateUdpSocket(static_cast<uint16_t>(port)));
    } catch (const ESipError&) {
        return TUniqueFd();
    }
}

int SdpAudioPort(const std::string& message) {
    const std::string body = TSipMessage(message).Body;
    const std::size_t at = body.find("m=audio ");
    return at == std::string::npos ? -1 : std::stoi(body.substr(at + 8));
}

class EngineRtpPort : public EngineTest {
protected:
    // Pool bounds whose first port (where every draw starts) another
    // program holds; the second and its control port are free.
    void HoldThePoolsFirstPort() {
        for (int first = 41000 + (Port % 2000) * 4; first < 60000 && Foreign.Get() < 0; first += 4) {
            TUniqueFd held = BindUdp(first);
            if (held.Get() < 0 || BindUdp(first + 2).Get() < 0 || BindUdp(first + 3).Get() < 0) continue;
            Foreign = std::move(held);
            Second = first + 2;
            Engine->SetRtpPortMin(first);
            Engine->SetRtpPortMax(first + 2);
        }
        ASSERT_GE(Foreign.Get(), 0);
    }

    TUniqueFd Foreign;
    int Second = 0;
    TUdpSocket Peer{0, nullptr, [](const std::string&, uint16_t, const uint8_t*, std::size_t) {}};
};

TEST_F(EngineRtpPort, SdpNamesThePortTheCallListensOnWhileAnotherProgramHoldsOne) {
    HoldThePoolsFirstPort();
    const ISipAccountPtr account = AddAccount();
    // Answering, then calling: the second call finds the port the first gave
    // back, so a port kept after the call would fail it.
    ISipCallPtr ended;
    for (const bool incoming : {true, false}) {
        SCOPED_TRACE(incoming ? "answering" : "calling");
        ISipCallPtr call;
        std::string sdp;
        if (incoming) {
            Server.Send(IncomingInvite("port-1", SdpBody(Peer.LocalPort(), "0")), Port);
            ASSERT_TRUE(Sink->WaitFor("Invite"));
            call = Sink->OfferedCall();
            Engine->Answer(call);
            sdp = Server.NextOf("INVITE", "200");
        } else {
            call = Engine->MakeCall(account, "5550100", -1, -1);
            sdp = Server.NextOf("INVITE");
        }
        ASSERT_EQ(SdpAudioPort(sdp), Second) << sdp;
        EXPECT_EQ(call->GetLocalRtpPort(), Second);
        // Bound from the moment the SDP names it, answer or not.
        EXPECT_LT(BindUdp(Second).Get(), 0);
        if (ended) {
            // The first call ended once more (a late timer, say) gives back
            // nothing: the port is the second call's now.
            Engine->EndCall(ended);
            EXPECT_TRUE(Engine->Ports().InUse(Second));
        }
        const std::array<uint8_t, 172> packet{0x80, 0x00, 0x00, 0x01};
        if (!incoming) {
            // Sent before the answer: older than the media that starts, so
            // dropped rather than played late.
            Peer.Send("127.0.0.1", static_cast<uint16_t>(Second), packet.data(), packet.size());
            Server.Send(Respond(sdp, "200 OK", "callee1",
                                "Contact: <sip:5550100@127.0.0.1:" + std::to_string(Server.Port()) + ">\r\n",
                                SdpBody(Peer.LocalPort(), "0")),
                        Port);
            EXPECT_FALSE(Server.NextOf("ACK").empty());
            ASSERT_TRUE(Sink->WaitFor("InviteOk"));
        }

        const auto& media = dynamic_cast<const TCall&>(*call);
        Peer.Send("127.0.0.1", static_cast<uint16_t>(Second), packet.data(), packet.size());
        EXPECT_TRUE(WaitUntil([&] { return media.GetMediaReceived() >= 1; }));
        EXPECT_EQ(media.GetMediaReceived(), 1u);

        Engine->HangUp(call);
        const std::string bye = Server.NextOf("BYE");
        Server.Send(Respond(bye, "200 OK", ""), Port);
        EXPECT_TRUE(WaitUntil([&] { return Engine->Calls().Count() == 0; }));
        ended = call;
    }
    EXPECT_EQ(Engine->Ports().InUseCount(), 0u);
    EXPECT_GE(BindUdp(Second).Get(), 0);
}

}  // namespace
}  // namespace sip_test
