#include <gtest/gtest.h>

#include "sip/compose_dialog.h"
#include "sip/message.h"
#include "tests/sip/fake_call.h"

namespace {

const std::string kAllow =
    "Allow: INVITE, ACK, CANCEL, OPTIONS, BYE, REFER, NOTIFY, INFO, MESSAGE\r\n";

// The offer of MakeTestCall with the default codec list.
const std::string kOffer =
    "v=0\r\n"
    "o=- 4321 0 IN IP4 192.168.1.20\r\n"
    "s=Quillon SIP component\r\n"
    "c=IN IP4 192.168.1.20\r\n"
    "t=0 0\r\n"
    "m=audio 22000 RTP/AVP 0 8 3 110 101 13\r\n"
    "a=rtpmap:110 speex/8000\r\n"
    "a=rtpmap:101 telephone-event/8000\r\n"
    "a=fmtp:101 0-15\r\n"
    "a=rtpmap:13 CN/8000\r\n"
    "a=ptime:20\r\n"
    "a=sendrecv\r\n";

const std::string kInviteHead =
    "INVITE sip:2001@sip.telvira.example SIP/2.0\r\n"
    "From: \"Linea 1\" <sip:1001@sip.telvira.example>;tag=A1B2C3D4E\r\n"
    "To: <sip:2001@sip.telvira.example>\r\n"
    "Via: SIP/2.0/UDP 192.168.1.20:5075;rport;branch=z9hG4bK99887766AA\r\n"
    "CSeq: 12 INVITE\r\n"
    "Call-ID: FEDCBA9876543210FEDCBA9876543210\r\n" + kAllow +
    "Contact: <sip:1001@192.168.1.20:5075>\r\n"
    "Max-Forwards: 70\r\n";

const std::string kSdpHeaders =
    "Content-Type: application/sdp\r\n"
    "Content-Length: 254\r\n"
    "\r\n";

class DialogComposer : public ::testing::Test {
protected:
    std::shared_ptr<TAccount> Account = MakeTestAccount();
    std::shared_ptr<TFakeCall> Call = MakeTestCall(Account);

    void Connect(const std::vector<std::string>& routes = {"<sip:192.0.2.10;lr>"},
                 const std::string& contact = "sip:2001@198.51.100.5:5060") {
        AnswerTestCall(*Call, "srvtag1", contact, routes);
    }
    void Challenge(const char* status, const char* qop, const char* opaque) {
        Call->AuthStatus = status;
        Call->Realm = "telvira";
        Call->Nonce = "n0nce";
        Call->Qop = qop;
        Call->Opaque = opaque;
    }
};

// --- INVITE ------------------------------------------------------------------

TEST_F(DialogComposer, FirstInviteGolden) {
    const std::string text = ComposeInvite(*Call, "0 8 3 110");
    EXPECT_EQ(text, kInviteHead + kSdpHeaders + kOffer);

    const TSipMessage parsed(text);
    EXPECT_EQ(parsed.CallId, "FEDCBA9876543210FEDCBA9876543210");
    EXPECT_EQ(parsed.CSeqNumber, "12");
    EXPECT_EQ(parsed.CSeqMethod, "INVITE");
    EXPECT_EQ(parsed.FromTag, "A1B2C3D4E");
    EXPECT_EQ(parsed.ToTag, "");
    EXPECT_EQ(parsed.ViaHeaders,
              "Via: SIP/2.0/UDP 192.168.1.20:5075;rport;branch=z9hG4bK99887766AA\r\n");
    EXPECT_EQ(parsed.Body, kOffer);
    EXPECT_EQ(parsed.PayloadTypes, (std::vector<int>{0, 8, 3, 110, 13}));
}

// Our Contact is sips: only where the dialog is secure and the account is
// on TLS; elsewhere it stays the account's own.
TEST_F(DialogComposer, ContactIsSipsInASecureDialogOfATlsAccount) {
    const struct {
        TSignallingTransport transport;
        const char* remote;
        const char* contact;
    } rows[] = {
        {TSignallingTransport::kTls, "sips:2001@sip.telvira.example", "Contact: <sips:1001@192.168.1.20:5075>\r\n"},
        {TSignallingTransport::kTls, "sip:2001@sip.telvira.example",
         "Contact: <sip:1001@192.168.1.20:5075;transport=tls>\r\n"},
        {TSignallingTransport::kTcp, "sips:2001@sip.telvira.example",
         "Contact: <sip:1001@192.168.1.20:5075;transport=tcp>\r\n"},
    };
    for (const auto& row : rows) {
        const std::shared_ptr<TAccount> account = MakeTestAccount();
        account->SetTransport(row.transport);
        const std::shared_ptr<TFakeCall> call = MakeTestCall(account);
        call->Dialog().StartOutgoing("sip:1001@sip.telvira.example", row.remote, 12);
        const std::string invite = ComposeInvite(*call, "0 8");
        EXPECT_EQ(invite.rfind(std::string("INVITE ") + row.remote + " SIP/2.0\r\n", 0), 0u) << invite;
        EXPECT_NE(invite.find(row.contact), std::string::npos) << invite;
        AnswerTestCall(*call, "srvtag1", "sips:2001@198.51.100.5");
        // A re-INVITE inside the dialog keeps it.
        EXPECT_NE(ComposeInvite(*call, "0 8").find(row.contact), std::string::npos) << row.remote;
    }
}

TEST_F(DialogComposer, HoldReInviteGoesToTheRemoteTargetAlongTheRouteSet) {
    Connect();
    Call->Direction = "sendonly";
    Call->SdpVersion = 1;
    const std::string expected =
        "INVITE sip:2001@198.51.100.5:5060 SIP/2.0\r\n"
        "From: \"Linea 1\" <sip:1001@sip.telvira.example>;tag=A1B2C3D4E\r\n"
        "To: <sip:2001@sip.telvira.example>;tag=srvtag1\r\n"
        "Via: SIP/2.0/UDP 192.168.1.20:5075;rport;branch=z9hG4bK99887766AA\r\n"
        "Route: <sip:192.0.2.10;lr>\r\n"
        "CSeq: 12 INVITE\r\n"
        "Call-ID: FEDCBA9876543210FEDCBA9876543210\r\n" + kAllow +
        "Contact: <sip:1001@192.168.1.20:5075>\r\n"
        "Max-Forwards: 70\r\n"
        "Content-Type: application/sdp\r\n"
        "Content-Length: 249\r\n"
        "\r\n"
        "v=0\r\n"
        "o=- 4321 1 IN IP4 192.168.1.20\r\n"
        "s=Quillon SIP component\r\n"
        "c=IN IP4 0.0.0.0\r\n"
        "t=0 0\r\n"
        "m=audio 22000 RTP/AVP 0 8 3 110 101 13\r\n"
        "a=rtpmap:110 speex/8000\r\n"
        "a=rtpmap:101 telephone-event/8000\r\n"
        "a=fmtp:101 0-15\r\n"
        "a=rtpmap:13 CN/8000\r\n"
        "a=ptime:20\r\n"
        "a=sendonly\r\n";
    EXPECT_EQ(ComposeInvite(*Call, "0 8 3 110"), expected);
    const TSipMessage parsed(expected);
    EXPECT_EQ(parsed.ToTag, "srvtag1");
}

TEST_F(DialogComposer, ReInviteWithoutPeerContactFallsBackToTheRemoteUri) {
    Connect({"<sip:192.0.2.10;lr>"}, "");
    EXPECT_EQ(ComposeInvite(*Call, "0").rfind("INVITE sip:2001@sip.telvira.example SIP/2.0\r\n", 0),
              0u);
}

TEST_F(DialogComposer, InviteWithCredentialsGoldenAndDigest) {
    Challenge("407", "", "");
    // HA1 = md5("1001:telvira:secret"), HA2 = md5("INVITE:sip:2001@sip.telvira.example"),
    // response = md5(HA1 ":n0nce:" HA2), worked out with md5sum.
    const std::string credentials =
        "Proxy-Authorization: Digest username=\"1001\",realm=\"telvira\",nonce=\"n0nce\","
        "uri=\"sip:2001@sip.telvira.example\",response=\"1a6ce61a57e154d96eed606d48894da2\","
        "algorithm=MD5\r\n";
    const std::string text = ComposeInviteWithCredentials(*Call, "0 8 3 110");
    EXPECT_EQ(text, kInviteHead + credentials + kSdpHeaders + kOffer);
    EXPECT_EQ(Call->AuthorizationLine, credentials);
    EXPECT_EQ(Call->Opaque, "");
    const TSipMessage parsed(text);
    EXPECT_EQ(parsed.Body, kOffer);
    EXPECT_EQ(parsed.CSeqNumber, "12");
}

TEST_F(DialogComposer, InviteAuthIntHashesTheOfferItSends) {
    Challenge("401", "auth-int", "cn0001");
    Call->DigestUse = {"n0nce", "cn0001", 0};
    // HA2 = md5("INVITE:sip:2001@sip.telvira.example:" md5(offer)), worked out with hashlib.
    const std::string text = ComposeInviteWithCredentials(*Call, "0 8 3 110");
    EXPECT_NE(text.find("Authorization: Digest username=\"1001\",realm=\"telvira\","
                        "nonce=\"n0nce\",uri=\"sip:2001@sip.telvira.example\","
                        "response=\"a97c897583139dbc432cd569e53aeb04\",qop=auth-int,"
                        "cnonce=\"cn0001\",nc=00000001,opaque=\"cn0001\",algorithm=MD5\r\n"),
              std::string::npos);
    EXPECT_EQ(text.find("Proxy-Authorization"), std::string::npos);
}

TEST_F(DialogComposer, TargetWithAtSignHashesTheUriTheLineShows) {
    Challenge("407", "", "");
    Call->Target = "2001@other.example";
    Call->Dialog().StartOutgoing("sip:1001@sip.telvira.example", "sip:2001@other.example", 12);
    // md5(HA1 ":n0nce:" md5("INVITE:sip:2001@other.example")) by md5sum.
    const std::string text = ComposeInviteWithCredentials(*Call, "0");
    EXPECT_NE(text.find("uri=\"sip:2001@other.example\","
                        "response=\"c0c28322f33bcd52e6299ba10baf76ad\""),
              std::string::npos);
}

// The ACK answers the INVITE's nonce again: same cnonce, next count; the
// server sent no opaque, so none is written.
TEST_F(DialogComposer, AckCountsTheSecondUseOfTheInviteNonce) {
    Challenge("407", "auth", "");
    const std::string invite = ComposeInviteWithCredentials(*Call, "0");
    const std::string cnonce = Call->DigestUse.cnonce;
    ASSERT_TRUE(IsHexText(cnonce, 32, "0123456789abcdef"));
    EXPECT_NE(invite.find(",qop=auth,cnonce=\"" + cnonce + "\",nc=00000001,algorithm=MD5\r\n"),
              std::string::npos);

    const TSipMessage ok("SIP/2.0 200 OK\r\nVia: SIP/2.0/UDP 192.168.1.20:5075\r\n"
                         "To: <sip:2001@sip.telvira.example>;tag=t\r\nCSeq: 12 INVITE\r\n\r\n");
    const std::string ack = ComposeAckWithCredentials(*Call, ok);
    EXPECT_NE(ack.find(",qop=auth,cnonce=\"" + cnonce + "\",nc=00000002,algorithm=MD5\r\n"),
              std::string::npos);
    EXPECT_EQ((invite + ack).find("opaque="), std::string::npos);
    EXPECT_EQ(Call->Opaque, "");
}

// --- ACK ---------------------------------------------------------------------

const TSipMessage kOkToInvite(
    "SIP/2.0 200 OK\r\n"
    "Via: SIP/2.0/UDP 192.168.1.20:5075;rport=5075;branch=z9hG4bK99887766AA\r\n"
    "Record-Route: <sip:192.0.2.10;lr>\r\n"
    "From: \"Linea 1\" <sip:1001@sip.telvira.example>;tag=A1B2C3D4E\r\n"
    "To: <sip:2001@sip.telvira.example>;tag=srvtag1\r\n"
    "Call-ID: FEDCBA9876543210FEDCBA9876543210\r\n"
    "CSeq: 12 INVITE\r\n"
    "Contact: <sip:2001@198.51.100.5:5060;transport=udp>\r\n"
    "Content-Length: 0\r\n"
    "\r\n");

// A new transaction with a branch of its own, and no credentials line when
// nothing was challenged.
TEST_F(DialogComposer, AckForTwoHundredGoldenNeverChallenged) {
    Call->Dialog().TakeAnswer(kOkToInvite);
    const std::string text = ComposeAckWithCredentials(*Call, kOkToInvite);
    const std::string via = TSipMessage(text).ViaHeaders;
    const std::string branch = via.substr(via.find("branch=") + 7, 17);
    EXPECT_TRUE(branch.starts_with("z9hG4bK") && branch != "z9hG4bK99887766AA") << via;
    // The remote target keeps its URI parameters.
    const std::string expected =
        "ACK sip:2001@198.51.100.5:5060;transport=udp SIP/2.0\r\n"
        "Via: SIP/2.0/UDP 192.168.1.20:5075;rport;branch=" + branch + "\r\n"
        "Max-Forwards: 70\r\n"
        "From: \"Linea 1\" <sip:1001@sip.telvira.example>;tag=A1B2C3D4E\r\n"
        "To: <sip:2001@sip.telvira.example>;tag=srvtag1\r\n"
        "Call-ID: FEDCBA9876543210FEDCBA9876543210\r\n"
        "Route: <sip:192.0.2.10;lr>\r\n"
        "Contact: <sip:1001@192.168.1.20:5075>\r\n"
        "CSeq: 12 ACK\r\n"
        "Content-Length: 0\r\n"
        "\r\n";
    EXPECT_EQ(text, expected);
    const TSipMessage parsed(text);
    EXPECT_EQ(parsed.CSeqNumber, "12");
    EXPECT_EQ(parsed.CSeqMethod, "ACK");
    EXPECT_EQ(parsed.ToTag, "srvtag1");
    EXPECT_EQ(parsed.FromTag, "A1B2C3D4E");
}

// A record-routing proxy passes the ACK of a 2xx on only along the route set.
TEST_F(DialogComposer, AckForTwoHundredFollowsTheRouteSet) {
    AnswerTestCall(*Call, "srvtag1", "", {"<sip:192.0.2.10;lr>", "<sip:192.0.2.11;lr>"});
    const std::string text = ComposeAckWithCredentials(*Call, kOkToInvite);
    EXPECT_NE(text.find("Call-ID: FEDCBA9876543210FEDCBA9876543210\r\n"
                        "Route: <sip:192.0.2.10;lr>\r\nRoute: <sip:192.0.2.11;lr>\r\n"
                        "Contact: "),
              std::string::npos)
        << text;
}

// The ACK of a failure repeats the INVITE it answers (RFC 3261 17.1.1.3):
// its Request-URI, never the Contact the refusal names; its one Via; its
// Route lines; the To of the refusal with its tag.
const std::string kBusyFromAnotherNode =
    "SIP/2.0 486 Busy Here\r\n"
    "Via: SIP/2.0/UDP 192.168.1.20:5075;rport=5075;branch=z9hG4bK99887766AA\r\n"
    "Via: SIP/2.0/UDP 10.0.0.1:5060;branch=z9hG4bKproxy\r\n"
    "From: \"Linea 1\" <sip:1001@sip.telvira.example>;tag=A1B2C3D4E\r\n"
    "To: <sip:2001@sip.telvira.example:5060>;tag=busy9\r\n"
    "Call-ID: FEDCBA9876543210FEDCBA9876543210\r\n"
    "CSeq: 12 INVITE\r\n"
    "Contact: <sip:2001@198.51.100.77:5088>\r\n"
    "Content-Length: 0\r\n"
    "\r\n";

TEST_F(DialogComposer, FailureAckRepeatsTheInviteItAnswers) {
    const std::string invite =
        "INVITE sip:2001@198.51.100.5:5060;transport=udp SIP/2.0\r\n"
        "From: \"Linea 1\" <sip:1001@sip.telvira.example>;tag=A1B2C3D4E\r\n"
        "To: <sip:2001@sip.telvira.example>;tag=srvtag1\r\n"
        "Via: SIP/2.0/UDP 192.168.1.20:5075;rport;branch=z9hG4bK99887766AA\r\n"
        "Route: <sip:192.0.2.10;lr>\r\n"
        "Route: <sip:192.0.2.11;lr>\r\n"
        "CSeq: 12 INVITE\r\n"
        "Call-ID: FEDCBA9876543210FEDCBA9876543210\r\n" + kAllow +
        "Contact: <sip:1001@192.168.1.20:5075>\r\n"
        "Max-Forwards: 70\r\n" + kSdpHeaders + "v=0\r\nRoute: <sip:body.example>\r\n";
    const std::string expected =
        "ACK sip:2001@198.51.100.5:5060;transport=udp SIP/2.0\r\n"
        "Via: SIP/2.0/UDP 192.168.1.20:5075;rport;branch=z9hG4bK99887766AA\r\n"
        "Route: <sip:192.0.2.10;lr>\r\n"
        "Route: <sip:192.0.2.11;lr>\r\n"
        "Max-Forwards: 70\r\n"
        "From: \"Linea 1\" <sip:1001@sip.telvira.example>;tag=A1B2C3D4E\r\n"
        "To: <sip:2001@sip.telvira.example:5060>;tag=busy9\r\n"
        "Call-ID: FEDCBA9876543210FEDCBA9876543210\r\n"
        "CSeq: 12 ACK\r\n"
        "Content-Length: 0\r\n"
        "\r\n";
    EXPECT_EQ(ComposeAckForFailure(invite, TSipMessage(kBusyFromAnotherNode)), expected);
}

// Without its INVITE (long forgotten), the ACK is built from the refusal:
// the To URI, which the first INVITE of a call is sent to, port included,
// never the refusal's Contact; one Via, the top one.
TEST_F(DialogComposer, FailureAckWithoutItsInviteGoesToTheToUri) {
    const std::string expected =
        "ACK sip:2001@sip.telvira.example:5060 SIP/2.0\r\n"
        "Via: SIP/2.0/UDP 192.168.1.20:5075;rport=5075;branch=z9hG4bK99887766AA\r\n"
        "Max-Forwards: 70\r\n"
        "From: \"Linea 1\" <sip:1001@sip.telvira.example>;tag=A1B2C3D4E\r\n"
        "To: <sip:2001@sip.telvira.example:5060>;tag=busy9\r\n"
        "Call-ID: FEDCBA9876543210FEDCBA9876543210\r\n"
        "CSeq: 12 ACK\r\n"
        "Content-Length: 0\r\n"
        "\r\n";
    EXPECT_EQ(ComposeAck(TSipMessage(kBusyFromAnotherNode)), expected);
}

// --- BYE, CANCEL -------------------------------------------------------------

TEST_F(DialogComposer, ByeGoldenWithRouteSet) {
    Connect({"<sip:192.0.2.10;lr>", "<sip:192.0.2.11;lr>"});
    Call->Branch = "z9hG4bKBYEBYEBYE1";
    CountCSeqTo(*Call, 13);
    const std::string expected =
        "BYE sip:2001@198.51.100.5:5060 SIP/2.0\r\n"
        "Via: SIP/2.0/UDP 192.168.1.20:5075;rport;branch=z9hG4bKBYEBYEBYE1\r\n"
        "Route: <sip:192.0.2.10;lr>\r\n"
        "Route: <sip:192.0.2.11;lr>\r\n"
        "To: <sip:2001@sip.telvira.example>;tag=srvtag1\r\n"
        "From: <sip:1001@sip.telvira.example>;tag=A1B2C3D4E\r\n"
        "Call-ID: FEDCBA9876543210FEDCBA9876543210\r\n"
        "Max-Forwards: 70\r\n"
        "CSeq: 13 BYE\r\n"
        "Content-Length: 0\r\n"
        "\r\n";
    const std::string text = ComposeBye(*Call);
    EXPECT_EQ(text, expected);
    const TSipMessage parsed(text);
    EXPECT_EQ(parsed.CSeqNumber, "13");
    EXPECT_EQ(parsed.CSeqMethod, "BYE");
    EXPECT_EQ(parsed.ToTag, "srvtag1");
}

// A BYE with no Request-URI is no request at all: a peer that gave no
// Contact is reached at its URI, as the re-INVITE is.
TEST_F(DialogComposer, ByeWithoutPeerContactGoesToTheRemoteUri) {
    Connect({}, "");
    EXPECT_EQ(ComposeBye(*Call).rfind("BYE sip:2001@sip.telvira.example SIP/2.0\r\n", 0), 0u);
}

TEST_F(DialogComposer, CancelGoldenNeverChallenged) {
    // The INVITE's own Via line, as the INVITE carried it.
    const std::string expected =
        "CANCEL sip:2001@sip.telvira.example SIP/2.0\r\n"
        "Via: SIP/2.0/UDP 192.168.1.20:5075;rport;branch=z9hG4bK99887766AA\r\n"
        "From: \"Linea 1\" <sip:1001@sip.telvira.example>;tag=A1B2C3D4E\r\n"
        "To: <sip:2001@sip.telvira.example>\r\n"
        "Call-ID: FEDCBA9876543210FEDCBA9876543210\r\n"
        "CSeq: 12 CANCEL\r\n"
        "Max-Forwards: 70\r\n"
        "Content-Length: 0\r\n"
        "\r\n";
    const std::string text = ComposeCancel(*Call);
    EXPECT_EQ(text, expected);
    const TSipMessage parsed(text);
    EXPECT_EQ(parsed.CSeqMethod, "CANCEL");
    EXPECT_EQ(parsed.ViaHost, "192.168.1.20");
}

TEST_F(DialogComposer, CancelReusesTheViaLinesTheCallTookOver) {
    Call->ViaHeaders = "Via: SIP/2.0/UDP 192.168.1.20:5075;rport=5075;branch=z9hG4bK99887766AA\r\n";
    Challenge("407", "auth", "");
    const std::string text = ComposeCancel(*Call);
    EXPECT_NE(text.find("SIP/2.0\r\n" + Call->ViaHeaders + "From: "), std::string::npos);
    EXPECT_NE(text.find(",qop=auth,cnonce=\"" + Call->DigestUse.cnonce + "\",nc=00000001,algorithm=MD5\r\n"),
              std::string::npos);
    EXPECT_EQ(Call->Opaque, "");
}

// --- REFER -------------------------------------------------------------------

TEST_F(DialogComposer, ReferGolden) {
    Connect();
    Call->ViaHeaders = "Via: SIP/2.0/UDP 192.168.1.20:5075;rport=5075;branch=z9hG4bK99887766AA\r\n";
    CountCSeqTo(*Call, 14);
    const std::string head =
        "REFER sip:2001@198.51.100.5:5060 SIP/2.0\r\n"
        "Via: SIP/2.0/UDP 192.168.1.20:5075;rport;branch=z9hG4bK99887766AA\r\n"
        "Route: <sip:192.0.2.10;lr>\r\n"
        "From: <sip:1001@sip.telvira.example>;tag=A1B2C3D4E\r\n"
        "To: <sip:2001@sip.telvira.example>;tag=srvtag1\r\n"
        "Call-ID: FEDCBA9876543210FEDCBA9876543210\r\n";
    const std::string tail =
        "Refer-To: <sip:3003@sip.telvira.example>\r\n"
        "Referred-By: <sip:1001@sip.telvira.example>\r\n"
        "Contact: <sip:1001@192.168.1.20:5075>\r\n"
        "CSeq: 14 REFER\r\n"
        "Content-Length: 0\r\n"
        "\r\n";
    const std::string text = ComposeRefer(*Call, "3003");
    EXPECT_EQ(text, head + tail);
    const TSipMessage parsed(text);
    EXPECT_EQ(parsed.CSeqNumber, "14");
    EXPECT_EQ(parsed.CSeqMethod, "REFER");

    // Retried after a 403 with qop auth and no opaque: "Authorization", the
    // stored refer target, and the request URI as digest uri:
    // md5(HA1 ":rn:00000001:cn:auth:" md5("REFER:sip:2001@198.51.100.5:5060")) by md5sum.
    Call->AuthStatus = "403";
    Call->Realm = "telvira";
    Call->Nonce = "rn";
    Call->Qop = "auth";
    Call->ReferTarget = "3003";
    Call->DigestUse = {"rn", "cn", 0};
    const std::string credentials =
        "Authorization: Digest username=\"1001\",realm=\"telvira\",nonce=\"rn\","
        "uri=\"sip:2001@198.51.100.5:5060\",response=\"909932c7b9070970392337ed61c7fa2e\","
        "qop=auth,cnonce=\"cn\",nc=00000001,algorithm=MD5\r\n";
    EXPECT_EQ(ComposeReferWithCredentials(*Call), head + credentials + tail);
}

TEST_F(DialogComposer, ReferTargetWithAnAtSignNamesItsOwnHost) {
    Connect();
    EXPECT_NE(ComposeRefer(*Call, "3003@elsewhere").find("Refer-To: <sip:3003@elsewhere>\r\n"),
              std::string::npos);
}

// On an incoming call the call keeps the caller's Via lines; the REFER is
// our own request and must not send them back.
TEST_F(DialogComposer, ReferNeverCarriesTheViaLinesOfTheCall) {
    Connect();
    Call->ViaHeaders = "Via: SIP/2.0/UDP 10.9.9.9:5060;branch=z9hG4bKcaller\r\n";
    Call->Branch = "z9hG4bKREFER00001";
    const std::string text = ComposeRefer(*Call, "3003");
    EXPECT_EQ(TSipMessage(text).ViaHeaders,
              "Via: SIP/2.0/UDP 192.168.1.20:5075;rport;branch=z9hG4bKREFER00001\r\n");
}

// A second 2xx from another fork: ACK and BYE go to that fork, along its
// own route set, never to the dialog the call keeps.
TEST_F(DialogComposer, AckAndByeForAnotherFork) {
    Connect();
    const TSipMessage fork(
        "SIP/2.0 200 OK\r\n"
        "Via: SIP/2.0/UDP 192.168.1.20:5075;rport=5075;branch=z9hG4bK99887766AA\r\n"
        "Record-Route: <sip:192.0.2.10;lr>, <sip:192.0.2.11;lr>\r\n"
        "From: \"Linea 1\" <sip:1001@sip.telvira.example>;tag=A1B2C3D4E\r\n"
        "To: <sip:2001@sip.telvira.example>;tag=fork2\r\n"
        "Call-ID: FEDCBA9876543210FEDCBA9876543210\r\n"
        "CSeq: 12 INVITE\r\n"
        "Contact: <sip:2001@198.51.100.9:5062>\r\n\r\n");
    const TSipMessage ack(ComposeAckForFork(*Call, fork));
    const TSipMessage bye(ComposeByeForFork(*Call, fork, 13));
    EXPECT_EQ(ack.RawText.rfind("ACK sip:2001@198.51.100.9:5062 SIP/2.0\r\n", 0), 0u);
    EXPECT_EQ(bye.RawText.rfind("BYE sip:2001@198.51.100.9:5062 SIP/2.0\r\n", 0), 0u);
    for (const TSipMessage* request : {&ack, &bye}) {
        EXPECT_EQ(request->ToTag, "fork2");
        EXPECT_EQ(request->FromTag, "A1B2C3D4E");
        EXPECT_EQ(request->ViaHeaders.find("z9hG4bK99887766AA"), std::string::npos);
        EXPECT_NE(request->RawText.find("Route: <sip:192.0.2.11;lr>\r\nRoute: <sip:192.0.2.10;lr>\r\n"),
                  std::string::npos);
    }
    EXPECT_EQ(ack.CSeqNumber, "12");
    EXPECT_EQ(bye.CSeqNumber, "13");
    EXPECT_EQ(bye.CSeqMethod, "BYE");
}

// --- NOTIFY of a transfer ----------------------------------------------------

TEST_F(DialogComposer, ReferNotifyGolden) {
    Connect();
    Call->Branch = "z9hG4bKNOTIFY0001";
    CountCSeqTo(*Call, 16);
    const std::string head =
        "NOTIFY sip:2001@198.51.100.5:5060 SIP/2.0\r\n"
        "Via: SIP/2.0/UDP 192.168.1.20:5075;rport;branch=z9hG4bKNOTIFY0001\r\n"
        "Route: <sip:192.0.2.10;lr>\r\n"
        "From: <sip:1001@sip.telvira.example>;tag=A1B2C3D4E\r\n"
        "To: <sip:2001@sip.telvira.example>;tag=srvtag1\r\n"
        "Call-ID: FEDCBA9876543210FEDCBA9876543210\r\n"
        "CSeq: 16 NOTIFY\r\n"
        "Contact: <sip:1001@192.168.1.20:5075>\r\n"
        "Max-Forwards: 70\r\n"
        "Event: refer\r\n";
    EXPECT_EQ(ComposeReferNotify(*Call, "SIP/2.0 100 Trying", false),
              head + "Subscription-State: active;expires=60\r\n"
                     "Content-Type: message/sipfrag;version=2.0\r\n"
                     "Content-Length: 20\r\n\r\nSIP/2.0 100 Trying\r\n");
    const TSipMessage last(ComposeReferNotify(*Call, "SIP/2.0 486 Busy Here", true));
    EXPECT_NE(last.RawText.find("Subscription-State: terminated;reason=noresource\r\n"), std::string::npos);
    EXPECT_EQ(last.Body, "SIP/2.0 486 Busy Here\r\n");
    EXPECT_EQ(last.CSeqMethod, "NOTIFY");
}

// --- INFO --------------------------------------------------------------------

TEST_F(DialogComposer, InfoGoldenWithItsOwnBranch) {
    Connect();
    CountCSeqTo(*Call, 15);
    const std::string text = ComposeInfo(*Call, '5');
    const std::string branch = ValueAfter(text, ";branch=");
    ASSERT_EQ(branch.rfind("z9hG4bK", 0), 0u);
    ASSERT_TRUE(IsHexText(branch.substr(7), 10, "0123456789ABCDEF"));
    EXPECT_NE(branch, Call->Branch);
    const std::string body = "Signal= 5\r\nDuration= 160\r\n";
    ASSERT_EQ(body.size(), 26u);
    const std::string expected =
        "INFO sip:2001@198.51.100.5:5060 SIP/2.0\r\n"
        "Via: SIP/2.0/UDP 192.168.1.20:5075;branch=" + branch + "\r\n"
        "Route: <sip:192.0.2.10;lr>\r\n"
        "From: \"Linea 1\" <sip:1001@sip.telvira.example>;tag=A1B2C3D4E\r\n"
        "To: <sip:2001@sip.telvira.example>;tag=srvtag1\r\n"
        "Call-ID: FEDCBA9876543210FEDCBA9876543210\r\n"
        "CSeq: 15 INFO\r\n"
        "Max-Forwards: 70\r\n"
        "Contact: <sip:1001@192.168.1.20:5075>\r\n"
        "Content-Type: application/dtmf-relay\r\n"
        "Content-Length: 26\r\n"
        "\r\n" + body;
    EXPECT_EQ(text, expected);
    const TSipMessage parsed(text);
    EXPECT_EQ(parsed.DtmfSignal, "5");
    EXPECT_EQ(parsed.Body, body);
    EXPECT_EQ(parsed.CSeqMethod, "INFO");
    EXPECT_EQ(parsed.ViaRport, "");
}

}  // namespace
