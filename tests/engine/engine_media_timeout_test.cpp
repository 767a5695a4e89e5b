// A connected call whose far end stops sending media is ended with BYE and
// the reason "media-timeout"; a held call, and a timeout of 0, never are.
#include <array>

#include "engine_test_fixture.h"

namespace sip_test {
namespace {

class EngineMediaTimeout : public EngineTest {
protected:
    // An answered incoming call whose peer sends RTP from `Peer`.
    ISipCallPtr AnsweredCall(const std::string& callId) {
        Server.Send(Request("INVITE", callId, 1, "", SdpBody(Peer.LocalPort(), "0")), Port);
        EXPECT_TRUE(Sink->WaitFor("Invite", ++Offers));
        const ISipCallPtr call = Sink->OfferedCall();
        Engine->Answer(call);
        EXPECT_FALSE(Server.NextOf("INVITE", "200").empty());
        EXPECT_EQ(call->GetState(), csConnected);
        return call;
    }

    // A request of the caller; inside the dialog once `localTag` is known.
    std::string Request(const std::string& method, const std::string& callId, int cseq,
                        const std::string& localTag, const std::string& sdp = "") {
        return method + " sip:4711@127.0.0.1 SIP/2.0\r\n"
               "Via: SIP/2.0/UDP 127.0.0.1:" + std::to_string(Server.Port()) + ";branch=z9hG4bK" + method +
               std::to_string(cseq) + "\r\nFrom: <sip:caller@127.0.0.1>;tag=ct\r\nTo: <sip:4711@127.0.0.1>" +
               (localTag.empty() ? "" : ";tag=" + localTag) + "\r\nCall-ID: " + callId + "\r\nCSeq: " +
               std::to_string(cseq) + " " + method + "\r\nContact: <sip:caller@127.0.0.1:" +
               std::to_string(Server.Port()) + ">\r\n" +
               (sdp.empty() ? "" : "Content-Type: application/sdp\r\n") +
               "Content-Length: " + std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
    }

    // One PCMU packet from the peer; returns once the call has counted it.
    void SendRtp(const ISipCallPtr& call) {
        const auto& media = dynamic_cast<const TCall&>(*call);
        const uint64_t before = media.GetMediaReceived();
        std::array<uint8_t, 12 + 160> packet{};
        packet[0] = 0x80;
        packet[3] = static_cast<uint8_t>(++Sequence);
        Peer.Send("127.0.0.1", static_cast<uint16_t>(call->GetLocalRtpPort()), packet.data(), packet.size());
        ASSERT_TRUE(WaitUntil([&] { return media.GetMediaReceived() > before; }));
    }

    // Moves the engine's clock in one-second ticks.
    void TickFor(int seconds) {
        for (int second = 0; second < seconds; ++second) {
            AdvanceSeconds(1);
            Engine->Tick();
        }
    }

    TUdpSocket Peer{0, nullptr, [](const std::string&, uint16_t, const uint8_t*, std::size_t) {}};
    int Sequence = 0;
    int Offers = 0;
};

TEST_F(EngineMediaTimeout, PeerThatStopsSendingIsHungUpWithTheReason) {
    AddAccount();
    Engine->SetMediaTimeout(10);
    const ISipCallPtr call = AnsweredCall("mt-dead");
    // Media every 8 s keeps the call up well past the timeout.
    for (int round = 0; round < 5; ++round) {
        SendRtp(call);
        TickFor(8);
    }
    EXPECT_EQ(call->GetState(), csConnected);
    EXPECT_TRUE(Server.NextOf("BYE", "", std::chrono::milliseconds(50)).empty());
    // Then the peer dies: ten seconds later the call ends.
    SendRtp(call);
    TickFor(9);
    EXPECT_EQ(call->GetState(), csConnected);
    TickFor(2);
    EXPECT_FALSE(Server.NextOf("BYE").empty());
    ASSERT_TRUE(Sink->WaitFor("Bye"));
    EXPECT_EQ(call->GetState(), csIdle);
    EXPECT_EQ(call->GetStatusText(), kMediaTimeoutStatus);
    EXPECT_TRUE(WaitUntil([&] { return Engine->Calls().Count() == 0; }));
}

// Nothing is due from a far end on hold, whichever side held, nor is a call
// ever ended with the timeout switched off; a call taken off hold waits the
// whole timeout again.
TEST_F(EngineMediaTimeout, HeldCallsAndAZeroTimeoutStayUp) {
    struct TCase {
        const char* name;
        int timeout;
        const char* farEndDirection;  // of the far end's re-INVITE; empty: none
        bool localHold;
    };
    const TCase cases[] = {
        {"local-hold", 10, "", true},
        {"far-end-sendonly", 10, "a=sendonly\r\n", false},
        {"far-end-inactive", 10, "a=inactive\r\n", false},
        {"timeout-off", 0, "", false},
    };
    AddAccount();
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.name);
        Engine->SetMediaTimeout(test.timeout);
        const std::string callId = std::string("mt-") + test.name;
        const ISipCallPtr call = AnsweredCall(callId);
        SendRtp(call);
        if (test.localHold) {
            Engine->Hold(call);
            const std::string hold = Server.NextOf("INVITE");
            ASSERT_FALSE(hold.empty());
            Server.Send(Respond(hold, "200 OK", "ct", "", SdpBody(Peer.LocalPort(), "0")), Port);
            ASSERT_FALSE(Server.NextOf("ACK").empty());
        }
        if (*test.farEndDirection) {
            Server.Send(Request("INVITE", callId, 2, call->Dialog().LocalTag(),
                                SdpBody(Peer.LocalPort(), "0") + test.farEndDirection),
                        Port);
            ASSERT_FALSE(Server.NextOf("INVITE", "200").empty());
        }
        TickFor(60);
        EXPECT_NE(call->GetState(), csIdle);
        EXPECT_TRUE(Server.NextOf("BYE", "", std::chrono::milliseconds(50)).empty());
        if (test.localHold) {
            // Off hold, the far end has the whole timeout to be heard again.
            Engine->Resume(call);
            const std::string resume = Server.NextOf("INVITE");
            ASSERT_FALSE(resume.empty());
            Server.Send(Respond(resume, "200 OK", "ct", "", SdpBody(Peer.LocalPort(), "0")), Port);
            ASSERT_TRUE(WaitUntil([&] { return call->GetState() == csConnected; }));
            TickFor(9);
            EXPECT_EQ(call->GetState(), csConnected);
            TickFor(2);
            EXPECT_FALSE(Server.NextOf("BYE").empty());
            continue;
        }
        Engine->EndCall(call);
        EXPECT_FALSE(Server.NextOf("BYE").empty());
    }
}

}  // namespace
}  // namespace sip_test
