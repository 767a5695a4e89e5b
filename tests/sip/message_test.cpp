#include "sip/message.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

TSipMessage Parse(const std::string& text) { return TSipMessage(text); }

TEST(SipMessageStartLine, ResponseAndRequestAreToldApart) {
    const TSipMessage ringing = Parse("SIP/2.0 180 Ringing\r\n");
    EXPECT_EQ(ringing.StatusCode, "180");
    EXPECT_EQ(ringing.RequestUri, "");

    const TSipMessage invite = Parse("INVITE sip:4711@10.1.1.1 SIP/2.0\r\n");
    EXPECT_EQ(invite.RequestUri, "sip:4711@10.1.1.1");
    EXPECT_EQ(invite.RequestUser, "4711");
    EXPECT_EQ(invite.StatusCode, "");
}

TEST(SipMessageStartLine, RequestUserOnlyForInviteAndMessage) {
    EXPECT_EQ(Parse("MESSAGE sip:301@10.1.1.1 SIP/2.0\r\n").RequestUser, "301");
    EXPECT_EQ(Parse("BYE sip:301@10.1.1.1 SIP/2.0\r\n").RequestUser, "");
    EXPECT_EQ(Parse("BYE sip:301@10.1.1.1 SIP/2.0\r\n").RequestUri, "sip:301@10.1.1.1");
    // Exact case only, and no "@" means no user.
    EXPECT_EQ(Parse("invite sip:301@10.1.1.1 SIP/2.0\r\n").RequestUser, "");
    EXPECT_EQ(Parse("INVITE sip:10.1.1.1 SIP/2.0\r\n").RequestUser, "");
}

TEST(SipMessageStartLine, ShortStatusLineGivesShortCode) {
    EXPECT_EQ(Parse("SIP/2.0 20").StatusCode, "20");
    EXPECT_EQ(Parse("SIP/2.0").StatusCode, "");
}

TEST(SipMessageHeaders, NamesMatchInAnyCaseButSdpLinesOnlyAsWritten) {
    const TSipMessage m = Parse(
        "OPTIONS sip:a@b SIP/2.0\r\ncall-id: abc\r\nCSEQ: 7 OPTIONS\r\n"
        "VIA: SIP/2.0/UDP 1.2.3.4:5070;branch=z9hG4bKq\r\n"
        "C=IN IP4 10.0.0.1\r\nM=AUDIO 4000 RTP/AVP 0\r\n");
    EXPECT_EQ(m.CallId, "abc");
    EXPECT_EQ(m.CSeqMethod, "OPTIONS");
    EXPECT_EQ(m.ViaHost, "1.2.3.4");
    EXPECT_EQ(m.SdpAddress, "");
    EXPECT_EQ(m.SdpAudioPort, "");

    EXPECT_EQ(Parse("Call-ID : abc\r\n").CallId, "");
    EXPECT_EQ(Parse("i: short-form \r\n").CallId, "short-form");
}

TEST(SipMessageHeaders, CallIdIsCutAtHundredCharacters) {
    const std::string longId(150, 'x');
    EXPECT_EQ(Parse("Call-ID: " + longId + "\r\n").CallId, std::string(99, 'x'));
}

TEST(SipMessageHeaders, CSeqNumberAndMethod) {
    const TSipMessage full = Parse("CSeq: 102 INVITE\r\n");
    EXPECT_EQ(full.CSeqNumber, "102");
    EXPECT_EQ(full.CSeqMethod, "INVITE");

    const TSipMessage noMethod = Parse("CSeq: 102\r\n");
    EXPECT_EQ(noMethod.CSeqMethod, "102");
    EXPECT_EQ(noMethod.CSeqNumber, "");

    EXPECT_EQ(Parse("CSeq:    5 BYE\r\n").CSeqNumber, "5");
}

TEST(SipMessageHeaders, FromWithBracketsParametersAndTag) {
    const TSipMessage m = Parse("From: <sip:bob@10.0.0.9:5070;transport=udp>;tag=a1b2\r\n");
    EXPECT_EQ(m.FromHeader, "From: <sip:bob@10.0.0.9:5070;transport=udp>;tag=a1b2");
    EXPECT_EQ(m.FromUri(), "sip:bob@10.0.0.9:5070;transport=udp");
    EXPECT_EQ(m.FromUser, "bob");
    EXPECT_EQ(m.FromHostPort(), "10.0.0.9:5070;transport=udp");
    EXPECT_EQ(m.FromHost(), "10.0.0.9");
    EXPECT_EQ(m.FromTag, "a1b2");
}

TEST(SipMessageHeaders, CompactToWithoutBracketsOrTag) {
    const TSipMessage m = Parse("t: sip:bob@10.0.0.9\r\n");
    EXPECT_EQ(m.ToUser, "bob");
    EXPECT_EQ(m.ToHost(), "10.0.0.9");
    EXPECT_EQ(m.ToHostPort(), "10.0.0.9");
    EXPECT_EQ(m.ToUri(), "sip:bob@10.0.0.9");
    EXPECT_EQ(m.ToTag, "");
    EXPECT_EQ(m.ToHeader, "t: sip:bob@10.0.0.9");
}

TEST(SipMessageHeaders, TagIsTheParameterOutsideDisplayNameAndUri) {
    EXPECT_EQ(Parse("f: \"A\" <sip:a@h>;tag=x;foo=1\r\n").FromTag, "x");
    EXPECT_EQ(Parse("f: \"A\" <sip:a@h>;foo=1; TAG=y ,\r\n").FromTag, "y");
    EXPECT_EQ(Parse("f: sip:a@h;tag=z\r\n").FromTag, "z");
    // An unclosed bracket gives no URI and no parameters.
    const TSipMessage open = Parse("f: \"A\" <sip:a@h;tag=x;foo=1\r\n");
    EXPECT_EQ(open.FromTag, "");
    EXPECT_EQ(open.FromUri(), "");
    // A display name or user part that looks like an address or a tag is
    // neither.
    const TSipMessage quoted =
        Parse("From: \"x\\\" <sip:e@evil>;tag=evil\" <sip:a%3Btag%3Dq@h>;tag=good\r\n");
    EXPECT_EQ(quoted.FromTag, "good");
    EXPECT_EQ(quoted.FromUri(), "sip:a%3Btag%3Dq@h");
    EXPECT_EQ(quoted.FromUser, "a%3Btag%3Dq");
    EXPECT_EQ(quoted.FromHost(), "h");
}

TEST(SipMessageVia, FirstLineGivesHostPortAllLinesKept) {
    const TSipMessage m = Parse(
        "Via: SIP/2.0/UDP 10.0.0.5;branch=z9hG4bKx;rport=5062\r\n"
        "v: SIP/2.0/UDP 10.0.0.6:5080;branch=z9hG4bKy\r\n");
    EXPECT_EQ(m.ViaHeaders,
              "Via: SIP/2.0/UDP 10.0.0.5;branch=z9hG4bKx;rport=5062\r\n"
              "v: SIP/2.0/UDP 10.0.0.6:5080;branch=z9hG4bKy\r\n");
    EXPECT_EQ(m.ViaHost, "10.0.0.5");
    EXPECT_EQ(m.ViaPort, "5060");
    EXPECT_EQ(m.ViaRport, "5062");
}

TEST(SipMessageVia, RportComesFromTheFirstLineThatCarriesOne) {
    EXPECT_EQ(Parse("Via: SIP/2.0/UDP 10.0.0.5;rport\r\n").ViaRport, "");
    const TSipMessage m = Parse(
        "Via: SIP/2.0/UDP 10.0.0.5:5075;rport\r\n"
        "Via: SIP/2.0/UDP 10.0.0.1;rport=7000\r\n"
        "Via: SIP/2.0/UDP 10.0.0.2;rport=8000\r\n");
    EXPECT_EQ(m.ViaRport, "7000");
    EXPECT_EQ(m.ViaHost, "10.0.0.5");
    EXPECT_EQ(m.ViaPort, "5075");
}

TEST(SipMessageVia, FirstLineWithoutUdpIsKeptWhole) {
    const TSipMessage m = Parse("Via: SIP/2.0/TCP 10.0.0.5:5060\r\n");
    EXPECT_EQ(m.ViaHost, "Via: SIP/2.0/TCP 10.0.0.5:5060");
    EXPECT_EQ(m.ViaPort, "");
}

// The remote target keeps every URI parameter a peer put inside the
// brackets (GRUU, transport, ob, NAT alias); what follows the URI outside
// them, or after a bare URI, belongs to the header.
TEST(SipMessageContact, UriParametersStayHeaderParametersGo) {
    struct TRow {
        const char* line;
        const char* contact;
        const char* host;
        const char* port;
    };
    const TRow rows[] = {
        {"Contact: <sip:200@192.168.0.7:5080;transport=udp>;expires=60",
         "sip:200@192.168.0.7:5080;transport=udp", "192.168.0.7", "5080"},
        {"Contact: \"Carol\" <sip:carol@10.0.0.9;gr=urn:uuid:f81d4fae-7dec-11d0-a765-00a0c91e6bf6>;"
         "+sip.instance=\"<urn:uuid:f81d>\";q=0.5",
         "sip:carol@10.0.0.9;gr=urn:uuid:f81d4fae-7dec-11d0-a765-00a0c91e6bf6", "10.0.0.9", ""},
        {"Contact: <sip:carol@10.0.0.9:5062;transport=udp;ob;alias=203.0.113.4~40000~1>",
         "sip:carol@10.0.0.9:5062;transport=udp;ob;alias=203.0.113.4~40000~1", "10.0.0.9", "5062"},
        {"m: sip:200@192.168.0.8;expires=3600", "sip:200@192.168.0.8", "192.168.0.8", ""},
        {"Contact: <sip:200@192.168.0.8:5070?Subject=x>", "sip:200@192.168.0.8:5070", "192.168.0.8",
         "5070"},
    };
    for (const TRow& row : rows) {
        const TSipMessage m = Parse(std::string(row.line) + "\r\n");
        EXPECT_EQ(m.Contact, row.contact) << row.line;
        EXPECT_EQ(m.ContactHost, row.host) << row.line;
        EXPECT_EQ(m.ContactPort, row.port) << row.line;
    }
}

TEST(SipMessageContact, LaterLineOverwritesAndHostOnlyWithAt) {
    const TSipMessage m = Parse(
        "Contact: <sip:1@10.0.0.1:5000>\r\nContact: <sip:10.0.0.2>\r\n");
    EXPECT_EQ(m.Contact, "sip:10.0.0.2");
    EXPECT_EQ(m.ContactHost, "10.0.0.1");
    EXPECT_EQ(m.ContactPort, "5000");

    // A new host never inherits the port of an earlier Contact line.
    const TSipMessage n = Parse("Contact: <sip:1@10.0.0.1:5000>\r\nContact: <sip:2@10.0.0.2>\r\n");
    EXPECT_EQ(n.ContactHost, "10.0.0.2");
    EXPECT_EQ(n.ContactPort, "");
}

TEST(SipMessageRecordRoute, EntriesFromEveryLineInOrder) {
    const TSipMessage m = Parse(
        "Record-Route: <sip:10.0.0.1;lr>, <sip:10.0.0.2;lr>\r\n"
        "Record-Route: <sip:10.0.0.3;lr>\r\n");
    ASSERT_EQ(m.RecordRouteCount(), 3);
    EXPECT_TRUE(m.HasRecordRoutes());
    EXPECT_EQ(m.RecordRouteAt(0), "<sip:10.0.0.1;lr>");
    EXPECT_EQ(m.RecordRouteAt(1), "<sip:10.0.0.2;lr>");
    EXPECT_EQ(m.RecordRouteAt(2), "<sip:10.0.0.3;lr>");
    EXPECT_EQ(m.RecordRouteAt(3), "");
    EXPECT_EQ(m.RecordRouteAt(-1), "");
    EXPECT_EQ(m.RecordRouteHeaders,
              "Record-Route: <sip:10.0.0.1;lr>\r\n"
              "Record-Route: <sip:10.0.0.2;lr>\r\n"
              "Record-Route: <sip:10.0.0.3;lr>\r\n");

    const TSipMessage none = Parse("SIP/2.0 200 OK\r\n");
    EXPECT_FALSE(none.HasRecordRoutes());
    EXPECT_EQ(none.RecordRouteCount(), 0);
    EXPECT_EQ(none.RecordRouteHeaders, "");
}

TEST(SipMessageSdp, AudioLineGivesPortAndPayloadsWithoutTelephoneEvents) {
    const TSipMessage m = Parse("m=audio 40000 RTP/AVP 8 0 3 101\r\n");
    EXPECT_EQ(m.SdpAudioPort, "40000");
    ASSERT_EQ(m.PayloadCount(), 3);
    EXPECT_EQ(m.PayloadAt(0), 8);
    EXPECT_EQ(m.PayloadAt(1), 0);
    EXPECT_EQ(m.PayloadAt(2), 3);

    EXPECT_EQ(Parse("m=audio 40000 RTP/AVP\r\n").PayloadCount(), 0);
    const TSipMessage junk = Parse("m=audio 40000 RTP/AVP 0 x8  18 99999999999\r\n");
    ASSERT_EQ(junk.PayloadCount(), 2);
    EXPECT_EQ(junk.PayloadAt(1), 18);
}

TEST(SipMessageSdp, LastConnectionLineWins) {
    const TSipMessage m = Parse(
        "v=0\r\nc=IN IP4 10.0.0.1\r\nm=audio 4000 RTP/AVP 0\r\nc=IN IP4 10.0.0.2\r\n");
    EXPECT_EQ(m.SdpAddress, "10.0.0.2");
    EXPECT_EQ(Parse("c=IN IP6 ::1\r\n").SdpAddress, "");
}

TEST(SipMessageBody, SignalLineInAnyForm) {
    EXPECT_EQ(Parse("Signal=5\r\n").DtmfSignal, "5");
    EXPECT_EQ(Parse("Signal= 5\r\n").DtmfSignal, "5");
    EXPECT_EQ(Parse("signal=11\r\n").DtmfSignal, "11");
}

TEST(SipMessageBody, TakenOnlyAfterCrLfCrLf) {
    const TSipMessage crlf = Parse("INFO sip:a@b SIP/2.0\r\nCSeq: 2 INFO\r\n\r\nSignal=5\r\n");
    EXPECT_EQ(crlf.Body, "Signal=5\r\n");
    EXPECT_EQ(crlf.DtmfSignal, "5");

    const TSipMessage bareLf = Parse("INFO sip:a@b SIP/2.0\nCSeq: 2 INFO\n\nSignal=5\n");
    EXPECT_EQ(bareLf.Body, "");
    EXPECT_EQ(bareLf.CSeqMethod, "INFO");
    EXPECT_EQ(bareLf.DtmfSignal, "5");

    // One line only: no body, however it ends.
    EXPECT_EQ(Parse("\r\n\r\nabc").Body, "abc");
    EXPECT_EQ(Parse("abc\r\n\r\n").Body, "");

    // An empty line of another kind first, or a NUL before the blank line:
    // the body still begins after the first CR LF CR LF.
    EXPECT_EQ(Parse("INFO sip:a@b SIP/2.0\nCSeq: 2 INFO\n\nX\r\n\r\nSignal=5").Body, "Signal=5");
    EXPECT_EQ(Parse("INFO sip:a@b SIP/2.0\r\nCSeq: 2 INFO\r\n\r\n\r\n\r\nx").Body, "\r\n\r\nx");
    EXPECT_EQ(Parse(std::string("A\r\nB\0\r\n\r\nbody", 13)).Body, "body");
}

TEST(SipMessageBody, BodyIsCutAtHundredThousandCharacters) {
    const std::string text = "X\r\nY\r\n\r\n" + std::string(100500, 'b');
    EXPECT_EQ(Parse(text).Body.size(), 100000u);
}

TEST(SipMessageChallenge, ValuesAndQopList) {
    const TSipMessage m = Parse(
        "SIP/2.0 401 Unauthorized\r\n"
        "WWW-Authenticate: Digest realm=\"x\", nonce=\"abc\", qop=\"auth,auth-int\"\r\n");
    EXPECT_EQ(m.Realm, "x");
    EXPECT_EQ(m.Nonce, "abc");
    EXPECT_EQ(m.Qop, "auth-int");
    EXPECT_EQ(m.Opaque, "");

    EXPECT_EQ(Parse("Proxy-Authenticate: Digest qop=\"auth\", opaque=\"o1\"\r\n").Qop, "auth");
    EXPECT_EQ(Parse("Proxy-Authenticate: Digest qop=\"auth\", opaque=\"o1\"\r\n").Opaque, "o1");
    // A value without its closing quote runs to the end of the line.
    EXPECT_EQ(Parse("WWW-Authenticate: Digest nonce=\"open\r\n").Nonce, "open");
}

// Several challenges in one response, on separate lines or in one: the first
// whose algorithm the agent speaks is kept whole, never a mix of fields.
TEST(SipMessageChallenge, FirstMd5ChallengeIsKept) {
    const TSipMessage m = Parse(
        "SIP/2.0 401 Unauthorized\r\n"
        "WWW-Authenticate: Digest realm=\"s\", nonce=\"sha\", algorithm=SHA-256, qop=\"auth\"\r\n"
        "WWW-Authenticate: Digest realm=\"m\", nonce=\"md5\", algorithm=MD5, opaque=\"o\"\r\n"
        "WWW-Authenticate: Digest realm=\"late\", nonce=\"late\"\r\n");
    EXPECT_EQ(m.Realm, "m");
    EXPECT_EQ(m.Nonce, "md5");
    EXPECT_EQ(m.Opaque, "o");
    EXPECT_EQ(m.Qop, "");

    const TSipMessage oneLine = Parse(
        "Proxy-Authenticate: Digest realm=\"s\",nonce=\"a\",algorithm=\"SHA-256\", "
        "Digest realm=\"m\",nonce=\"b\",qop=auth\r\n");
    EXPECT_EQ(oneLine.Nonce, "b");
    EXPECT_EQ(oneLine.Qop, "auth");

    const TSipMessage none = Parse("WWW-Authenticate: Digest realm=\"s\",nonce=\"a\",algorithm=MD5-sess\r\n"
                                   "WWW-Authenticate: Basic realm=\"b\"\r\n");
    EXPECT_EQ(none.Nonce, "");
    EXPECT_EQ(none.Realm, "");
}

TEST(SipMessageRobustness, StunResponseKeepsBytesAndHasNoMethod) {
    std::string stun = {0x01, 0x01, 0x00, 0x0C, 0x21, 0x12, static_cast<char>(0xA4), 0x42};
    stun += std::string(12, '\x07');
    stun += std::string("\x00\x01\x00\x08\x00\x01\x13\x88\x7f\x00\x00\x01", 12);
    const TSipMessage m(stun);
    EXPECT_EQ(m.CSeqMethod, "");
    EXPECT_EQ(m.RawText, stun);
    EXPECT_EQ(m.RawText.size(), 32u);
}

TEST(SipMessageRobustness, NulEndsTheLinesButNotTheRawText) {
    const std::string text("CSeq: 1 BYE\r\n\0CSeq: 2 INVITE\r\n", 31);
    const TSipMessage m(text);
    EXPECT_EQ(m.CSeqMethod, "BYE");
    EXPECT_EQ(m.RawText, text);
}

// Line ends are found a word at a time: every end, at every place in a
// word, and the bytes next to the end values (tab, 0x0E, CR and LF with the
// high bit) must neither end a line nor hide a real end.
TEST(SipMessageRobustness, LineEndsAreFoundAtEveryOffsetAmongLookalikeBytes) {
    const std::string lookalikes = "\t\x0e\x8d\x8a\x0b\x80\xff";
    const struct {
        std::string end;
        bool nextLineSeen;
    } ends[] = {{"\r\n", true}, {"\n", true}, {"\r", true}, {std::string(1, '\0'), false}};
    for (const auto& end : ends) {
        for (std::size_t length = 1; length <= 24; ++length) {
            std::string callId;
            for (std::size_t i = 0; i < length; ++i)
                callId += i == 0 || i + 1 == length ? 'x' : lookalikes[i % lookalikes.size()];
            const std::string text = "Call-ID: " + callId + end.end + "CSeq: 7 INVITE\r\n";
            const TSipMessage m(text);
            EXPECT_EQ(m.CallId, callId) << "length " << length;
            EXPECT_EQ(m.CSeqMethod, end.nextLineSeen ? "INVITE" : "") << "length " << length;
        }
    }
}

TEST(SipMessageRobustness, EmptyAndTruncatedInputsLeaveFieldsEmpty) {
    const TSipMessage empty("");
    EXPECT_EQ(empty.PayloadCount(), 0);
    EXPECT_EQ(empty.CSeqMethod, "");
    EXPECT_EQ(empty.RecordRouteCount(), 0);

    for (const char* text : {"From:", "To: <", "Via:", "Via: SIP/2.0/UDP", "Contact:", "m:",
                             "Record-Route:", "m=audio", "c=IN IP4", "CSeq:", "Signal=", "sip:",
                             "From: sip:@", "Contact: <@:>", "WWW-Authenticate: nonce=\""}) {
        const TSipMessage m(text);
        EXPECT_EQ(m.RawText, text);
    }
}

// Mutations of a real INVITE; the sanitizers turn any read outside the
// datagram into a failure.
TEST(SipMessageRobustness, MutatedMessagesNeverCrash) {
    const std::string seed =
        "INVITE sip:4711@10.1.1.1 SIP/2.0\r\nVia: SIP/2.0/UDP 10.0.0.5:5060;rport=1\r\n"
        "Record-Route: <sip:a;lr>,<sip:b>\r\nFrom: <sip:a@b:1>;tag=1\r\nTo: sip:c@d\r\n"
        "Call-ID: x\r\nCSeq: 1 INVITE\r\nContact: <sip:e@f:2;x>\r\n"
        "WWW-Authenticate: Digest realm=\"r\",nonce=\"n\",qop=\"auth\"\r\n\r\n"
        "c=IN IP4 1.2.3.4\r\nm=audio 5 RTP/AVP 0 8\r\nSignal=1\r\n";
    std::mt19937 random(12345);
    for (int round = 0; round < 20000; ++round) {
        std::string text = seed;
        const int edits = 1 + static_cast<int>(random() % 8);
        for (int e = 0; e < edits && !text.empty(); ++e) {
            const std::size_t at = random() % text.size();
            switch (random() % 4) {
            case 0: text[at] = static_cast<char>(random()); break;
            case 1: text.erase(at, random() % 16); break;
            case 2: text.insert(at, 1 + random() % 8, static_cast<char>(random())); break;
            default: text.resize(at); break;
            }
        }
        const TSipMessage m(text);
        ASSERT_EQ(m.RawText, text);
        for (int i = 0; i < m.RecordRouteCount(); ++i) (void)m.RecordRouteAt(i);
    }
}

TEST(SipMessageRobustness, RandomDatagramsNeverCrash) {
    std::mt19937 random(777);
    for (int round = 0; round < 2000; ++round) {
        std::string text(random() % 4097, '\0');
        for (char& c : text) c = static_cast<char>(random());
        const TSipMessage m(text);
        ASSERT_EQ(m.RawText.size(), text.size());
    }
    // Header values far past every cut length.
    const std::string huge(4000, 'A');
    const TSipMessage m("From: <sip:" + huge + "@" + huge + ">;tag=" + huge + "\r\nCall-ID: " + huge +
                        "\r\nContact: " + huge + "\r\nCSeq: " + huge + "\r\n");
    EXPECT_EQ(m.FromTag.size(), 100u);
    EXPECT_EQ(m.CallId.size(), 99u);  // the cut counts the blank after the colon
    EXPECT_EQ(m.FromUser, "");        // the "@" lies beyond the 1000 characters looked at
    EXPECT_EQ(m.Contact.size(), 999u);
}

}  // namespace
