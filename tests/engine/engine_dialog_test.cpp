// The forged-peer battery: requests and responses that carry a wrong tag, an
// unknown Call-ID, an old CSeq or a strange branch, or that come from another
// port than the call's peer, leave the call as it was and get 481 (500 for an
// old CSeq) or nothing; the same messages with everything right still work.
#include <functional>
#include <regex>

#include "engine_test_fixture.h"
#include "sip/dialog_match.h"

namespace sip_test {
namespace {

using namespace std::chrono_literals;

// The identifiers a peer uses for requests inside the dialog.
struct TDialog {
    std::string callId;
    std::string peerTag;  // the peer's own tag: From of its requests
    std::string ourTag;   // the engine's tag: To of the peer's requests
};

// What a forgery changes about a message that would otherwise be right.
struct TForgery {
    const char* name;
    std::function<void(TDialog&, int& cseq)> change;
    bool fromOtherPort;
};

const std::vector<TForgery>& RequestForgeries() {
    static const std::vector<TForgery> forgeries = {
        {"wrong From tag", [](TDialog& d, int&) { d.peerTag = "forged1"; }, false},
        {"wrong To tag", [](TDialog& d, int&) { d.ourTag = "forged2"; }, false},
        {"no To tag", [](TDialog& d, int&) { d.ourTag.clear(); }, false},
        {"unknown Call-ID", [](TDialog& d, int&) { d.callId = "forged-call"; }, false},
        {"old CSeq", [](TDialog&, int& cseq) { cseq = 1; }, false},
        // The tags are what proves a request the dialog's over UDP: from
        // another address, only the wrong ones go unanswered.
        {"from another port", [](TDialog& d, int&) { d.peerTag = "forged3"; }, true},
    };
    return forgeries;
}

// The engine's answer to a forged request: 481 when the dialog is not the
// call's (RFC 3261 12.2.2) or no call has its Call-ID, 500 for a CSeq below
// the peer's last, nothing for another sender (nullptr: not looked at, a
// NOTIFY outside any call is the subscription layer's business).
const char* ExpectedReply(const std::string& method, const std::string& forgery) {
    if (forgery == "from another port") return "";
    // A dialog the agent does not have is answered 481 whatever the method
    // (RFC 3261 12.2.2); nothing about the call is given away by that.
    if (forgery == "unknown Call-ID") return method == "NOTIFY" ? nullptr : "481";
    if (method == "CANCEL") return "481";
    if (forgery == "no To tag" && method == "INVITE") return "";  // a copy of the first INVITE
    if (forgery == "old CSeq") return "500";
    return "481";
}

// The status of the next response to `method` that reaches `peer`, or "".
std::string NextStatus(TFakePeer& peer, const std::string& method) {
    for (std::string text = peer.Next(); !text.empty(); text = peer.Next()) {
        const TSipMessage message(text);
        if (message.CSeqMethod == method && !message.StatusCode.empty()) return message.StatusCode;
    }
    return {};
}

class ForgedPeer : public EngineTest {
protected:
    TFakePeer Forger;  // another port on the same host
    int PeerCSeq = 100;

    std::string Request(const std::string& method, const TDialog& d, int cseq,
                        const std::string& branch, uint16_t viaPort, const std::string& extra = "",
                        const std::string& body = "", const std::string& type = "") {
        std::string text = method + " sip:4711@127.0.0.1:" + std::to_string(Port) + " SIP/2.0\r\n";
        text += "Via: SIP/2.0/UDP 127.0.0.1:" + std::to_string(viaPort) + ";branch=" + branch + "\r\n";
        text += "From: <sip:5550100@127.0.0.1>;tag=" + d.peerTag + "\r\n";
        text += "To: <sip:4711@127.0.0.1>" + (d.ourTag.empty() ? "" : ";tag=" + d.ourTag) + "\r\n";
        text += "Call-ID: " + d.callId + "\r\n";
        text += "CSeq: " + std::to_string(cseq) + " " + method + "\r\n";
        text += "Contact: <sip:5550100@127.0.0.1:" + std::to_string(viaPort) + ">\r\n" + extra;
        if (!type.empty()) text += "Content-Type: " + type + "\r\n";
        text += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        return text;
    }

    // Sends `method` with `forgery` applied; checks the reply (at the port
    // the Via names) and returns when the engine has handled it.
    void SendForged(const std::string& method, const TDialog& right, const TForgery& forgery,
                    const char* reply, const std::string& body = "", const std::string& type = "") {
        TDialog d = right;
        int cseq = ++PeerCSeq;
        const std::string branch = "z9hG4bKforged" + std::to_string(cseq);
        forgery.change(d, cseq);
        TFakePeer& from = forgery.fromOtherPort ? Forger : Server;
        from.Send(Request(method, d, cseq, branch, from.Port(), "", body, type), Port);
        if (!reply) {
            from.Next(200ms);
        } else if (*reply) {
            EXPECT_EQ(NextStatus(from, method), reply);
        } else {
            EXPECT_TRUE(from.Silent(200ms));
        }
    }

    TDialog DialogOf(const ISipCallPtr& call) {
        return {call->GetCallId(), call->Dialog().RemoteTag(), call->Dialog().LocalTag()};
    }

    // What a forgery must not change.
    struct TSnapshot {
        TCallState state;
        std::string rtpHost, contact, remoteTag;
        int rtpPort;
        int payloadType;
        std::size_t events;
    };
    TSnapshot Snap(const ISipCallPtr& call) {
        return {call->GetState(), call->GetRemoteRtpHost(), call->Dialog().RemoteContact(),
                call->Dialog().RemoteTag(), call->GetRemoteRtpPort(),
                call->GetCodec() ? call->GetCodec()->GetPayloadType() : -1, Sink->Events().size()};
    }
    void ExpectUnchanged(const ISipCallPtr& call, const TSnapshot& before) {
        const TSnapshot now = Snap(call);
        EXPECT_EQ(now.state, before.state);
        EXPECT_EQ(now.rtpHost, before.rtpHost);
        EXPECT_EQ(now.rtpPort, before.rtpPort);
        EXPECT_EQ(now.contact, before.contact);
        EXPECT_EQ(now.remoteTag, before.remoteTag);
        EXPECT_EQ(now.payloadType, before.payloadType);
        EXPECT_EQ(now.events, before.events) << "events: " << ::testing::PrintToString(Sink->Events());
        EXPECT_EQ(Engine->Calls().Count(), 1);
    }

    ISipCallPtr RegisteredConnectedCall() {
        const ISipAccountPtr account = AddAccount();
        RegisterWithChallenge(account);
        return ConnectedCall(account);
    }

    // A call from the peer, offered and ringing here.
    ISipCallPtr RingingIncomingCall(std::string& invite) {
        AddAccount();
        invite = Request("INVITE", {"in-call-1", "caller7", ""}, 20, "z9hG4bKinvite20", Server.Port(),
                         "", SdpBody(FreeUdpPort(), "0 8"), "application/sdp");
        Server.Send(invite, Port);
        EXPECT_FALSE(Server.NextOf("INVITE", "180").empty());
        EXPECT_TRUE(Sink->WaitFor("Invite"));
        return Sink->OfferedCall();
    }
};

TEST_F(ForgedPeer, InDialogRequestsOfAnOutgoingCall) {
    const ISipCallPtr call = RegisteredConnectedCall();
    const TDialog right = DialogOf(call);
    // The answer's codecs that were offered: the only ones received audio
    // may switch to (101 is telephone-event, never a codec).
    EXPECT_EQ(call->GetNegotiatedPayloadTypes(), std::vector<int>{0});
    // Everything right: the digit arrives (and the peer's CSeq is known).
    Server.Send(Request("INFO", right, ++PeerCSeq, "z9hG4bKinfo", Server.Port(), "",
                        "Signal=5\r\nDuration=160\r\n", "application/dtmf-relay"),
                Port);
    EXPECT_EQ(NextStatus(Server, "INFO"), "200");
    EXPECT_TRUE(Sink->WaitFor("Dtmf 5"));

    const std::string movedSdp = SdpBody(9, "8");
    const struct {
        const char* method;
        std::string body, type;
    } methods[] = {
        {"BYE", "", ""},
        {"INFO", "Signal=5\r\nDuration=160\r\n", "application/dtmf-relay"},
        {"INVITE", movedSdp, "application/sdp"},
        {"NOTIFY", "SIP/2.0 200 OK\r\n", "message/sipfrag"},
        {"CANCEL", "", ""},
    };
    for (const auto& m : methods) {
        for (const TForgery& forgery : RequestForgeries()) {
            SCOPED_TRACE(std::string(m.method) + ", " + forgery.name);
            const TSnapshot before = Snap(call);
            SendForged(m.method, right, forgery, ExpectedReply(m.method, forgery.name), m.body, m.type);
            ExpectUnchanged(call, before);
        }
    }
    // CANCEL has nothing to cancel in a connected call, however right it is.
    const TSnapshot before = Snap(call);
    SendForged("CANCEL", right, {"right", [](TDialog&, int&) {}, false}, "481");
    ExpectUnchanged(call, before);

    // Everything right: the re-INVITE moves the media, and the BYE from the
    // peer's address ends the call.
    Server.Send(Request("INVITE", right, ++PeerCSeq, "z9hG4bKreinv", Server.Port(), "",
                        SdpBody(40000, "0"), "application/sdp"),
                Port);
    EXPECT_EQ(NextStatus(Server, "INVITE"), "200");
    EXPECT_EQ(call->GetRemoteRtpPort(), 40000);
    // The host reads the status of the answer the call had; the peer's
    // re-INVITE, a request, has none to put in its place.
    EXPECT_EQ(call->GetStatusCode(), 200);
    Server.Send(Request("BYE", right, ++PeerCSeq, "z9hG4bKbye", Server.Port()), Port);
    EXPECT_EQ(NextStatus(Server, "BYE"), "200");
    EXPECT_TRUE(Sink->WaitFor("Bye"));
    EXPECT_TRUE(WaitUntil([&] { return Engine->Calls().Count() == 0; }));
}

TEST_F(ForgedPeer, ByeOfAnIncomingCallAndCancelOfARingingOne) {
    std::string invite;
    ISipCallPtr call = RingingIncomingCall(invite);
    ASSERT_TRUE(call);
    const TSipMessage offer(invite);
    // CANCEL names the INVITE: its Call-ID, From tag, CSeq number and branch.
    const struct {
        const char* name;
        std::string callId, fromTag, branch;
        int cseq;
        bool otherPort;
        const char* reply;
    } cancels[] = {
        {"wrong From tag", offer.CallId, "forged1", "z9hG4bKinvite20", 20, false, "481"},
        {"unknown Call-ID", "forged-call", "caller7", "z9hG4bKinvite20", 20, false, "481"},
        {"wrong CSeq", offer.CallId, "caller7", "z9hG4bKinvite20", 19, false, "481"},
        {"wrong branch", offer.CallId, "caller7", "z9hG4bKother", 20, false, "481"},
        {"from another port", offer.CallId, "caller7", "z9hG4bKinvite20", 20, true, ""},
    };
    for (const auto& c : cancels) {
        SCOPED_TRACE(c.name);
        TFakePeer& from = c.otherPort ? Forger : Server;
        from.Send(Request("CANCEL", {c.callId, c.fromTag, ""}, c.cseq, c.branch, from.Port()), Port);
        if (*c.reply) {
            EXPECT_EQ(NextStatus(from, "CANCEL"), c.reply);
        } else {
            EXPECT_TRUE(from.Silent(200ms));
        }
        // An incoming call stays idle until it is answered; it is still listed.
        EXPECT_EQ(call->GetState(), csIdle);
        EXPECT_EQ(Engine->Calls().Count(), 1);
        EXPECT_EQ(Sink->Count("Bye"), 0);
    }
    Server.Send(Request("CANCEL", {offer.CallId, "caller7", ""}, 20, "z9hG4bKinvite20", Server.Port()),
                Port);
    EXPECT_EQ(NextStatus(Server, "CANCEL"), "200");
    EXPECT_EQ(NextStatus(Server, "INVITE"), "487");
    EXPECT_TRUE(WaitUntil([&] { return Engine->Calls().Count() == 0; }));
    Sink->ForgetCalls();

    // A second call, answered: BYE from anybody but the caller changes nothing.
    Server.Clear();
    Server.Send(Request("INVITE", {"in-call-2", "caller8", ""}, 30, "z9hG4bKinvite30", Server.Port(),
                        "", SdpBody(FreeUdpPort(), "0 8"), "application/sdp"),
                Port);
    ASSERT_TRUE(Sink->WaitFor("Invite", 2));
    call = Sink->OfferedCall();
    Engine->Answer(call);
    EXPECT_FALSE(Server.NextOf("INVITE", "200").empty());
    const TDialog right = DialogOf(call);
    PeerCSeq = 30;
    for (const TForgery& forgery : RequestForgeries()) {
        SCOPED_TRACE(std::string("BYE, ") + forgery.name);
        const TSnapshot before = Snap(call);
        SendForged("BYE", right, forgery, ExpectedReply("BYE", forgery.name));
        ExpectUnchanged(call, before);
    }
    Server.Send(Request("BYE", right, ++PeerCSeq, "z9hG4bKbye", Server.Port()), Port);
    EXPECT_EQ(NextStatus(Server, "BYE"), "200");
    EXPECT_TRUE(Sink->WaitFor("Bye"));
}

TEST_F(ForgedPeer, ResponsesOnlyFromTheTransactionTheyAnswer) {
    const ISipCallPtr call = RegisteredConnectedCall();
    const TDialog d = DialogOf(call);
    // Responses to requests the engine never sent: 200 to a BYE, to a CANCEL
    // and to a re-INVITE moving the media.
    for (const char* method : {"BYE", "CANCEL", "INVITE"}) {
        SCOPED_TRACE(method);
        const TSnapshot before = Snap(call);
        std::string text = "SIP/2.0 200 OK\r\nVia: SIP/2.0/UDP 127.0.0.1:" + std::to_string(Port) +
                           ";branch=z9hG4bKmadeup\r\nFrom: <sip:4711@127.0.0.1>;tag=" + d.ourTag +
                           "\r\nTo: <sip:5550100@127.0.0.1>;tag=" + d.peerTag + "\r\nCall-ID: " +
                           d.callId + "\r\nCSeq: " + std::to_string(call->Dialog().LocalCSeq() + 1) + " " +
                           method + "\r\nContact: <sip:evil@127.0.0.1:9>\r\n";
        const std::string body = SdpBody(9, "8");
        text += "Content-Type: application/sdp\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\n\r\n" + body;
        Server.Send(text, Port);
        EXPECT_TRUE(Server.Silent(200ms));
        ExpectUnchanged(call, before);
    }

    // A re-INVITE of our own (hold) is pending: forged answers to it do not
    // move the media or the remote target, and draw no ACK.
    Engine->Hold(call);
    const std::string reinvite = Server.NextOf("INVITE");
    ASSERT_FALSE(reinvite.empty());
    const TSipMessage sent(reinvite);
    const std::string answer = SdpBody(9, "8");
    const std::string contact = "Contact: <sip:evil@127.0.0.1:9>\r\n";
    // Each forgery replaces one pattern of the right answer.
    const struct {
        const char* name;
        std::string pattern, replacement;
        bool otherPort;
    } forgeries[] = {
        {"wrong To tag", "tag=callee1", "tag=forged", false},
        {"wrong From tag", "tag=" + d.ourTag, "tag=forged", false},
        {"unknown Call-ID", d.callId, "forged-call", false},
        {"wrong CSeq", "CSeq: " + sent.CSeqNumber, "CSeq: 1", false},
        {"wrong branch", "branch=z9hG4bK[0-9A-Fa-f]+", "branch=z9hG4bKforged", false},
        {"from another port", "", "", true},
    };
    for (const auto& f : forgeries) {
        SCOPED_TRACE(f.name);
        const TSnapshot before = Snap(call);
        TFakePeer& from = f.otherPort ? Forger : Server;
        std::string forged = Respond(reinvite, "200 OK", "", contact, answer);
        if (!f.pattern.empty()) forged = std::regex_replace(forged, std::regex(f.pattern), f.replacement);
        from.Send(forged, Port);
        EXPECT_TRUE(Server.NextOf("ACK", "", 200ms).empty());
        ExpectUnchanged(call, before);
    }
    const int rightPort = FreeUdpPort();
    Server.Send(Respond(reinvite, "200 OK", "", "Contact: <sip:5550100@127.0.0.1:" +
                        std::to_string(Server.Port()) + ">\r\n", SdpBody(rightPort, "0")),
                Port);
    EXPECT_FALSE(Server.NextOf("ACK").empty());
    EXPECT_TRUE(WaitUntil([&] { return call->GetRemoteRtpPort() == rightPort; }));
    EXPECT_EQ(call->GetState(), csHolding);
}

TEST(DialogMatch, TopViaBranch) {
    EXPECT_EQ(sip_dialog::TopViaBranch("Via: SIP/2.0/UDP h:5060;branch=z9hG4bKa1;rport\r\n"
                                       "Via: SIP/2.0/UDP p;branch=z9hG4bKb2\r\n"),
              "z9hG4bKa1");
    EXPECT_EQ(sip_dialog::TopViaBranch("Via: SIP/2.0/UDP h;rport=5;branch=z9hG4bKc"), "z9hG4bKc");
    EXPECT_EQ(sip_dialog::TopViaBranch("Via: SIP/2.0/UDP h\r\nVia: x;branch=z9hG4bKd\r\n"), "");
}

}  // namespace
}  // namespace sip_test
