// What real peers send at the edges of a dialog: a second fork's answer, a
// CANCEL after a challenge, requests from another node of the peer,
// re-INVITEs that cross, transfers the far end asks for and calls nobody
// should be able to ring.
#include <functional>
#include <regex>

#include "engine_test_fixture.h"
#include "sip/dialog_match.h"
#include "sip/message.h"
#include "sip/text.h"

namespace sip_test {
namespace {

using namespace std::chrono_literals;

const std::string kProxyChallenge =
    "Proxy-Authenticate: Digest realm=\"test\", nonce=\"n7\", qop=\"auth\"\r\n";

std::string ContactAt(uint16_t port) {
    return "Contact: <sip:5550100@127.0.0.1:" + std::to_string(port) + ">\r\n";
}

// The next request (not a response) of `method` that reaches `peer`, or "".
std::string NextRequestOf(TFakePeer& peer, const std::string& method,
                          std::chrono::milliseconds timeout = 2000ms) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (auto left = timeout; left > 0ms;
         left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())) {
        const std::string text = peer.Next(left);
        if (text.empty()) return {};
        const TSipMessage message(text);
        if (!message.RequestUri.empty() && message.CSeqMethod == method) return text;
    }
    return {};
}

class DialogEdges : public EngineTest {
protected:
    // Returns once the engine has handled what `peer` sent before: one
    // thread receives, in order, and answers this OPTIONS last.
    void Handled(TFakePeer& peer) {
        const std::string id = std::to_string(++Barriers_);
        peer.Send("OPTIONS sip:4711@127.0.0.1:" + std::to_string(Port) +
                      " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + std::to_string(peer.Port()) +
                      ";branch=z9hG4bKbarrier" + id + "\r\nFrom: <sip:t@127.0.0.1>;tag=b" + id +
                      "\r\nTo: <sip:4711@127.0.0.1>\r\nCall-ID: barrier-" + id +
                      "\r\nCSeq: 1 OPTIONS\r\nContent-Length: 0\r\n\r\n",
                  Port);
        ASSERT_FALSE(peer.NextOf("OPTIONS", "200").empty());
    }
    int Barriers_ = 0;

    // A request of the callee inside the dialog of `call` (an outgoing call
    // answered by ConnectedCall), its Via naming `viaPort`.
    static std::string PeerRequest(const std::string& method, const ISipCallPtr& call, int cseq,
                                   uint16_t viaPort, const std::string& extra = "",
                                   const std::string& body = "", const std::string& type = "") {
        std::string text = method + " " + call->Dialog().LocalUri() + " SIP/2.0\r\n";
        text += "Via: SIP/2.0/UDP 127.0.0.1:" + std::to_string(viaPort) + ";branch=z9hG4bKpeer" +
                std::to_string(cseq) + "\r\n";
        text += "From: <" + call->Dialog().RemoteUri() + ">;tag=" + call->Dialog().RemoteTag() + "\r\n";
        text += "To: <" + call->Dialog().LocalUri() + ">;tag=" + call->Dialog().LocalTag() + "\r\n";
        text += "Call-ID: " + call->GetCallId() + "\r\n";
        text += "CSeq: " + std::to_string(cseq) + " " + method + "\r\n";
        text += ContactAt(viaPort) + extra;
        if (!type.empty()) text += "Content-Type: " + type + "\r\n";
        text += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        return text;
    }

    bool StillUp(const ISipCallPtr& call) {
        return Engine->Calls().FindByCallId(call->GetCallId()) == call &&
               call->GetState() == csConnected && Sink->Count("Bye") == 0;
    }
};

// A forked INVITE answered by two callees: the second one's dialog is
// acknowledged and ended at its own Contact, and whatever that fork does
// with the BYE, the call with the first callee stays up.
TEST_F(DialogEdges, SecondForkIsReleasedWithoutTouchingTheAnsweredCall) {
    const struct {
        const char* name;
        bool answersBye;
    } cases[] = {{"fork answers its BYE", true}, {"fork never answers its BYE", false}};
    const ISipAccountPtr account = AddAccount();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TFakePeer fork;
        std::string invite;
        const ISipCallPtr call = ConnectedCall(account, &invite);
        // The proxy passes on the second callee's 200.
        Server.Send(Respond(invite, "200 OK", "callee2", ContactAt(fork.Port()),
                            SdpBody(FreeUdpPort(), "0")),
                    Port);
        EXPECT_FALSE(fork.NextOf("ACK").empty());
        const std::string bye = fork.NextOf("BYE");
        ASSERT_FALSE(bye.empty());
        EXPECT_NE(bye.find("tag=callee2"), std::string::npos);
        if (c.answersBye) fork.Send(Respond(bye, "200 OK"), Port);
        Handled(fork);
        AdvanceTransactions(40s);
        EXPECT_TRUE(StillUp(call));
        EXPECT_TRUE(Server.NextOf("BYE", "", 200ms).empty());
        // An answered BYE is not sent again.
        if (c.answersBye) {
            EXPECT_TRUE(fork.NextOf("BYE", "", 200ms).empty());
        }
    }
}

// After a 407 the INVITE sent again is the one pending: a CANCEL names its
// branch and CSeq number, whether or not the first INVITE drew a 100.
TEST_F(DialogEdges, CancelAfterAChallengeNamesTheInviteSentAgain) {
    const ISipAccountPtr account = AddAccount();
    for (const bool trying : {true, false}) {
        SCOPED_TRACE(trying ? "100 before the challenge" : "challenge alone");
        const ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
        const std::string first = Server.NextOf("INVITE");
        if (trying) Server.Send(Respond(first, "100 Trying"), Port);
        Server.Send(Respond(first, "407 Proxy Authentication Required", "px", kProxyChallenge), Port);
        EXPECT_FALSE(Server.NextOf("ACK").empty());
        const std::string retry = Server.NextOf("INVITE");
        ASSERT_FALSE(retry.empty());
        Engine->HangUp(call);
        Server.Send(Respond(retry, "180 Ringing", "callee"), Port);
        const std::string cancel = Server.NextOf("CANCEL");
        ASSERT_FALSE(cancel.empty());
        const TSipMessage sent(retry), cancelled(cancel);
        EXPECT_EQ(sip_dialog::TopViaBranch(cancelled.ViaHeaders), sip_dialog::TopViaBranch(sent.ViaHeaders));
        EXPECT_EQ(cancelled.CSeqNumber, sent.CSeqNumber);
        EXPECT_EQ(cancelled.RequestUri, sent.RequestUri);
        Server.Send(Respond(cancel, "200 OK"), Port);
        Server.Send(Respond(retry, "487 Request Terminated", "callee"), Port);
        EXPECT_FALSE(Server.NextOf("ACK").empty());
        EXPECT_TRUE(WaitUntil([&] { return Engine->Calls().Count() == 0; }));
    }
}

// The BYE goes to the dialog's remote target: the Contact as the answer gave
// it (a GRUU with its parameters), kept when the answer to a re-INVITE
// carries none, and the far end's URI when no Contact ever came (never an
// empty Request-URI).
TEST_F(DialogEdges, ByeGoesToTheRemoteTargetTheAnswersLeft) {
    const ISipAccountPtr account = AddAccount();
    const std::string port = std::to_string(Server.Port());
    const std::string gruu = "sip:5550100@127.0.0.1:" + port +
                             ";transport=udp;gr=urn:uuid:5b7c3a2e-0d1f-4e2a-9c44-2e8f3b6d1a10;ob";
    struct TCase {
        const char* name;
        std::string contact;  // in the 2xx to the INVITE
        bool hold;            // a re-INVITE answered without Contact first
        std::string byeUri;
    };
    const TCase cases[] = {
        {"GRUU kept through a re-INVITE", gruu, true, gruu},
        {"no Contact at all", "", false, "sip:5550100@127.0.0.1:" + port},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
        const std::string invite = Server.NextOf("INVITE");
        const std::string contactLine = c.contact.empty() ? "" : "Contact: <" + c.contact + ">;expires=60\r\n";
        Server.Send(Respond(invite, "200 OK", "callee", contactLine, SdpBody(FreeUdpPort(), "0")), Port);
        EXPECT_EQ(TSipMessage(Server.NextOf("ACK")).RequestUri, c.byeUri);
        ASSERT_TRUE(WaitUntil([&] { return call->GetState() == csConnected; }));
        if (c.hold) {
            Engine->Hold(call);
            const std::string reInvite = Server.NextOf("INVITE");
            ASSERT_FALSE(reInvite.empty());
            EXPECT_EQ(TSipMessage(reInvite).RequestUri, c.byeUri);
            Server.Send(Respond(reInvite, "200 OK", "", "", SdpBody(FreeUdpPort(), "0")), Port);
            // The ACK goes out once the answer has been taken.
            EXPECT_FALSE(Server.NextOf("ACK").empty());
        }
        Engine->HangUp(call);
        const TSipMessage bye(Server.NextOf("BYE"));
        EXPECT_EQ(bye.RequestUri, c.byeUri);
        EXPECT_EQ(bye.ToTag, "callee") << bye.RawText;
        Server.Send(Respond(bye.RawText, "200 OK"), Port);
        ASSERT_TRUE(WaitUntil([&] { return Engine->Calls().Count() == 0; }));
    }
}

// A peer with several nodes: a request naming the dialog by Call-ID and
// both tags is served from an address the call never saw, and answered
// there; the BYE ends the call.
TEST_F(DialogEdges, InDialogRequestsFromAnotherNodeOfThePeerAreServed) {
    const ISipCallPtr call = ConnectedCall(AddAccount());
    TFakePeer node;
    const struct {
        const char* method;
        const char* body;
        const char* type;
        const char* event;
    } requests[] = {
        {"INFO", "Signal=5\r\nDuration=160\r\n", "application/dtmf-relay", "Dtmf 5"},
        {"BYE", "", "", "Bye"},
    };
    int cseq = 10;
    for (const auto& r : requests) {
        SCOPED_TRACE(r.method);
        node.Send(PeerRequest(r.method, call, ++cseq, node.Port(), "", r.body, r.type), Port);
        EXPECT_FALSE(node.NextOf(r.method, "200").empty());
        EXPECT_TRUE(Sink->WaitFor(r.event));
    }
    EXPECT_TRUE(WaitUntil([&] { return Engine->Calls().Count() == 0; }));
    EXPECT_TRUE(Server.NextOf("BYE", "", 200ms).empty());
}

// The far end asks for a transfer: nothing goes out until the host has
// decided; only its consent draws 202 and a call to the target, a refusal or
// no word within ten seconds draws 603 Decline.
TEST_F(DialogEdges, TransferAskedByTheFarEndWaitsForTheHost) {
    enum class TDecision { kAccept, kRefuse, kNone };
    const struct {
        const char* name;
        TDecision decision;
        const char* answer;
    } cases[] = {
        {"host accepts", TDecision::kAccept, "202"},
        {"host refuses", TDecision::kRefuse, "603"},
        {"host never answers", TDecision::kNone, "603"},
    };
    const ISipAccountPtr account = AddAccount();
    int cseq = 10;
    int asked = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ISipCallPtr call = ConnectedCall(account);
        const std::string target = "5550199@127.0.0.1:" + std::to_string(Server.Port());
        Server.Clear();
        Server.Send(PeerRequest("REFER", call, ++cseq, Server.Port(), "Refer-To: <sip:" + target + ">\r\n"),
                    Port);
        ++asked;
        ASSERT_TRUE(WaitUntil([&] { return Sink->Count("TransferRequest " + target) == asked; }));
        EXPECT_TRUE(Server.NextOf("REFER", "", 300ms).empty());
        switch (c.decision) {
        case TDecision::kAccept:
            Engine->AcceptTransfer(call);
            break;
        case TDecision::kRefuse:
            Engine->RefuseTransfer(call);
            break;
        case TDecision::kNone:
            AdvanceSeconds(TSipEngine::kTransferDecisionSeconds - 1);
            Engine->Tick();
            EXPECT_TRUE(Server.NextOf("REFER", "", 200ms).empty());
            AdvanceSeconds(2);
            Engine->Tick();
            break;
        }
        EXPECT_FALSE(Server.NextOf("REFER", c.answer).empty());
        const std::string placed = Server.NextOf("INVITE", "", c.decision == TDecision::kAccept ? 2000ms : 300ms);
        EXPECT_EQ(placed.empty(), c.decision != TDecision::kAccept);
        if (!placed.empty()) {
            EXPECT_EQ(TSipMessage(placed).RequestUri, "sip:" + target);
        }
        // A second word of the host answers nothing more.
        Engine->RefuseTransfer(call);
        EXPECT_TRUE(Server.NextOf("REFER", "", 200ms).empty());
        EXPECT_EQ(call->GetState(), csConnected);
    }
}

// Our transfer that fails, refused at once or reported by the far end's
// NOTIFY: the host hears the outcome with the call already its own again,
// so whatever it does next (a `calls` list, a hang-up) finds it connected.
TEST_F(DialogEdges, FailedTransferIsReportedWithTheCallBackInHand) {
    const struct {
        const char* name;
        const char* referAnswer;  // the far end's answer to our REFER
        const char* sipfrag;      // then its NOTIFY's body, when it accepted
        int status;
    } cases[] = {
        {"REFER refused", "603 Decline", nullptr, 603},
        {"target busy", "202 Accepted", "SIP/2.0 486 Busy Here\r\n", 486},
        {"target gone", "202 Accepted", "SIP/2.0 404 Not Found\r\n", 404},
    };
    const ISipAccountPtr account = AddAccount();
    const ISipCallPtr call = ConnectedCall(account);
    int cseq = 10;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Engine->Transfer(call, "300");
        const std::string refer = NextRequestOf(Server, "REFER");
        ASSERT_FALSE(refer.empty());
        Server.Send(Respond(refer, c.referAnswer), Port);
        if (c.sipfrag)
            Server.Send(PeerRequest("NOTIFY", call, ++cseq, Server.Port(), "Event: refer\r\n", c.sipfrag,
                                    "message/sipfrag;version=2.0"),
                        Port);
        EXPECT_TRUE(Sink->WaitFor("TransferStatus " + std::to_string(c.status) + " connected"))
            << ::testing::PrintToString(Sink->Events());
        EXPECT_EQ(call->GetState(), csConnected);
    }
    EXPECT_EQ(Sink->Count("Bye"), 0);
}

// Transferred away, the old dialog is the transferor's to end (it sends BYE
// after the final NOTIFY); only if no BYE comes within 32 s does the agent
// send one itself.
TEST_F(DialogEdges, TransferredCallWaitsForTheTransferorsBye) {
    const ISipAccountPtr account = AddAccount();
    int cseq = 10;
    int asked = 0;
    const std::string target = "5550199@127.0.0.1:" + std::to_string(Server.Port());
    for (const bool transferorEnds : {true, false}) {
        SCOPED_TRACE(transferorEnds ? "transferor sends BYE" : "transferor never does");
        const ISipCallPtr call = ConnectedCall(account);
        Server.Clear();
        Server.Send(PeerRequest("REFER", call, ++cseq, Server.Port(),
                                "Refer-To: <sip:" + target + ">\r\n"),
                    Port);
        ++asked;
        ASSERT_TRUE(WaitUntil([&] { return Sink->Count("TransferRequest " + target) == asked; }));
        Engine->AcceptTransfer(call);
        EXPECT_FALSE(Server.NextOf("REFER", "202").empty());
        const std::string placed = Server.NextOf("INVITE");
        ASSERT_FALSE(placed.empty());
        Server.Send(Respond(placed, "200 OK", "target1", ContactAt(Server.Port()), SdpBody(FreeUdpPort(), "0")),
                    Port);
        // The final NOTIFY reports the answer; the old call is still up.
        for (std::string notify = NextRequestOf(Server, "NOTIFY");; notify = NextRequestOf(Server, "NOTIFY")) {
            ASSERT_FALSE(notify.empty());
            Server.Send(Respond(notify, "200 OK"), Port);
            if (notify.find("SIP/2.0 200 OK\r\n", notify.find("\r\n\r\n")) != std::string::npos) break;
        }
        Engine->Tick();
        EXPECT_TRUE(Server.NextOf("BYE", "", 300ms).empty());
        EXPECT_EQ(call->GetState(), csConnected);
        if (transferorEnds) {
            Server.Send(PeerRequest("BYE", call, ++cseq, Server.Port()), Port);
            EXPECT_FALSE(Server.NextOf("BYE", "200").empty());
        } else {
            AdvanceSeconds(TSipEngine::kTransferorByeSeconds + 1);
            Engine->Tick();
            const std::string bye = Server.NextOf("BYE");
            ASSERT_FALSE(bye.empty());
            EXPECT_EQ(TSipMessage(bye).CallId, call->GetCallId());
        }
        EXPECT_TRUE(WaitUntil([&] { return Engine->Calls().FindByCallId(call->GetCallId()) == nullptr; }));
    }
}

// A re-INVITE is always answered: 491 while one of ours is pending (RFC 3261
// 14.2), 500 with a Retry-After of at most 10 s when the call is busy
// otherwise (a transfer of ours under way); the call's media stays put.
TEST_F(DialogEdges, ReInviteTheCallCannotTakeIsRefusedNotDropped) {
    const struct {
        const char* name;
        std::function<void(TSipEngine&, const ISipCallPtr&)> busy;
        const char* pendingMethod;
        const char* status;
    } cases[] = {
        {"our hold pending", [](TSipEngine& e, const ISipCallPtr& c) { e.Hold(c); }, "INVITE", "491"},
        {"our transfer pending", [](TSipEngine& e, const ISipCallPtr& c) { e.Transfer(c, "5550199"); },
         "REFER", "500"},
    };
    const ISipAccountPtr account = AddAccount();
    int cseq = 10;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ISipCallPtr call = ConnectedCall(account);
        c.busy(*Engine, call);
        ASSERT_FALSE(NextRequestOf(Server, c.pendingMethod).empty());
        const int rtpPort = call->GetRemoteRtpPort();
        Server.Send(PeerRequest("INVITE", call, ++cseq, Server.Port(), "", SdpBody(40000, "8"),
                                "application/sdp"),
                    Port);
        const std::string answer = Server.NextOf("INVITE", c.status);
        ASSERT_FALSE(answer.empty());
        if (std::string(c.status) == "500") {
            std::smatch wait;
            ASSERT_TRUE(std::regex_search(answer, wait, std::regex("\r\nRetry-After: ([0-9]+)\r\n")));
            EXPECT_LE(std::stoi(wait[1].str()), 10);
        }
        EXPECT_EQ(call->GetRemoteRtpPort(), rtpPort);
        EXPECT_NE(Engine->Calls().FindByCallId(call->GetCallId()), nullptr);
    }
}

// Our re-INVITE answered 491 goes again, as it was (still a hold), once
// 2.1 to 4 s have passed: the caller owns the Call-ID (RFC 3261 14.1).
TEST_F(DialogEdges, ReInviteRefused491IsSentAgainAfterTheOwnersWait) {
    const ISipCallPtr call = ConnectedCall(AddAccount());
    Engine->Hold(call);
    const std::string first = NextRequestOf(Server, "INVITE");
    ASSERT_FALSE(first.empty());
    Server.Send(Respond(first, "491 Request Pending"), Port);
    EXPECT_FALSE(Server.NextOf("ACK").empty());
    AdvanceTransactions(2000ms);
    EXPECT_TRUE(NextRequestOf(Server, "INVITE", 100ms).empty());
    AdvanceTransactions(2100ms);
    const std::string again = NextRequestOf(Server, "INVITE");
    ASSERT_FALSE(again.empty());
    EXPECT_NE(again.find("a=sendonly"), std::string::npos);
    EXPECT_NE(sip_dialog::TopViaBranch(TSipMessage(again).ViaHeaders),
              sip_dialog::TopViaBranch(TSipMessage(first).ViaHeaders));
    EXPECT_EQ(call->GetState(), csHolding);
}

// A re-INVITE answered 408 or 481, or never, means the far end has lost the
// dialog (RFC 3261 14.1): the call ends with BYE and the host is told.
TEST_F(DialogEdges, ReInviteThatFindsNoDialogEndsTheCall) {
    const ISipAccountPtr account = AddAccount();
    int ended = 0;
    for (const char* status : {"408 Request Timeout", "481 Call/Transaction Does Not Exist", ""}) {
        SCOPED_TRACE(*status ? status : "no answer");
        const ISipCallPtr call = ConnectedCall(account);
        Engine->Hold(call);
        const std::string reinvite = NextRequestOf(Server, "INVITE");
        ASSERT_FALSE(reinvite.empty());
        if (*status)
            Server.Send(Respond(reinvite, status), Port);
        else
            AdvanceTransactions(33s);
        const std::string bye = NextRequestOf(Server, "BYE");
        ASSERT_FALSE(bye.empty());
        EXPECT_EQ(TSipMessage(bye).CallId, call->GetCallId());
        Server.Send(Respond(bye, "200 OK"), Port);
        EXPECT_TRUE(Sink->WaitFor("Bye", ++ended));
        EXPECT_TRUE(WaitUntil([&] { return Engine->Calls().FindByCallId(call->GetCallId()) == nullptr; }));
    }
}

// The route set is the dialog's from its start: a Record-Route in a
// re-INVITE does not send our later requests elsewhere.
TEST_F(DialogEdges, RecordRouteInsideTheDialogLeavesTheRouteSet) {
    const ISipCallPtr call = ConnectedCall(AddAccount());
    Server.Send(PeerRequest("INVITE", call, 20, Server.Port(), "Record-Route: <sip:10.9.9.9;lr>\r\n",
                            SdpBody(40000, "0"), "application/sdp"),
                Port);
    EXPECT_FALSE(Server.NextOf("INVITE", "200").empty());
    Engine->HangUp(call);
    const std::string bye = NextRequestOf(Server, "BYE");
    ASSERT_FALSE(bye.empty());
    EXPECT_EQ(bye.find("10.9.9.9"), std::string::npos);
}

// Who may ring the agent: its server with any user (a DID), anyone else only
// at the account's user, and with calls from the server only, nobody else.
// A refused INVITE lists no call, so it holds no ringing slot.
TEST_F(DialogEdges, OnlyTheServerOrCallsToTheAccountRing) {
    AddAccount("4711");
    TFakePeer scanner;
    const struct {
        const char* name;
        bool fromServer;
        const char* user;
        bool serverOnly;
        const char* status;
    } cases[] = {
        {"server, dialled DID", true, "0800555123", false, "180"},
        {"elsewhere, account's user", false, "4711", false, "180"},
        {"elsewhere, another extension", false, "201", false, "404"},
        {"elsewhere, account's user, server only", false, "4711", true, "403"},
        {"server, DID, server only", true, "0800555123", true, "180"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Engine->SetCallsFromServerOnly(c.serverOnly);
        TFakePeer& from = c.fromServer ? Server : scanner;
        const int listed = Engine->Calls().Count();
        const std::string id = std::to_string(++n);
        std::string invite = "INVITE sip:" + std::string(c.user) + "@127.0.0.1:" + std::to_string(Port) +
                             " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + std::to_string(from.Port()) +
                             ";branch=z9hG4bKscan" + id + "\r\nFrom: <sip:x@127.0.0.1>;tag=s" + id +
                             "\r\nTo: <sip:" + c.user + "@127.0.0.1>\r\nCall-ID: scan-" + id +
                             "\r\nCSeq: 1 INVITE\r\nContact: <sip:x@127.0.0.1:" + std::to_string(from.Port()) +
                             ">\r\n";
        const std::string sdp = SdpBody(40000, "0");
        invite += "Content-Type: application/sdp\r\nContent-Length: " + std::to_string(sdp.size()) +
                  "\r\n\r\n" + sdp;
        from.Send(invite, Port);
        EXPECT_FALSE(from.NextOf("INVITE", c.status).empty());
        EXPECT_EQ(Engine->Calls().Count(), listed + (std::string(c.status) == "180" ? 1 : 0));
    }
}

}  // namespace
}  // namespace sip_test
