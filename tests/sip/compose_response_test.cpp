#include <gtest/gtest.h>

#include "sip/compose_response.h"
#include "sip/message.h"
#include "tests/sip/fake_call.h"

namespace {

const std::string kAllow =
    "Allow: INVITE, ACK, CANCEL, OPTIONS, BYE, REFER, NOTIFY, INFO, MESSAGE\r\n";
const std::string kVias =
    "Via: SIP/2.0/UDP 192.0.2.10:5060;branch=z9hG4bKsrv1\r\n"
    "Via: SIP/2.0/UDP 198.51.100.5:5060;rport;branch=z9hG4bKphone\r\n";
const std::string kFrom = "From: \"Juan\" <sip:2001@sip.telvira.example>;tag=caller7";
const std::string kTo = "To: <sip:1001@sip.telvira.example>";
const std::string kRecordRoute = "Record-Route: <sip:192.0.2.10;lr>\r\n";

std::string Request(const std::string& method, int cseq) {
    return method + " sip:1001@192.168.1.20:5075 SIP/2.0\r\n" + kVias + kRecordRoute + kFrom +
           "\r\n" + kTo + "\r\n"
           "Call-ID: abc-incoming@198.51.100.5\r\n"
           "CSeq: " + std::to_string(cseq) + " " + method + "\r\n"
           "Contact: <sip:2001@198.51.100.5:5060>\r\n"
           "Content-Length: 0\r\n"
           "\r\n";
}

// --- built from the request alone --------------------------------------------

TEST(RequestResponse, GenericPutsToBeforeFromAndAddsNoTag) {
    const TSipMessage invite(Request("INVITE", 101));
    const std::string expected = "SIP/2.0 180 Ringing\r\n" + kVias + kTo + "\r\n" + kFrom +
                                 "\r\n" + kRecordRoute +
                                 "Call-ID: abc-incoming@198.51.100.5\r\n"
                                 "CSeq: 101 INVITE\r\n"
                                 "Content-Length: 0\r\n"
                                 "\r\n";
    const std::string text = ComposeResponse(invite, "180 Ringing");
    EXPECT_EQ(text, expected);

    const TSipMessage parsed(text);
    EXPECT_EQ(parsed.StatusCode, "180");
    EXPECT_EQ(parsed.CallId, "abc-incoming@198.51.100.5");
    EXPECT_EQ(parsed.CSeqNumber, "101");
    EXPECT_EQ(parsed.CSeqMethod, "INVITE");
    EXPECT_EQ(parsed.FromTag, "caller7");
    EXPECT_EQ(parsed.ToTag, "");
    EXPECT_EQ(parsed.ViaHeaders, kVias);
    EXPECT_EQ(parsed.Body, "");
}

// Responses that start or answer a dialog carry our tag; an in-dialog
// request already names it and keeps its own.
TEST(RequestResponse, WithTagAddsOursOnlyWhenToHasNone) {
    const TSipMessage invite(Request("INVITE", 101));
    const std::string text = ComposeResponseWithTag(invite, "183 Session Progress", "ourtag1");
    EXPECT_EQ(text, "SIP/2.0 183 Session Progress\r\n" + kVias + kTo + ";tag=ourtag1\r\n" + kFrom +
                        "\r\n" + kRecordRoute +
                        "Call-ID: abc-incoming@198.51.100.5\r\nCSeq: 101 INVITE\r\n"
                        "Content-Length: 0\r\n\r\n");
    EXPECT_EQ(TSipMessage(text).ToTag, "ourtag1");

    std::string inDialog = Request("NOTIFY", 5);
    inDialog.replace(inDialog.find(kTo), kTo.size(), kTo + ";tag=theirs");
    EXPECT_EQ(TSipMessage(ComposeResponseWithTag(TSipMessage(inDialog), "481 Call/Transaction Does Not Exist",
                                                 "ourtag1")).ToTag,
              "theirs");
}

TEST(RequestResponse, OkPutsFromBeforeTo) {
    const TSipMessage bye(Request("BYE", 102));
    const std::string expected = "SIP/2.0 200 OK\r\n" + kVias + kFrom + "\r\n" + kTo + "\r\n" +
                                 kRecordRoute +
                                 "Call-ID: abc-incoming@198.51.100.5\r\n"
                                 "CSeq: 102 BYE\r\n"
                                 "Content-Length: 0\r\n"
                                 "\r\n";
    EXPECT_EQ(ComposeOk(bye), expected);
}

TEST(RequestResponse, OptionsAnswerGolden) {
    const TSipMessage options(Request("OPTIONS", 7));
    const std::string expected = "SIP/2.0 200 OK\r\n" + kVias + kTo + ";tag=opt1\r\n" + kFrom +
                                 "\r\n" + kRecordRoute +
                                 "CSeq: 7 OPTIONS\r\n"
                                 "Accept: application/sdp\r\n" + kAllow +
                                 "Call-ID: abc-incoming@198.51.100.5\r\n"
                                 "Content-Length: 0\r\n"
                                 "\r\n";
    const std::string text = ComposeOptionsOk(options, "opt1");
    EXPECT_EQ(text, expected);
    const TSipMessage parsed(text);
    EXPECT_EQ(parsed.CSeqMethod, "OPTIONS");
    EXPECT_EQ(parsed.CallId, "abc-incoming@198.51.100.5");
}

TEST(RequestResponse, NotAcceptableHasNoRecordRoute) {
    const TSipMessage invite(Request("INVITE", 101));
    const std::string expected = "SIP/2.0 488 Not Acceptable Here\r\n" + kVias + kFrom + "\r\n" +
                                 kTo + ";tag=na1\r\n"
                                 "Call-ID: abc-incoming@198.51.100.5\r\n"
                                 "CSeq: 101 INVITE\r\n"
                                 "Content-Length: 0\r\n"
                                 "\r\n";
    EXPECT_EQ(ComposeNotAcceptable(invite, "na1"), expected);
}

// A refusal of a broken request echoes only the headers it has (a missing
// one must not leave an empty line that ends the head early), To with one
// tag of ours.
TEST(RequestResponse, RefusalEchoesOnlyWhatTheRequestHas) {
    const std::string noFromNoCallId = "INVITE sip:1001@192.168.1.20 SIP/2.0\r\n" + kVias + kTo +
                                       "\r\nCSeq: 3 INVITE\r\n\r\n";
    EXPECT_EQ(ComposeRefusal(TSipMessage(noFromNoCallId), "400 Bad Request", "rf1"),
              "SIP/2.0 400 Bad Request\r\n" + kVias + kTo + ";tag=rf1\r\nCSeq: 3 INVITE\r\n"
              "Content-Length: 0\r\n\r\n");
    const std::string tagged = "INFO sip:1001@192.168.1.20 SIP/2.0\r\n" + kVias + kFrom + "\r\n" + kTo +
                               ";tag=ours\r\nCall-ID: x\r\nCSeq: 4 INFO\r\n\r\n";
    EXPECT_EQ(ComposeRefusal(TSipMessage(tagged), "415 Unsupported Media Type", "rf2",
                             "Accept: application/sdp\r\n"),
              "SIP/2.0 415 Unsupported Media Type\r\n" + kVias + kTo + ";tag=ours\r\n" + kFrom +
              "\r\nCall-ID: x\r\nCSeq: 4 INFO\r\nAccept: application/sdp\r\nContent-Length: 0\r\n\r\n");
}

TEST(RequestResponse, RequestWithoutRecordRouteGivesNoLine) {
    const TSipMessage invite("INVITE sip:1001@192.168.1.20 SIP/2.0\r\n" + kVias + kFrom + "\r\n" +
                             kTo + "\r\nCall-ID: x\r\nCSeq: 1 INVITE\r\n\r\n");
    EXPECT_EQ(ComposeResponse(invite, "100 Trying").find("Record-Route"), std::string::npos);
}

// --- responses to the INVITE a call received ----------------------------------

class CallResponse : public ::testing::Test {
protected:
    std::shared_ptr<TAccount> Account = MakeTestAccount();
    std::shared_ptr<TFakeCall> Call = IncomingCall();

    std::shared_ptr<TFakeCall> IncomingCall() {
        auto call = std::make_shared<TFakeCall>("abc-incoming@198.51.100.5");
        call->Account = Account;
        call->Branch = "z9hG4bK99887766AA";
        call->Target = "2001";
        call->SdpSessionId = 4321;
        call->LocalRtpPort = 22000;
        call->Dialog().StartIncoming(
            TSipMessage("INVITE sip:1001@192.168.1.20 SIP/2.0\r\n" + kVias + kFrom + "\r\n" + kTo +
                        "\r\nCall-ID: abc-incoming@198.51.100.5\r\n" + kRecordRoute +
                        "CSeq: 101 INVITE\r\nContent-Length: 0\r\n\r\n"),
            1);
        call->ViaHeaders = kVias;
        call->FromHeader = kFrom;
        call->ToHeader = kTo;
        call->Codec = std::make_shared<TFakeCodec>(8);
        return call;
    }
};

const std::string kCallIds =
    "To: <sip:1001@sip.telvira.example>;tag=A1B2C3D4E\r\n"
    "From: <sip:2001@sip.telvira.example>;tag=caller7\r\n" + kRecordRoute +
    "Call-ID: abc-incoming@198.51.100.5\r\n"
    "CSeq: 101 INVITE\r\n";

TEST_F(CallResponse, StatusFromTheCallGolden) {
    const std::string text = ComposeCallResponse(*Call, "486 Busy here");
    EXPECT_EQ(text, "SIP/2.0 486 Busy here\r\n" + kVias + kCallIds + "Content-Length: 0\r\n\r\n");
    const TSipMessage parsed(text);
    EXPECT_EQ(parsed.StatusCode, "486");
    EXPECT_EQ(parsed.ToTag, "A1B2C3D4E");
    EXPECT_EQ(parsed.FromTag, "caller7");
    EXPECT_EQ(parsed.CSeqNumber, "101");
}

TEST_F(CallResponse, OkWithAnswerGolden) {
    const std::string answer =
        "v=0\r\n"
        "o=- 4321 0 IN IP4 192.168.1.20\r\n"
        "s=Quillon SIP component\r\n"
        "c=IN IP4 192.168.1.20\r\n"
        "t=0 0\r\n"
        "m=audio 22000 RTP/AVP 8 101\r\n"
        "a=rtpmap:101 telephone-event/8000\r\n"
        "a=fmtp:101 0-16\r\n"
        "a=sendrecv\r\n";
    const std::string expected =
        "SIP/2.0 200 OK\r\n" + kVias + kTo + ";tag=A1B2C3D4E\r\n" + kFrom + "\r\n" +
        kRecordRoute +
        "Call-ID: abc-incoming@198.51.100.5\r\n"
        "CSeq: 101 INVITE\r\n"
        "Contact: <sip:1001@192.168.1.20:5075>\r\n" + kAllow +
        "Content-Type: application/sdp\r\n"
        "Content-Length: 185\r\n"
        "\r\n" + answer;
    const std::string text = ComposeOkWithAnswer(*Call);
    EXPECT_EQ(text, expected);
    const TSipMessage parsed(text);
    EXPECT_EQ(parsed.StatusCode, "200");
    EXPECT_EQ(parsed.ToTag, "A1B2C3D4E");
    EXPECT_EQ(parsed.FromTag, "caller7");
    EXPECT_EQ(parsed.ViaHeaders, kVias);
    EXPECT_EQ(parsed.Body, answer);
    EXPECT_EQ(parsed.PayloadTypes, std::vector<int>{8});
}

// A re-INVITE without an offer: our 200 carries the offer, the peer's ACK
// the answer; an offer with a direction gets its answer direction.
TEST_F(CallResponse, OkWithOfferOrDirectedAnswer) {
    Call->Direction = "sendrecv";
    const std::string offer = ComposeOkWithOffer(*Call, "0 8");
    const TSipMessage parsed(offer);
    EXPECT_EQ(parsed.StatusCode, "200");
    EXPECT_EQ(parsed.ToTag, "A1B2C3D4E");
    EXPECT_EQ(parsed.PayloadTypes, (std::vector<int>{0, 8, 13}));
    EXPECT_NE(parsed.Body.find("a=ptime:20\r\na=sendrecv\r\n"), std::string::npos);

    const std::string answer = ComposeOkWithAnswer(*Call, "recvonly");
    EXPECT_EQ(answer.substr(answer.size() - 12), "a=recvonly\r\n");
}

TEST_F(CallResponse, RedirectGolden) {
    const std::string text = ComposeRedirect(*Call, "3003");
    EXPECT_EQ(text, "SIP/2.0 302 Moved Temporarily\r\n" + kVias + kCallIds +
                        "Contact: <sip:3003@sip.telvira.example>\r\n" + kAllow +
                        "Content-Length: 0\r\n\r\n");
    const TSipMessage parsed(text);
    EXPECT_EQ(parsed.StatusCode, "302");
    EXPECT_EQ(parsed.Contact, "sip:3003@sip.telvira.example");
}

}  // namespace
