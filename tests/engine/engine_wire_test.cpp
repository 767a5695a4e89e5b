// What real peers send at the edges of the grammar, over loopback: long
// CSeq numbers, From and To without brackets, Contact URIs with parameters,
// datagrams past 4 KB, and requests too broken to handle.
#include <regex>

#include "engine_test_fixture.h"
#include "sip/auth.h"

namespace sip_test {
namespace {

class EngineWire : public EngineTest {
protected:
    // An INVITE from the fake peer with `from`, `to` and `cseq` as given,
    // and an SDP offer padded with `padding` bytes of attributes.
    std::string Invite(const std::string& callId, const std::string& from = "<sip:caller@127.0.0.1>;tag=ct",
                       const std::string& to = "<sip:4711@127.0.0.1>", const std::string& cseq = "1",
                       std::size_t padding = 0) {
        std::string sdp = SdpBody(40000, "0");
        while (padding > 0) {
            const std::size_t chunk = std::min<std::size_t>(padding, 60);
            sdp += "a=x-pad:" + std::string(chunk, 'p') + "\r\n";
            padding -= chunk;
        }
        return "INVITE sip:4711@127.0.0.1 SIP/2.0\r\n"
               "Via: SIP/2.0/UDP 127.0.0.1:" + std::to_string(Server.Port()) + ";branch=z9hG4bK" + callId + "\r\n"
               "From: " + from + "\r\nTo: " + to + "\r\n"
               "Call-ID: " + callId + "\r\nCSeq: " + cseq + " INVITE\r\n"
               "Contact: <sip:caller@127.0.0.1:" + std::to_string(Server.Port()) +
               ";transport=udp;ob;gr=urn:uuid:f81d4fae>;expires=60\r\n"
               "Content-Type: application/sdp\r\n"
               "Content-Length: " + std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
    }

    // A request of the caller inside the dialog the engine answered.
    std::string InDialog(const std::string& method, const ISipCallPtr& call, const std::string& cseq) {
        return method + " sip:4711@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" +
               std::to_string(Server.Port()) + ";branch=z9hG4bK" + method + cseq +
               "\r\nFrom: <sip:caller@127.0.0.1>;tag=ct\r\nTo: <sip:4711@127.0.0.1>;tag=" +
               call->Dialog().LocalTag() + "\r\nCall-ID: " + call->GetCallId() + "\r\nCSeq: " + cseq + " " +
               method + "\r\nContent-Length: 0\r\n\r\n";
    }
};

std::string Header(const std::string& text, const std::string& name) {
    std::smatch found;
    if (!std::regex_search(text, found, std::regex("\r\n" + name + ": ([^\r]*)\r\n"))) return {};
    return found[1].str();
}

// A CSeq of ten digits (any number below 2^31 is valid) is echoed as it
// came, the call's later requests are taken in order, and its BYE ends it.
TEST_F(EngineWire, TenDigitCSeqIsEchoedAndItsByeEndsTheCall) {
    AddAccount();
    Server.Send(Invite("cseq-10", "<sip:caller@127.0.0.1>;tag=ct", "<sip:4711@127.0.0.1>", "1234567890"), Port);
    const std::string ringing = Server.NextOf("INVITE", "180");
    EXPECT_EQ(Header(ringing, "CSeq"), "1234567890 INVITE");
    ASSERT_TRUE(Sink->WaitFor("Invite"));
    const ISipCallPtr call = Sink->OfferedCall();
    Engine->Answer(call);
    EXPECT_EQ(Header(Server.NextOf("INVITE", "200"), "CSeq"), "1234567890 INVITE");
    Server.Send(InDialog("ACK", call, "1234567890"), Port);
    Server.Send(InDialog("BYE", call, "1234567892"), Port);
    EXPECT_EQ(Header(Server.NextOf("BYE", "200"), "CSeq"), "1234567892 BYE");
    EXPECT_TRUE(Sink->WaitFor("Bye"));
}

// From and To written without angle brackets: the tag after the URI is a
// header parameter, and the engine's own responses name the same parties,
// To with exactly one tag of ours.
TEST_F(EngineWire, BareFromAndToAreEchoedInRingingAndRefusal) {
    AddAccount();
    Server.Send(Invite("bare-1", "sip:carol@127.0.0.1;tag=x", "sip:4711@127.0.0.1"), Port);
    const std::string ringing = Server.NextOf("INVITE", "180");
    ASSERT_TRUE(Sink->WaitFor("Invite"));
    const ISipCallPtr call = Sink->OfferedCall();
    const std::string ourTo = "<sip:4711@127.0.0.1>;tag=" + call->Dialog().LocalTag();
    EXPECT_EQ(Header(ringing, "To"), ourTo);
    EXPECT_EQ(Header(ringing, "From"), "<sip:carol@127.0.0.1>;tag=x");
    Engine->Reject(call);
    const std::string busy = Server.NextOf("INVITE", "486");
    EXPECT_EQ(Header(busy, "To"), ourTo);
    EXPECT_EQ(Header(busy, "From"), "<sip:carol@127.0.0.1>;tag=x");
}

// The caller's Contact URI with all its parameters (transport, ob, GRUU)
// is where the engine's BYE goes; the header's own expires is not part of it.
TEST_F(EngineWire, ByeGoesToTheWholeContactUri) {
    AddAccount();
    Server.Send(Invite("gruu-1"), Port);
    ASSERT_TRUE(Sink->WaitFor("Invite"));
    const ISipCallPtr call = Sink->OfferedCall();
    Engine->Answer(call);
    ASSERT_FALSE(Server.NextOf("INVITE", "200").empty());
    Server.Send(InDialog("ACK", call, "1"), Port);
    Engine->HangUp(call);
    const std::string bye = Server.NextOf("BYE");
    EXPECT_TRUE(bye.starts_with("BYE sip:caller@127.0.0.1:" + std::to_string(Server.Port()) +
                                ";transport=udp;ob;gr=urn:uuid:f81d4fae SIP/2.0\r\n"))
        << bye;
}

// An INVITE past the old 4096-byte bound is read and answered.
TEST_F(EngineWire, InviteLongerThanFourKilobytesRings) {
    AddAccount();
    const std::string invite = Invite("long-1", "<sip:caller@127.0.0.1>;tag=ct", "<sip:4711@127.0.0.1>", "1", 3900);
    ASSERT_GT(invite.size(), 4096u);
    Server.Send(invite, Port);
    EXPECT_FALSE(Server.NextOf("INVITE", "180").empty());
    EXPECT_TRUE(Sink->WaitFor("Invite"));
}

// Requests too broken to handle get their error and never ring: missing
// headers, a CSeq that names another method or is out of range, a
// Content-Length that does not fit, a body the agent cannot read.
TEST_F(EngineWire, BrokenRequestsAreRefusedAndNeverRing) {
    AddAccount();
    struct TRow {
        const char* name;
        std::function<void(std::string&)> mutate;
        const char* status;
    };
    const auto drop = [](const std::string& header) {
        return [header](std::string& text) {
            const std::size_t at = text.find("\r\n" + header + ": ");
            text.erase(at + 2, text.find("\r\n", at + 2) - at);
        };
    };
    const auto replace = [](const std::string& from, const std::string& to) {
        return [from, to](std::string& text) { text.replace(text.find(from), from.size(), to); };
    };
    const TRow rows[] = {
        {"no Call-ID", drop("Call-ID"), "400"},
        {"no From", drop("From"), "400"},
        {"no To", drop("To"), "400"},
        {"no CSeq", drop("CSeq"), "400"},
        {"CSeq of another method", replace("CSeq: 1 INVITE", "CSeq: 1 OPTIONS"), "400"},
        {"CSeq of 2^31", replace("CSeq: 1 INVITE", "CSeq: 2147483648 INVITE"), "400"},
        {"negative Content-Length", replace("Content-Length: ", "Content-Length: -"), "400"},
        {"Content-Length past the body", replace("Content-Length: ", "Content-Length: 9"), "400"},
        {"Content-Length not a number", replace("Content-Length: ", "Content-Length: x"), "400"},
        {"body not SDP", replace("application/sdp", "text/plain"), "415"},
    };
    int index = 0;
    for (const TRow& row : rows) {
        std::string invite = Invite("broken-" + std::to_string(index++));
        row.mutate(invite);
        Server.Send(invite, Port);
        const std::string answer = Server.Next();
        EXPECT_TRUE(answer.starts_with(std::string("SIP/2.0 ") + row.status)) << row.name << "\n" << answer;
        if (std::string(row.status) == "415") {
            EXPECT_EQ(Header(answer, "Accept"), "application/sdp");
        }
        EXPECT_FALSE(Header(answer, "To").empty() && std::string(row.name) != "no To") << row.name;
    }
    // Without a Via nobody can be answered.
    std::string noVia = Invite("broken-via");
    drop("Via")(noVia);
    Server.Send(noVia, Port);
    EXPECT_TRUE(Server.Silent(300ms));
    EXPECT_EQ(Sink->Count("Invite"), 0);
    EXPECT_EQ(Engine->Calls().Count(), 0);
}

// OPTIONS and a method the agent does not know are answered with our To
// tag; the 405 says what is allowed.
TEST_F(EngineWire, OptionsAndUnknownMethodAnswersCarryOurTag) {
    for (const char* method : {"OPTIONS", "SUBSCRIBE"}) {
        const std::string request = std::string(method) + " sip:4711@127.0.0.1 SIP/2.0\r\n"
            "Via: SIP/2.0/UDP 127.0.0.1:" + std::to_string(Server.Port()) + ";branch=z9hG4bK" + method +
            "\r\nFrom: <sip:caller@127.0.0.1>;tag=ct\r\nTo: <sip:4711@127.0.0.1>\r\n"
            "Call-ID: " + method + "-1\r\nCSeq: 5 " + method + "\r\nContent-Length: 0\r\n\r\n";
        Server.Send(request, Port);
        const std::string answer = Server.Next();
        EXPECT_TRUE(std::regex_search(Header(answer, "To"), std::regex("^<sip:4711@127.0.0.1>;tag=[^;]+$")))
            << answer;
        EXPECT_FALSE(Header(answer, "Allow").empty()) << answer;
    }
}

// A challenge that only renews the nonce (stale) is answered again with the
// new nonce and the registration goes on; a 423 is asked again with the
// least expiry the registrar grants.
TEST_F(EngineWire, StaleNonceAndIntervalTooBriefAreRetried) {
    const ISipAccountPtr account = AddAccount();
    Engine->Register(account);
    const std::string first = Server.NextOf("REGISTER");
    Server.Send(Respond(first, "423 Interval Too Brief", "", "Min-Expires: 7200\r\n"), Port);
    const std::string longer = Server.NextOf("REGISTER");
    EXPECT_EQ(Header(longer, "Expires"), "7200");
    Server.Send(Respond(longer, "401 Unauthorized", "",
                        "WWW-Authenticate: Digest realm=\"test\", nonce=\"n1\", qop=\"auth\"\r\n"),
                Port);
    const std::string answered = Server.NextOf("REGISTER");
    EXPECT_NE(Header(answered, "Authorization").find("nonce=\"n1\""), std::string::npos);
    Server.Send(Respond(answered, "401 Unauthorized", "",
                        "WWW-Authenticate: Digest realm=\"test\", nonce=\"n2\", qop=\"auth\", stale=TRUE\r\n"),
                Port);
    const std::string renewed = Server.NextOf("REGISTER");
    EXPECT_NE(Header(renewed, "Authorization").find("nonce=\"n2\""), std::string::npos) << renewed;
    Server.Send(Respond(renewed, "200 OK", "reg"), Port);
    EXPECT_TRUE(Sink->WaitFor("RegistrationOk"));
}

// A MESSAGE answered with a qop=auth-int challenge is sent again with a
// digest over its real body.
TEST_F(EngineWire, MessageRetryHashesItsBodyForAuthInt) {
    const ISipAccountPtr account = AddAccount("4711", "secret");
    Engine->SendMessage(account, "5550100", "saldo?");
    const std::string first = Server.NextOf("MESSAGE");
    Server.Send(Respond(first, "401 Unauthorized", "m1",
                        "WWW-Authenticate: Digest realm=\"test\", nonce=\"n9\", qop=\"auth-int\"\r\n"),
                Port);
    const std::string retry = Server.NextOf("MESSAGE");
    std::smatch found;
    const std::string credentials = Header(retry, "Authorization");
    ASSERT_TRUE(std::regex_search(credentials, found,
                                  std::regex("uri=\"([^\"]*)\",response=\"([0-9a-f]{32})\",qop=auth-int,"
                                             "cnonce=\"([0-9a-f]{32})\"")))
        << retry;
    EXPECT_EQ(found[2].str(), DigestResponseForUri("MESSAGE", found[1].str(), "4711", "test", "secret",
                                                   "auth-int", "n9", found[3].str(), "saldo?"));
}

}  // namespace
}  // namespace sip_test
