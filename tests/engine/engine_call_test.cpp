#include <regex>
#include <thread>

#include "engine_test_fixture.h"
#include "sip/auth.h"

namespace sip_test {
namespace {

const std::string kProxyChallenge =
    "Proxy-Authenticate: Digest realm=\"test\", nonce=\"n7\", qop=\"auth\"\r\n";

class EngineOutgoingCall : public EngineTest {};

TEST_F(EngineOutgoingCall, RemoteUriFollowsTheNumber) {
    const ISipAccountPtr account = AddAccount();
    // The server's port (not 5060 here) stays in the domain.
    EXPECT_EQ(Engine->MakeCall(account, "4711", -1, -1)->Dialog().RemoteUri(),
              "sip:4711@127.0.0.1:" + std::to_string(Server.Port()));
    EXPECT_EQ(Engine->MakeCall(account, "4711@10.0.0.1", -1, -1)->Dialog().RemoteUri(), "sip:4711@10.0.0.1");
}

TEST_F(EngineOutgoingCall, ProxyChallengeThenAnswer) {
    const ISipAccountPtr account = AddAccount("4711", "secret");
    const ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
    EXPECT_EQ(call->GetState(), csCalling);
    const std::string invite = Server.NextOf("INVITE");
    Server.Send(Respond(invite, "407 Proxy Authentication Required", "px", kProxyChallenge), Port);
    EXPECT_FALSE(Server.NextOf("ACK").empty());
    const std::string retry = Server.NextOf("INVITE");
    ASSERT_FALSE(retry.empty());
    EXPECT_EQ(call->GetState(), csAuthenticating);

    std::smatch found;
    ASSERT_TRUE(std::regex_search(retry, found, std::regex("Proxy-Authorization: Digest username=\"4711\","
                                                           "realm=\"test\",nonce=\"n7\",uri=\"([^\"]*)\","
                                                           "response=\"([0-9a-f]{32})\",qop=auth,cnonce=\"([0-9a-f]{32})\",nc=00000001,")));
    EXPECT_EQ(found[2].str(), DigestResponseForUri("INVITE", found[1].str(), "4711", "test", "secret",
                                                   "auth", "n7", found[3].str(), ""));

    Server.Send(Respond(retry, "200 OK", "callee",
                        "Contact: <sip:5550100@127.0.0.1:" + std::to_string(Server.Port()) + ">\r\n",
                        SdpBody(FreeUdpPort(), "8 101")),
                Port);
    EXPECT_FALSE(Server.NextOf("ACK").empty());
    ASSERT_TRUE(Sink->WaitFor("InviteOk"));
    EXPECT_EQ(call->GetState(), csConnected);
    EXPECT_EQ(call->Dialog().RemoteTag(), "callee");
    ASSERT_TRUE(call->GetCodec());
    EXPECT_EQ(call->GetCodec()->GetPayloadType(), 8);
    EXPECT_EQ(Sink->Count("InviteOk"), 1);
    // The host hears first; the event follows on the same thread.
    EXPECT_TRUE(call->GetAnsweredEvent()->Wait(std::chrono::seconds(5)));
}

TEST_F(EngineOutgoingCall, BusyEndsTheCallAndFreesThePort) {
    const ISipAccountPtr account = AddAccount();
    const ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
    const int port = call->GetLocalRtpPort();
    EXPECT_TRUE(Engine->Ports().InUse(port));
    Server.Send(Respond(Server.NextOf("INVITE"), "486 Busy Here", "b"), Port);
    EXPECT_FALSE(Server.NextOf("ACK").empty());
    ASSERT_TRUE(Sink->WaitFor("Bye"));
    EXPECT_EQ(call->GetState(), csIdle);
    EXPECT_TRUE(WaitUntil([&] { return Engine->Calls().Count() == 0; }));
    EXPECT_EQ(call->GetStatusText(), "486");
    EXPECT_FALSE(Engine->Ports().InUse(port));
}

TEST_F(EngineOutgoingCall, ForbiddenIsAcknowledgedOnceAndNotRetried) {
    const ISipAccountPtr account = AddAccount();
    const ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
    Server.Send(Respond(Server.NextOf("INVITE"), "403 Forbidden", "f"), Port);
    EXPECT_FALSE(Server.NextOf("ACK").empty());
    ASSERT_TRUE(Sink->WaitFor("Bye"));
    EXPECT_TRUE(Server.NextOf("ACK", "", std::chrono::milliseconds(200)).empty());
    EXPECT_EQ(call->GetStatusText(), "403");
    EXPECT_TRUE(Server.NextOf("INVITE", "", std::chrono::milliseconds(200)).empty());
}

// Every refusal gets exactly one ACK, which repeats the INVITE it answers
// (its Request-URI, its Via, its CSeq number) and goes where the INVITE
// went, whatever Contact the refusal names; the call ends with its status.
TEST_F(EngineOutgoingCall, EveryRefusalGetsOneAckForItsInvite) {
    struct TRow {
        const char* status;
        bool challengedFirst;  // a 401 answered with credentials came before
    };
    const TRow rows[] = {
        {"486 Busy Here", false},
        {"487 Request Terminated", false},  // the far end gave up by itself
        {"403 Forbidden", false},
        {"401 Unauthorized", true},  // a second challenge is a refusal
        {"603 Decline", true},
    };
    const std::string challenge = "WWW-Authenticate: Digest realm=\"test\", nonce=\"n\"\r\n";
    const std::string elsewhere = "Contact: <sip:elsewhere@127.0.0.1:9>\r\n";
    const ISipAccountPtr account = AddAccount();
    for (const TRow& row : rows) {
        const ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
        std::string invite = Server.NextOf("INVITE");
        if (row.challengedFirst) {
            Server.Send(Respond(invite, "401 Unauthorized", "a", challenge + elsewhere), Port);
            ASSERT_FALSE(Server.NextOf("ACK").empty());
            invite = Server.NextOf("INVITE");
        }
        ASSERT_FALSE(invite.empty()) << row.status;
        const std::string refusal = Respond(invite, row.status, "a", challenge + elsewhere);
        Server.Send(refusal, Port);
        const std::string ackText = Server.NextOf("ACK");
        const TSipMessage ack(ackText);
        const TSipMessage sent(invite);
        EXPECT_EQ(ack.RequestUri, sent.RequestUri) << row.status;
        EXPECT_EQ(ack.ViaHeaders, sent.ViaHeaders.substr(0, sent.ViaHeaders.find("\r\n") + 2)) << row.status;
        EXPECT_EQ(ack.CSeqNumber, sent.CSeqNumber) << row.status;
        EXPECT_EQ(ack.ToTag, "a") << row.status;
        EXPECT_TRUE(WaitUntil([&] { return Engine->Calls().Count() == 0; })) << row.status;
        // A copy of the refusal (our ACK was lost) gets the same ACK again.
        Server.Send(refusal, Port);
        EXPECT_EQ(Server.NextOf("ACK"), ackText) << row.status;
        EXPECT_TRUE(Server.NextOf("ACK", "", std::chrono::milliseconds(200)).empty()) << row.status;
        EXPECT_EQ(call->GetStatusText(), std::string(row.status, 3)) << row.status;
    }
}

// A refusal for a call already let go is still acknowledged: from the INVITE
// while its transaction lasts, else from the refusal alone (the To URI is
// the Request-URI of a call's first INVITE).
TEST_F(EngineOutgoingCall, RefusalOfACallLetGoIsAcknowledged) {
    const ISipAccountPtr account = AddAccount();
    for (const bool afterTimerB : {false, true}) {
        const ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
        const std::string invite = Server.NextOf("INVITE");
        ASSERT_FALSE(invite.empty());
        if (afterTimerB) {
            AdvanceTransactions(33000ms);
            while (!Server.NextOf("INVITE", "", std::chrono::milliseconds(50)).empty()) {
            }
        } else {
            Engine->EndCall(call);
        }
        ASSERT_EQ(Engine->Calls().Count(), 0) << afterTimerB;
        Server.Send(Respond(invite, "486 Busy Here", "late",
                            "Contact: <sip:elsewhere@127.0.0.1:9>\r\n"),
                    Port);
        const TSipMessage ack(Server.NextOf("ACK"));
        EXPECT_EQ(ack.RequestUri, TSipMessage(invite).RequestUri) << afterTimerB;
        EXPECT_EQ(ack.ToTag, "late") << afterTimerB;
        EXPECT_EQ(ack.CSeqNumber, TSipMessage(invite).CSeqNumber) << afterTimerB;
    }
}

TEST_F(EngineOutgoingCall, SecondChallengeEndsTheCall) {
    const ISipAccountPtr account = AddAccount();
    const ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
    const std::string challenge = "WWW-Authenticate: Digest realm=\"test\", nonce=\"n\"\r\n";
    Server.Send(Respond(Server.NextOf("INVITE"), "401 Unauthorized", "a", challenge), Port);
    Server.Send(Respond(Server.NextOf("INVITE"), "401 Unauthorized", "a", challenge), Port);
    ASSERT_TRUE(Sink->WaitFor("Bye"));
    EXPECT_TRUE(WaitUntil([&] { return Engine->Calls().Count() == 0; }));
    EXPECT_EQ(call->GetStatusText(), "401");
}

TEST_F(EngineOutgoingCall, RingingAndEarlyMedia) {
    const ISipAccountPtr account = AddAccount();
    const ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
    const std::string invite = Server.NextOf("INVITE");
    Server.Send(Respond(invite, "180 Ringing", "r"), Port);
    ASSERT_TRUE(Sink->WaitFor("Ringback"));
    EXPECT_EQ(call->GetState(), csRinging);
    EXPECT_FALSE(call->GetMediaActive());
    Server.Send(Respond(invite, "183 Session Progress", "r", "", SdpBody(FreeUdpPort(), "0")), Port);
    ASSERT_TRUE(Sink->WaitFor("CreateAudioDevices"));
    EXPECT_TRUE(WaitUntil([&] { return call->GetMediaActive(); }));
    EXPECT_EQ(Sink->Count("Ringback"), 1);
}

// A far end that only ever sends 183 (a gateway's early media) rings all
// the same: the host hears of it once, whatever provisionals follow, and
// never again once the call is answered.
TEST_F(EngineOutgoingCall, FirstProvisionalRingsOnce) {
    struct TRow {
        const char* name;
        std::vector<std::string> before;  // provisionals before the 200
        bool sdp;                         // they carry early media
    };
    const TRow rows[] = {
        {"183 with SDP only", {"183 Session Progress"}, true},
        {"183 without SDP only", {"183 Session Progress"}, false},
        {"183 then 180", {"183 Session Progress", "180 Ringing"}, true},
        {"180 twice", {"180 Ringing", "180 Ringing"}, false},
    };
    const ISipAccountPtr account = AddAccount();
    for (const TRow& row : rows) {
        Sink = std::make_shared<TRecordingSink>();
        Engine->SetEventHandler(Sink);
        const ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
        const std::string invite = Server.NextOf("INVITE");
        ASSERT_FALSE(invite.empty()) << row.name;
        const std::string body = row.sdp ? SdpBody(FreeUdpPort(), "0") : "";
        for (const std::string& status : row.before) Server.Send(Respond(invite, status, "gw", "", body), Port);
        ASSERT_TRUE(Sink->WaitFor("Ringback")) << row.name;
        EXPECT_EQ(call->GetState(), csRinging) << row.name;
        const std::string contact = "Contact: <sip:5550100@127.0.0.1:" + std::to_string(Server.Port()) + ">\r\n";
        const std::string ok = Respond(invite, "200 OK", "gw", contact, SdpBody(FreeUdpPort(), "0"));
        Server.Send(ok, Port);
        ASSERT_TRUE(Sink->WaitFor("InviteOk")) << row.name;
        ASSERT_FALSE(Server.NextOf("ACK").empty()) << row.name;
        // A late provisional after the answer rings nothing; the 200 sent
        // again after it is acknowledged once the provisional was handled.
        Server.Send(Respond(invite, "180 Ringing", "gw", "", body), Port);
        Server.Send(ok, Port);
        ASSERT_FALSE(Server.NextOf("ACK").empty()) << row.name;
        EXPECT_EQ(Sink->Count("Ringback"), 1) << row.name;
        Engine->HangUp(call);
        const std::string bye = Server.NextOf("BYE");
        ASSERT_FALSE(bye.empty()) << row.name;
        Server.Send(Respond(bye, "200 OK"), Port);
        ASSERT_TRUE(WaitUntil([&] { return Engine->Calls().Count() == 0; })) << row.name;
    }
}

// Any 2xx answers the call (RFC 3261 13.2.2.4), not only 200.
TEST_F(EngineOutgoingCall, AnyTwoHundredAnswersTheCall) {
    const ISipAccountPtr account = AddAccount();
    const ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
    const std::string contact = "Contact: <sip:5550100@127.0.0.1:" + std::to_string(Server.Port()) + ">\r\n";
    Server.Send(Respond(Server.NextOf("INVITE"), "202 Accepted", "callee", contact,
                        SdpBody(FreeUdpPort(), "0")),
                Port);
    const TSipMessage ack(Server.NextOf("ACK"));
    EXPECT_EQ(ack.RequestUri, "sip:5550100@127.0.0.1:" + std::to_string(Server.Port()));
    ASSERT_TRUE(Sink->WaitFor("InviteOk"));
    EXPECT_EQ(call->GetState(), csConnected);
}

TEST_F(EngineOutgoingCall, CancelledCallIsRemovedWhenItsFinalAnswerArrives) {
    const ISipAccountPtr account = AddAccount();
    const ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
    const int port = call->GetLocalRtpPort();
    const std::string invite = Server.NextOf("INVITE");
    Server.Send(Respond(invite, "100 Trying"), Port);
    ASSERT_TRUE(WaitUntil([&] { return Engine->TransactionCount() == 1 && call->GetState() == csCalling; }));
    Engine->HangUp(call);
    const std::string cancel = Server.NextOf("CANCEL");
    ASSERT_FALSE(cancel.empty());
    Server.Send(Respond(cancel, "200 OK"), Port);
    ASSERT_TRUE(Sink->WaitFor("Bye"));
    Server.Send(Respond(invite, "487 Request Terminated", "t"), Port);
    EXPECT_FALSE(Server.NextOf("ACK").empty());
    EXPECT_TRUE(Server.NextOf("ACK", "", std::chrono::milliseconds(200)).empty());
    EXPECT_TRUE(WaitUntil([&] { return Engine->Calls().Count() == 0; }));
    EXPECT_FALSE(Engine->Ports().InUse(port));
    EXPECT_EQ(Sink->Count("Bye"), 1);
}

// Only a final answer to an INVITE takes an ACK: a peer that answers our
// CANCEL itself with 487 gets none for it, and the INVITE's own 487 gets one.
TEST_F(EngineOutgoingCall, RefusedCancelTakesNoAck) {
    const ISipAccountPtr account = AddAccount();
    const ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
    const std::string invite = Server.NextOf("INVITE");
    Server.Send(Respond(invite, "180 Ringing", "t"), Port);
    ASSERT_TRUE(Sink->WaitFor("Ringback"));
    Engine->HangUp(call);
    const std::string cancel = Server.NextOf("CANCEL");
    ASSERT_FALSE(cancel.empty());
    Server.Send(Respond(cancel, "487 Request Terminated"), Port);
    EXPECT_TRUE(Server.NextOf("ACK", "", std::chrono::milliseconds(300)).empty());
    Server.Send(Respond(invite, "487 Request Terminated", "t"), Port);
    EXPECT_FALSE(Server.NextOf("ACK").empty());
    EXPECT_TRUE(WaitUntil([&] { return Engine->Calls().Count() == 0; }));
}

TEST_F(EngineOutgoingCall, UnansweredCallEndsWith408AfterTwoMinutes) {
    const ISipAccountPtr account = AddAccount();
    const ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
    AdvanceSeconds(100);
    Engine->Tick();
    EXPECT_EQ(call->GetState(), csCalling);
    AdvanceSeconds(21);
    Engine->Tick();
    EXPECT_EQ(call->GetState(), csIdle);
    EXPECT_EQ(call->GetStatusText(), "408");
    EXPECT_EQ(Engine->Calls().Count(), 0);
}

class EngineConnectedCall : public EngineTest {};

TEST_F(EngineConnectedCall, RefusedHoldKeepsTheCallUp) {
    const ISipAccountPtr account = AddAccount();
    const ISipCallPtr call = ConnectedCall(account);
    Engine->Hold(call);
    const std::string reinvite = Server.NextOf("INVITE");
    ASSERT_FALSE(reinvite.empty());
    EXPECT_NE(reinvite.find("a=sendonly"), std::string::npos);
    EXPECT_EQ(call->GetState(), csHolding);
    Server.Send(Respond(reinvite, "488 Not Acceptable Here", "callee1"), Port);
    EXPECT_FALSE(Server.NextOf("ACK").empty());
    EXPECT_TRUE(WaitUntil([&] { return call->GetState() == csConnected; }));
    EXPECT_EQ(Engine->Calls().Count(), 1);
    EXPECT_EQ(Sink->Count("Bye"), 0);
}

TEST_F(EngineConnectedCall, HoldAnsweredStaysHeldResumeReturnsConnected) {
    const ISipAccountPtr account = AddAccount();
    const ISipCallPtr call = ConnectedCall(account);
    Engine->Hold(call);
    const std::string hold = Server.NextOf("INVITE");
    Server.Send(Respond(hold, "200 OK", "callee1", "", SdpBody(FreeUdpPort(), "0")), Port);
    EXPECT_FALSE(Server.NextOf("ACK").empty());
    ASSERT_TRUE(Sink->WaitFor("InviteOk", 2));
    EXPECT_EQ(call->GetState(), csHolding);
    Engine->Resume(call);
    const std::string resume = Server.NextOf("INVITE");
    EXPECT_NE(resume.find("a=sendrecv"), std::string::npos);
    Server.Send(Respond(resume, "200 OK", "callee1", "", SdpBody(FreeUdpPort(), "0")), Port);
    ASSERT_TRUE(Sink->WaitFor("InviteOk", 3));
    EXPECT_EQ(call->GetState(), csConnected);
}

TEST_F(EngineConnectedCall, ByeFromFarEndIsAnsweredAndEndsTheCall) {
    const ISipAccountPtr account = AddAccount();
    std::string invite;
    const ISipCallPtr call = ConnectedCall(account, &invite);
    const TSipMessage m(invite);
    const std::string bye = "BYE sip:4711@127.0.0.1 SIP/2.0\r\n"
                            "Via: SIP/2.0/UDP 127.0.0.1:" + std::to_string(Server.Port()) + ";branch=z9hG4bKb1\r\n"
                            "From: <sip:5550100@127.0.0.1>;tag=callee1\r\n" + m.FromHeader.substr(6).insert(0, "To: ") + "\r\n"
                            "Call-ID: " + m.CallId + "\r\nCSeq: 9 BYE\r\nContent-Length: 0\r\n\r\n";
    Server.Send(bye, Port);
    const TSipMessage ok(Server.NextOf("BYE", "200"));
    EXPECT_EQ(ok.CallId, m.CallId);
    ASSERT_TRUE(Sink->WaitFor("Bye"));
    EXPECT_TRUE(WaitUntil([&] { return Engine->Calls().Count() == 0; }));
    EXPECT_EQ(Engine->Ports().InUseCount(), 0u);
    EXPECT_EQ(Sink->Count("ReleaseAudioDevices"), 1);
}

// Every request gets its answer, registered or not (RFC 3261 8.2).
TEST_F(EngineConnectedCall, InfoDigitsAreReportedRegisteredOrNot) {
    const ISipAccountPtr account = AddAccount();
    std::string invite;
    const ISipCallPtr call = ConnectedCall(account, &invite);
    int cseq = 20;
    const auto info = [&](const std::string& signal) {
        // Each INFO a transaction of its own: a new branch and CSeq.
        const std::string body = "Signal=" + signal + "\r\nDuration=160\r\n";
        ++cseq;
        return "INFO sip:4711@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" +
               std::to_string(Server.Port()) + ";branch=z9hG4bKi" + std::to_string(cseq) + "\r\n"
               "From: <sip:5550100@127.0.0.1>;tag=callee1\r\nTo: <sip:4711@127.0.0.1>;tag=" +
               call->Dialog().LocalTag() + "\r\nCall-ID: " + TSipMessage(invite).CallId + "\r\nCSeq: " +
               std::to_string(cseq) + " INFO\r\n"
               "Content-Type: application/dtmf-relay\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\n\r\n" + body;
    };
    Server.Send(info("5"), Port);
    EXPECT_FALSE(Server.NextOf("INFO", "200").empty());  // not registered

    account->SetState(asRegistered);
    Server.Send(info("11"), Port);
    EXPECT_FALSE(Server.NextOf("INFO", "200").empty());
    Server.Send(info("13"), Port);
    ASSERT_TRUE(Sink->WaitFor("Dtmf B"));
    EXPECT_EQ(Sink->Count("Dtmf #"), 1);
    EXPECT_EQ(call->GetDtmfReceived(), "5#");
}

class EngineIncomingCall : public EngineTest {
protected:
    std::string Invite(const std::string& callId, const std::string& sdp) {
        return "INVITE sip:4711@127.0.0.1 SIP/2.0\r\n"
               "Via: SIP/2.0/UDP 127.0.0.1:" + std::to_string(Server.Port()) + ";branch=z9hG4bKin\r\n"
               "From: <sip:caller@127.0.0.1>;tag=ct\r\nTo: <sip:4711@127.0.0.1>\r\n"
               "Call-ID: " + callId + "\r\nCSeq: 1 INVITE\r\nContact: <sip:caller@127.0.0.1:" +
               std::to_string(Server.Port()) + ">\r\nContent-Type: application/sdp\r\n"
               "Content-Length: " + std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
    }
};

// A caller elsewhere than the server, behind a NAT that rewrote its port:
// every response reaches the datagram's source, none the server.
TEST_F(EngineIncomingCall, ResponsesGoToTheSenderByRport) {
    AddAccount();
    TFakePeer caller;
    std::string invite = Invite("in-nat", SdpBody(40000, "0 101"));
    const std::string via = "127.0.0.1:" + std::to_string(Server.Port()) + ";branch=z9hG4bKin";
    invite.replace(invite.find(via), via.size(), "10.9.9.9:5099;rport;branch=z9hG4bKnat");
    caller.Send(invite, Port);
    const TSipMessage ringing(caller.NextOf("INVITE", "180"));
    ASSERT_FALSE(ringing.RawText.empty());
    EXPECT_NE(ringing.ViaHeaders.find(";rport=" + std::to_string(caller.Port()) + ";"), std::string::npos)
        << ringing.ViaHeaders;
    EXPECT_NE(ringing.ViaHeaders.find(";received=127.0.0.1"), std::string::npos);
    ASSERT_TRUE(Sink->WaitFor("Invite"));
    Engine->Answer(Sink->OfferedCall());
    const TSipMessage ok(caller.NextOf("INVITE", "200"));
    EXPECT_EQ(ok.ToTag, ringing.ToTag);  // 180 already carries our tag
    EXPECT_FALSE(ok.ToTag.empty());
    EXPECT_TRUE(Server.NextOf("INVITE", "", std::chrono::milliseconds(300)).empty());
}

// Calls nobody answers take no RTP port, and only a few may ring at once.
TEST_F(EngineIncomingCall, UnansweredCallsHoldNoPortAndOnlyEightRing) {
    AddAccount();
    for (int n = 0; n < TSipEngine::kMaxRingingIncoming; ++n) {
        std::string invite = Invite("ring-" + std::to_string(n), SdpBody(40000, "0 101"));
        invite.replace(invite.find("z9hG4bKin"), 9, "z9hG4bKr" + std::to_string(n));
        Server.Send(invite, Port);
    }
    ASSERT_TRUE(Sink->WaitFor("Invite", TSipEngine::kMaxRingingIncoming));
    EXPECT_EQ(Engine->Ports().InUseCount(), 0u);
    Server.Send(Invite("ring-extra", SdpBody(40000, "0 101")), Port);
    EXPECT_FALSE(Server.NextOf("INVITE", "486").empty());
    EXPECT_EQ(Engine->Calls().Count(), TSipEngine::kMaxRingingIncoming);
    Engine->Answer(Sink->OfferedCall());
    EXPECT_EQ(Engine->Ports().InUseCount(), 1u);
}

TEST_F(EngineIncomingCall, WithoutSinkTheCallIsRefusedBusy) {
    AddAccount();
    Engine->SetEventHandler(nullptr);
    Server.Send(Invite("in-1", SdpBody(40000, "0 101")), Port);
    EXPECT_FALSE(Server.NextOf("INVITE", "100").empty());
    EXPECT_FALSE(Server.NextOf("INVITE", "180").empty());
    const std::string busy = Server.NextOf("INVITE", "486");
    EXPECT_NE(busy.find("486 Busy here"), std::string::npos);
}

TEST_F(EngineIncomingCall, NoCommonCodecIsNotAcceptable) {
    AddAccount();
    Server.Send(Invite("in-2", SdpBody(40000, "18 101")), Port);
    EXPECT_FALSE(Server.NextOf("INVITE", "488").empty());
    EXPECT_EQ(Engine->Calls().Count(), 0);
    EXPECT_EQ(Sink->Count("Invite"), 0);
}

TEST_F(EngineIncomingCall, OfferWithoutPayloadsTakesFirstCodecAndAnsweredCallConnects) {
    AddAccount();
    Server.Send(Invite("in-3", ""), Port);
    ASSERT_TRUE(Sink->WaitFor("Invite"));
    const ISipCallPtr call = Sink->OfferedCall();
    ASSERT_TRUE(call->GetCodec());
    EXPECT_EQ(call->GetCodec()->GetPayloadType(), Engine->GetCodecAt(0));
    EXPECT_EQ(call->GetState(), csIdle);
    EXPECT_TRUE(call->GetIncoming());
    EXPECT_EQ(call->GetTarget(), "caller");
    Engine->HangUp(call);  // an unanswered incoming call gets nothing
    Server.NextOf("INVITE", "180");
    EXPECT_TRUE(Server.Silent());
    Engine->Answer(call);
    const TSipMessage ok(Server.NextOf("INVITE", "200"));
    EXPECT_FALSE(ok.Body.empty());
    EXPECT_EQ(call->GetState(), csConnected);
}

TEST_F(EngineIncomingCall, ReInviteWithoutRecordRouteKeepsTheRouteSet) {
    AddAccount();
    std::string invite = Invite("in-rr", SdpBody(40000, "0"));
    invite.insert(invite.find("From:"), "Record-Route: <sip:127.0.0.1:" + std::to_string(Server.Port()) + ";lr>\r\n");
    Server.Send(invite, Port);
    ASSERT_TRUE(Sink->WaitFor("Invite"));
    const ISipCallPtr call = Sink->OfferedCall();
    Engine->Answer(call);
    ASSERT_FALSE(Server.NextOf("INVITE", "200").empty());

    std::string reinvite = Invite("in-rr", SdpBody(40002, "0"));
    reinvite.replace(reinvite.find("CSeq: 1 INVITE"), 14, "CSeq: 2 INVITE");
    reinvite.replace(reinvite.find("branch=z9hG4bKin"), 16, "branch=z9hG4bKre");
    reinvite.replace(reinvite.find("To: <sip:4711@127.0.0.1>"), 24,
                     "To: <sip:4711@127.0.0.1>;tag=" + call->Dialog().LocalTag());
    Server.Send(reinvite, Port);
    ASSERT_FALSE(Server.NextOf("INVITE", "200").empty());
    EXPECT_EQ(call->GetRemoteRtpPort(), 40002);

    Engine->HangUp(call);
    const std::string bye = Server.NextOf("BYE");
    ASSERT_FALSE(bye.empty());
    EXPECT_NE(bye.find("Route: <sip:127.0.0.1:" + std::to_string(Server.Port()) + ";lr>"), std::string::npos)
        << bye;
}

TEST_F(EngineIncomingCall, AbandonedOfferIsRemovedByTick) {
    AddAccount();
    Server.Send(Invite("in-4", SdpBody(40000, "8")), Port);
    ASSERT_TRUE(Sink->WaitFor("Invite"));
    Engine->Tick();
    AdvanceSeconds(33);
    Engine->Tick();
    EXPECT_EQ(Engine->Calls().Count(), 0);
    EXPECT_EQ(Engine->Ports().InUseCount(), 0u);
}

TEST_F(EngineIncomingCall, CallerCancelsBeforeAnswer) {
    AddAccount();
    const std::string invite = Invite("in-5", SdpBody(40000, "0"));
    Server.Send(invite, Port);
    ASSERT_TRUE(Sink->WaitFor("Invite"));
    Sink->OfferedCall()->SetState(csRinging);  // offered to the user, as the host does
    std::string cancel = invite.substr(0, invite.find("Content-Type"));
    cancel.replace(0, 6, "CANCEL");
    cancel.replace(cancel.find("CSeq: 1 INVITE"), 14, "CSeq: 1 CANCEL");
    cancel += "Content-Length: 0\r\n\r\n";
    Server.Send(cancel, Port);
    EXPECT_FALSE(Server.NextOf("CANCEL", "200").empty());
    EXPECT_FALSE(Server.NextOf("INVITE", "487").empty());
    ASSERT_TRUE(Sink->WaitFor("Bye"));
    EXPECT_TRUE(WaitUntil([&] { return Engine->Calls().Count() == 0; }));
}

class EngineBadInput : public EngineTest {};

TEST_F(EngineBadInput, MalformedTrafficNeverStopsSignalling) {
    const ISipAccountPtr account = AddAccount();
    const std::vector<std::string> junk = {
        "",
        "SIP/2.0 200 OK\r\nCall-ID: nobody\r\nCSeq: 1 INVITE\r\n\r\n",
        "BYE sip:x SIP/2.0\r\nCall-ID: nobody\r\nCSeq: 2 BYE\r\n\r\n",
        "SIP/2.0 401 Unauthorized\r\nCall-ID: x\r\nCSeq: 1 REGISTER\r\nWWW-Authenticate: Digest\r\n\r\n",
        std::string("\x01\x01\x00\x00\x21\x12", 6),
        "SIP/2.0 200 OK\r\nVia: SIP/2.0/UDP\r\n\r\n",
        "INVITE sip:@ SIP/2.0\r\nCall-ID: q\r\nCSeq: x INVITE\r\n\r\n",
        "INVITE sip:4711@h SIP/2.0\r\nCall-ID: q2\r\nCSeq: 1 INVITE\r\nVia: x\r\n\r\nm=audio 4000 RTP/AVP 0",
        "INVITE sip:4711@h SIP/2.0\r\nCall-ID: q3\r\nCSeq: 1 INVITE\r\nVia: SIP/2.0/UDP 127.0.0.1:" +
            std::to_string(Server.Port()) + "\r\n\r\nm=audio 99999999999 RTP/AVP 0",
        "SUBSCRIBE sip:4711@h SIP/2.0\r\nCall-ID: s\r\nCSeq: 1 SUBSCRIBE\r\n\r\n",
        "ACK sip:4711@h SIP/2.0\r\nCall-ID: s\r\nCSeq: 1 ACK\r\n\r\n",
        std::string(4000, '\xff'),
    };
    for (const std::string& text : junk) Server.Send(text, Port);
    // Neither INVITE has a From or a To: q3, whose Via names the peer, is
    // refused 400 (after q2, which came first and names nobody to answer);
    // none of them rings, and everything else gets nothing.
    EXPECT_FALSE(Server.NextOf("INVITE", "400").empty());
    EXPECT_EQ(Sink->Count("Invite"), 0);
    Server.Clear();

    const ISipCallPtr call = ConnectedCall(account);
    EXPECT_EQ(call->GetState(), csConnected);
    Engine->HangUp(call);
    EXPECT_FALSE(Server.NextOf("BYE").empty());
}

// Answers that come out of order, twice, truncated or without the fields the
// engine keys on: the engine drops them, keeps no call or RTP port for them,
// and places the next call as usual.
TEST_F(EngineBadInput, OutOfOrderAndTruncatedAnswersLeakNothing) {
    const ISipAccountPtr account = AddAccount();
    const std::string server = std::to_string(Server.Port());

    // A BYE from the far end before any answer names no dialog yet; the 200
    // that follows connects the call.
    ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
    const std::string invite = Server.NextOf("INVITE");
    ASSERT_FALSE(invite.empty());
    Server.Send("BYE sip:4711@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + server +
                    ";branch=z9hG4bKbye1\r\nFrom: <sip:5550100@127.0.0.1>;tag=callee1\r\n"
                    "To: <sip:4711@127.0.0.1>;tag=" + call->Dialog().LocalTag() + "\r\nCall-ID: " +
                    call->GetCallId() + "\r\nCSeq: 9 BYE\r\nContent-Length: 0\r\n\r\n",
                Port);
    EXPECT_FALSE(Server.NextOf("BYE", "481").empty());
    const std::string late = Respond(invite, "200 OK", "callee1", "", SdpBody(FreeUdpPort(), "0"));
    Server.Send(late, Port);
    Server.Send(late, Port);
    ASSERT_TRUE(Sink->WaitFor("InviteOk"));
    EXPECT_EQ(call->GetState(), csConnected);
    Engine->EndCall(call);

    // A proxy challenge with no nonce, twice: one retry, then the call ends.
    call = Engine->MakeCall(account, "5550101", -1, -1);
    std::string offer = Server.NextOf("INVITE");
    const std::string noNonce = "Proxy-Authenticate: Digest realm=\"test\"\r\n";
    Server.Send(Respond(offer, "407 Proxy Authentication Required", "p1", noNonce), Port);
    offer = Server.NextOf("INVITE");
    ASSERT_FALSE(offer.empty());
    Server.Send(Respond(offer, "407 Proxy Authentication Required", "p1", noNonce), Port);
    WaitUntil([&] { return Engine->Calls().Count() == 0; });
    EXPECT_EQ(call->GetState(), csIdle);

    // A 180 for a live call without its CSeq line is not taken for ringing.
    call = Engine->MakeCall(account, "5550102", -1, -1);
    offer = Server.NextOf("INVITE");
    std::string ringing = Respond(offer, "180 Ringing", "r1");
    ringing.erase(ringing.find("CSeq:"), ringing.find("\r\n", ringing.find("CSeq:")) + 2 - ringing.find("CSeq:"));
    Server.Send(ringing, Port);
    EXPECT_TRUE(Server.Silent());
    EXPECT_EQ(call->GetState(), csCalling);
    Engine->EndCall(call);

    // A STUN answer for an account waiting for it, cut before the address.
    const ISipAccountPtr stunAccount =
        Engine->AddAccount("127.0.0.1", "127.0.0.1:" + server, "4712", "secret", "");
    Engine->Register(stunAccount);
    ASSERT_EQ(stunAccount->GetState(), asStunQuery);
    const std::string callId = stunAccount->GetCallId();
    std::string stun = std::string("\x01\x01\x00\x0c", 4) + callId.substr(callId.size() - 17, 16) +
                       std::string("\x00\x01\x00\x08", 4);
    Server.Send(stun, Port);
    const std::string reg = Server.NextOf("REGISTER");
    ASSERT_FALSE(reg.empty()) << "a short answer still ends the STUN step";
    EXPECT_NE(reg.find("Contact: <sip:4712@" + stunAccount->GetLocalIp() + ":"), std::string::npos) << reg;
    EXPECT_EQ(stunAccount->GetContactHost(), stunAccount->GetLocalIp());

    WaitUntil([&] { return Engine->Calls().Count() == 0; });
    ASSERT_EQ(Engine->Calls().Count(), 0) << "left: " << Engine->Calls().Get(0)->GetTarget() << " state "
                                          << int(Engine->Calls().Get(0)->GetState());
    EXPECT_EQ(Engine->Ports().InUseCount(), 0u);
    Server.Clear();
    const ISipCallPtr good = ConnectedCall(account);
    const int byes = Sink->Count("Bye");
    Engine->HangUp(good);
    const std::string bye = Server.NextOf("BYE");
    ASSERT_FALSE(bye.empty());
    Server.Send(Respond(bye, "200 OK"), Port);
    EXPECT_TRUE(Sink->WaitFor("Bye", byes + 1));
    // Bye is raised as the call ends, just before it leaves the list.
    WaitUntil([&] { return Engine->Calls().Count() == 0; });
    EXPECT_EQ(Engine->Calls().Count(), 0);
    EXPECT_EQ(Engine->Ports().InUseCount(), 0u);
}

}  // namespace
}  // namespace sip_test
