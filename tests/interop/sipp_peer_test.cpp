// The engine against SIPp peers that play one scripted call each: what the
// engine sent is read back from SIPp's message trace, what it concluded from
// its events and the call's state.
#include <thread>

#include "interop_support.h"

namespace interop {
namespace {

using sip_test::FreeUdpPort;

using sip_test::WaitUntil;

class SippPeer : public ::testing::Test {
protected:
    void SetUp() override {
        INTEROP_REQUIRE("sipp");
        PeerPort = FreeUdpPort();
        Account = E.AddAccount("", "127.0.0.1:" + std::to_string(PeerPort), "alice", "alicepw");
    }

    // Starts SIPp as the called party and places a call to it.
    ISipCallPtr CallPeer(const std::string& scenario) {
        Peer = std::make_unique<TSipp>(scenario, PeerPort);
        return E.Engine->MakeCall(Account, "5550100", -1, -1);
    }

    // Places a call that the peer answers; fails the test unless it connects.
    ISipCallPtr ConnectedCall(const std::string& scenario) {
        ISipCallPtr call = CallPeer(scenario);
        EXPECT_TRUE(E.Sink->WaitFor("InviteOk")) << Peer->Errors();
        EXPECT_EQ(call->GetState(), csConnected);
        return call;
    }

    // Waits for SIPp to pass its scenario and the engine to let every call go.
    void ExpectPeerPassedAndEngineIdle() {
        EXPECT_EQ(Peer->Wait(), 0) << Peer->Errors();
        EXPECT_TRUE(E.WaitIdle()) << "a call or RTP port is still held";
    }

    TTestEngine E;
    uint16_t PeerPort = 0;
    ISipAccountPtr Account;
    std::unique_ptr<TSipp> Peer;
};

TEST_F(SippPeer, AnsweredCallEndsWithOurBye) {
    const ISipCallPtr call = ConnectedCall("uas_answer.xml");
    EXPECT_EQ(E.Sink->Count("Ringback"), 1);
    E.Engine->HangUp(call);
    EXPECT_TRUE(E.Sink->WaitFor("Bye"));
    ExpectPeerPassedAndEngineIdle();

    const std::string trace = Peer->Trace();
    EXPECT_NE(trace.find("INVITE sip:5550100@127.0.0.1"), std::string::npos) << trace;
    EXPECT_NE(trace.find("ACK sip:127.0.0.1:" + std::to_string(PeerPort)), std::string::npos) << trace;
    EXPECT_NE(trace.find("BYE sip:127.0.0.1:" + std::to_string(PeerPort)), std::string::npos) << trace;
    EXPECT_EQ(CountOf(trace, "CSeq: 1 ACK"), 1) << trace;
}

TEST_F(SippPeer, DigestAfter401IsVerifiedByThePeer) {
    const ISipCallPtr call = ConnectedCall("uas_auth401.xml");
    E.Engine->HangUp(call);
    ExpectPeerPassedAndEngineIdle();

    const std::string trace = Peer->Trace();
    EXPECT_NE(trace.find("Authorization: Digest username=\"alice\""), std::string::npos) << trace;
    EXPECT_NE(trace.find("nonce=\"4f1c2b9a0d\""), std::string::npos) << trace;
    EXPECT_EQ(trace.find("403 Forbidden"), std::string::npos) << "the peer refused our digest";
}

TEST_F(SippPeer, BusyPeerEndsTheCallWithItsStatus) {
    const ISipCallPtr call = CallPeer("uas_reject486.xml");
    ExpectPeerPassedAndEngineIdle();
    EXPECT_EQ(call->GetState(), csIdle);
    EXPECT_EQ(call->GetStatusText(), "486");
    EXPECT_EQ(E.Sink->Count("InviteOk"), 0);
    EXPECT_NE(Peer->Trace().find("CSeq: 1 ACK"), std::string::npos) << Peer->Trace();
}

TEST_F(SippPeer, EarlyMediaThenAnswer) {
    const ISipCallPtr call = CallPeer("uas_early183.xml");
    ASSERT_TRUE(WaitUntil([&] { return call->GetState() == csRinging; })) << Peer->Errors();
    EXPECT_NE(call->GetRemoteRtpPort(), 0) << "the 183's SDP gave no media address";
    // A 183 alone rings at the host, as most gateways send no 180.
    EXPECT_TRUE(E.Sink->WaitFor("Ringback")) << Peer->Errors();
    ASSERT_TRUE(E.Sink->WaitFor("InviteOk")) << Peer->Errors();
    E.Engine->HangUp(call);
    ExpectPeerPassedAndEngineIdle();
}

TEST_F(SippPeer, CancelledIncomingCallIsAnswered487AndFreed) {
    Peer = std::make_unique<TSipp>("uac_cancel.xml", PeerPort,
                                   "127.0.0.1:" + std::to_string(E.Port), std::vector<std::string>{"-s", "alice"});
    ASSERT_TRUE(E.Sink->WaitFor("Invite")) << Peer->Errors();
    ExpectPeerPassedAndEngineIdle();

    const std::string trace = Peer->Trace();
    EXPECT_NE(trace.find("SIP/2.0 180 Ringing"), std::string::npos) << trace;
    EXPECT_NE(trace.find("SIP/2.0 487"), std::string::npos) << trace;
    EXPECT_NE(trace.find("CSeq: 1 CANCEL"), std::string::npos) << trace;
    EXPECT_EQ(E.Sink->Count("InviteOk"), 0);
}

TEST_F(SippPeer, ReInviteOfConnectedCallIsAnsweredWithSdp) {
    const ISipCallPtr call = ConnectedCall("uas_reinvite.xml");
    const int firstPort = call->GetRemoteRtpPort();
    ASSERT_TRUE(WaitUntil([&] { return call->GetRemoteRtpPort() == firstPort + 2; }))
        << "the re-INVITE's new media port was not taken\n" << Peer->Errors();
    std::this_thread::sleep_for(300ms);  // the peer's ACK
    EXPECT_EQ(call->GetState(), csConnected);
    E.Engine->HangUp(call);
    ExpectPeerPassedAndEngineIdle();
    EXPECT_NE(Peer->Trace().find("CSeq: 2 INVITE\r\n"), std::string::npos);
}

TEST_F(SippPeer, TransferByReferEndsAfterNotify) {
    const ISipCallPtr call = ConnectedCall("uas_refer.xml");
    E.Engine->Transfer(call, "5550199");
    EXPECT_TRUE(E.Sink->WaitFor("Bye")) << Peer->Errors() << Peer->Trace();
    ExpectPeerPassedAndEngineIdle();

    const std::string trace = Peer->Trace();
    EXPECT_NE(trace.find("REFER sip:127.0.0.1:" + std::to_string(PeerPort)), std::string::npos) << trace;
    // The domain keeps the server's port (the peer is not on 5060).
    EXPECT_NE(trace.find("Refer-To: <sip:5550199@127.0.0.1:" + std::to_string(PeerPort) + ">"),
              std::string::npos) << trace;
    EXPECT_NE(trace.find("CSeq: 3 NOTIFY"), std::string::npos) << trace;
}

TEST_F(SippPeer, InfoDigitReachesTheHost) {
    {
        // INFO digits count only for a registered account; this peer is no registrar.
        std::lock_guard<ISipAccount> guard(*Account);
        Account->SetState(asRegistered);
    }
    const ISipCallPtr call = ConnectedCall("uas_info.xml");
    EXPECT_TRUE(E.Sink->WaitFor("Dtmf 5")) << Peer->Errors();
    EXPECT_EQ(call->GetDtmfReceived(), "5");
    E.Engine->HangUp(call);
    ExpectPeerPassedAndEngineIdle();
    EXPECT_NE(Peer->Trace().find("CSeq: 2 INFO"), std::string::npos);
}

}  // namespace
}  // namespace interop
