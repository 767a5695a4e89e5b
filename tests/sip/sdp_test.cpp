#include <gtest/gtest.h>

#include "sip/sdp.h"
#include "tests/sip/fake_call.h"

namespace {

class Sdp : public ::testing::Test {
protected:
    std::shared_ptr<TAccount> Account = MakeTestAccount();
    std::shared_ptr<TFakeCall> Call = MakeTestCall(Account);
};

std::string LineStarting(const std::string& text, const std::string& prefix) {
    const auto at = text.find("\r\n" + prefix);
    if (at == std::string::npos) return "(none)";
    return text.substr(at + 2, text.find("\r\n", at + 2) - at - 2);
}

TEST_F(Sdp, OfferListsTheCodecsThenTelephoneEvents) {
    EXPECT_EQ(LineStarting(BuildSdpOffer(*Call, "0 8 3 110"), "m="),
              "m=audio 22000 RTP/AVP 0 8 3 110 101");
    EXPECT_EQ(LineStarting(BuildSdpOffer(*Call, ""), "m="), "m=audio 22000 RTP/AVP  101");
}

TEST_F(Sdp, OnlyTelephoneEventsGetAttributes) {
    const std::string offer = BuildSdpOffer(*Call, "0 8 3 110");
    EXPECT_EQ(offer.find("a=rtpmap:0"), std::string::npos);
    EXPECT_EQ(offer.find("a=rtpmap:110"), std::string::npos);
    EXPECT_EQ(LineStarting(offer, "a=fmtp:"), "a=fmtp:101 0-15");
    EXPECT_EQ(offer.substr(offer.size() - 12), "a=sendrecv\r\n");
}

TEST_F(Sdp, HoldOffersNoAddressButKeepsTheOrigin) {
    Call->Direction = "sendonly";
    Call->SdpSessionId = 1234;
    Call->SdpVersion = 3;
    const std::string offer = BuildSdpOffer(*Call, "0");
    EXPECT_EQ(LineStarting(offer, "c="), "c=IN IP4 0.0.0.0");
    EXPECT_EQ(LineStarting(offer, "o="), "o=- 1234 3 IN IP4 192.168.1.20");
    EXPECT_EQ(LineStarting(offer, "a=s"), "a=sendonly");
}

TEST_F(Sdp, OnlyExactSendonlyHidesTheAddress) {
    Call->Direction = "SENDONLY";
    EXPECT_EQ(LineStarting(BuildSdpOffer(*Call, "0"), "c="), "c=IN IP4 192.168.1.20");
}

TEST_F(Sdp, PublicAddressIsTheContactHostOfBothBodies) {
    Account->SetPublicAddress("203.0.113.7");
    Call->Codec = std::make_shared<TFakeCodec>(0);
    for (const auto& body : {BuildSdpOffer(*Call, "0"), BuildSdpAnswer(*Call)}) {
        EXPECT_EQ(LineStarting(body, "c="), "c=IN IP4 203.0.113.7");
        EXPECT_EQ(LineStarting(body, "o="), "o=- 4321 0 IN IP4 203.0.113.7");
    }
}

TEST_F(Sdp, AnswerNamesOnlyTheChosenCodecAndIsAlwaysSendrecv) {
    Call->Codec = std::make_shared<TFakeCodec>(8);
    Call->Direction = "sendonly";
    const std::string answer = BuildSdpAnswer(*Call);
    EXPECT_EQ(LineStarting(answer, "m="), "m=audio 22000 RTP/AVP 8 101");
    EXPECT_EQ(LineStarting(answer, "a=fmtp:"), "a=fmtp:101 0-16");
    EXPECT_EQ(LineStarting(answer, "c="), "c=IN IP4 192.168.1.20");
    EXPECT_EQ(answer.find("a=ptime"), std::string::npos);
    EXPECT_EQ(answer.substr(answer.size() - 12), "a=sendrecv\r\n");
}

TEST_F(Sdp, AnswerWithoutCodecLeavesTheNumberEmpty) {
    EXPECT_EQ(LineStarting(BuildSdpAnswer(*Call), "m="), "m=audio 22000 RTP/AVP  101");
}

}  // namespace
