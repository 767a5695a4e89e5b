#include <gtest/gtest.h>

#include "sip/compose_register.h"
#include "sip/message.h"
#include "tests/sip/fake_call.h"

namespace {

constexpr const char* kAllow =
    "Allow: INVITE, ACK, CANCEL, OPTIONS, BYE, REFER, NOTIFY, INFO, MESSAGE\r\n";

class RegisterComposer : public ::testing::Test {
protected:
    std::shared_ptr<TAccount> Account = MakeTestAccount();

    void SetChallenge(const char* status, const char* qop, const char* opaque) {
        Account->SetAuthStatus(status);
        Account->SetRealm("telvira");
        Account->SetNonce("nonceXYZ");
        Account->SetQop(qop);
        Account->SetOpaque(opaque);
    }
};

const std::string kHead =
    "REGISTER sip:sip.telvira.example SIP/2.0\r\n"
    "Via: SIP/2.0/UDP 192.168.1.20:5075;rport;branch=z9hG4bK0A1B2C3D4E\r\n"
    "From: \"Linea 1\" <sip:1001@sip.telvira.example>;tag=5F6E7D8C9\r\n"
    "To: \"Linea 1\" <sip:1001@sip.telvira.example>\r\n"
    "Call-ID: 0123456789ABCDEF0123456789ABCDEF\r\n";

TEST_F(RegisterComposer, RegisterGolden) {
    const std::string expected = kHead +
        "CSeq: 7 REGISTER\r\n"
        "Contact: <sip:1001@192.168.1.20:5075>;expires=3000;q=0.90\r\n"
        "User-Agent: Telvira Softphone 1.164\r\n" + kAllow +
        "Max-Forwards: 70\r\n"
        "Expires: 3000\r\n"
        "Content-Length: 0\r\n"
        "\r\n";
    EXPECT_EQ(ComposeRegister(*Account), expected);
}

TEST_F(RegisterComposer, RegisterWithCredentialsGoldenAndDigest) {
    SetChallenge("401", "auth", "op123");
    Account->SetDigestUse({"nonceXYZ", "op123", 0});
    // HA1 = md5("1001:telvira:secret"), HA2 = md5("REGISTER:sip:sip.telvira.example"),
    // response = md5(HA1 ":nonceXYZ:00000001:op123:auth:" HA2), worked out with md5sum.
    const std::string expected = kHead +
        "User-Agent: Telvira Softphone 1.164\r\n"
        "CSeq: 7 REGISTER\r\n"
        "Contact: <sip:1001@192.168.1.20:5075>;expires=3000;q=0.90\r\n"
        "Authorization: Digest username=\"1001\",realm=\"telvira\",nonce=\"nonceXYZ\","
        "uri=\"sip:sip.telvira.example\",response=\"03f9916da6c9c0a495544d46a70f7747\","
        "qop=auth,cnonce=\"op123\",nc=00000001,opaque=\"op123\",algorithm=MD5\r\n" + kAllow +
        "Max-Forwards: 70\r\n"
        "Expires: 3000\r\n"
        "Content-Length: 0\r\n"
        "\r\n";
    EXPECT_EQ(ComposeRegisterWithCredentials(*Account), expected);
    EXPECT_EQ(Account->GetOpaque(), "op123");
    EXPECT_EQ(Account->GetDigestUse().count, 1u);
}

// Refreshes answer the same nonce again: one cnonce, a growing count, and no
// opaque the server never sent.
TEST_F(RegisterComposer, RefreshesCountUsesOfTheNonce) {
    SetChallenge("407", "auth", "");
    const std::string first = ComposeRegisterWithCredentials(*Account);
    const std::string cnonce = Account->GetDigestUse().cnonce;
    ASSERT_TRUE(IsHexText(cnonce, 32, "0123456789abcdef"));
    EXPECT_NE(first.find("Proxy-Authorization: Digest username=\"1001\""), std::string::npos);
    EXPECT_NE(first.find(",qop=auth,cnonce=\"" + cnonce + "\",nc=00000001,algorithm=MD5\r\n"),
              std::string::npos);

    const std::string second = ComposeRegisterWithCredentials(*Account);
    EXPECT_NE(second.find(",qop=auth,cnonce=\"" + cnonce + "\",nc=00000002,algorithm=MD5\r\n"),
              std::string::npos);
    const std::string unregister = ComposeUnregisterWithCredentials(*Account);
    EXPECT_NE(unregister.find(",cnonce=\"" + cnonce + "\",nc=00000003,"), std::string::npos);
    EXPECT_EQ(Account->GetOpaque(), "");
    EXPECT_EQ((first + second + unregister).find("opaque="), std::string::npos);
}

TEST_F(RegisterComposer, WithoutQopTheTwoPartDigest) {
    SetChallenge("401", "", "");
    // md5(HA1 ":nonceXYZ:" HA2) by md5sum.
    const std::string text = ComposeRegisterWithCredentials(*Account);
    EXPECT_NE(text.find(",response=\"a3df31ec6758ddfc4ead7ca97ae0b511\",algorithm=MD5\r\n"),
              std::string::npos);
    EXPECT_EQ(Account->GetDigestUse().count, 0u);
}

TEST_F(RegisterComposer, UnregisterGolden) {
    const std::string expected = kHead +
        "CSeq: 7 REGISTER\r\n"
        "Contact: *\r\n" + kAllow +
        "Max-Forwards: 70\r\n"
        "Expires: 0\r\n"
        "Content-Length: 0\r\n"
        "\r\n";
    EXPECT_EQ(ComposeUnregister(*Account), expected);
}

TEST_F(RegisterComposer, UnregisterWithCredentialsGolden) {
    SetChallenge("407", "", "");
    const std::string expected = kHead +
        "CSeq: 7 REGISTER\r\n"
        "Contact: *\r\n"
        "Proxy-Authorization: Digest username=\"1001\",realm=\"telvira\",nonce=\"nonceXYZ\","
        "uri=\"sip:sip.telvira.example\",response=\"a3df31ec6758ddfc4ead7ca97ae0b511\","
        "algorithm=MD5\r\n"
        "Max-Forwards: 70\r\n"
        "Expires: 0\r\n"
        "Content-Length: 0\r\n"
        "\r\n";
    EXPECT_EQ(ComposeUnregisterWithCredentials(*Account), expected);
}

TEST_F(RegisterComposer, DisplayNameAbsentPutsBracketRightAfterTheColon) {
    Account->SetDisplayName("");
    const std::string text = ComposeRegister(*Account);
    EXPECT_NE(text.find("\r\nFrom: <sip:1001@sip.telvira.example>;tag=5F6E7D8C9\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("\r\nTo: <sip:1001@sip.telvira.example>\r\n"), std::string::npos);
}

TEST_F(RegisterComposer, PublicAddressInContactOnlyViaKeepsLocalIp) {
    Account->SetPublicAddress("203.0.113.7");
    const std::string text = ComposeRegister(*Account);
    EXPECT_NE(text.find("Via: SIP/2.0/UDP 192.168.1.20:5075;"), std::string::npos);
    EXPECT_NE(text.find("Contact: <sip:1001@203.0.113.7:5075>;expires=3000;q=0.90\r\n"),
              std::string::npos);
}

TEST_F(RegisterComposer, ParsesBackWithItsIdentifiers) {
    for (const std::string& text : {ComposeRegister(*Account), ComposeUnregister(*Account),
                                    ComposeRegisterWithCredentials(*Account),
                                    ComposeUnregisterWithCredentials(*Account)}) {
        const TSipMessage parsed(text);
        EXPECT_EQ(parsed.CallId, "0123456789ABCDEF0123456789ABCDEF");
        EXPECT_EQ(parsed.CSeqNumber, "7");
        EXPECT_EQ(parsed.CSeqMethod, "REGISTER");
        EXPECT_EQ(parsed.FromTag, "5F6E7D8C9");
        EXPECT_EQ(parsed.ToTag, "");
        EXPECT_EQ(parsed.ViaHeaders,
                  "Via: SIP/2.0/UDP 192.168.1.20:5075;rport;branch=z9hG4bK0A1B2C3D4E\r\n");
        EXPECT_EQ(parsed.Body, "");
    }
}

TEST_F(RegisterComposer, RefreshKeepsCallIdWithNewBranchAndCSeq) {
    const TSipMessage first(ComposeRegister(*Account));
    Account->SetBranch("z9hG4bK1111111111");
    Account->SetCSeq(9);
    const TSipMessage second(ComposeRegister(*Account));
    EXPECT_EQ(first.CallId, second.CallId);
    EXPECT_NE(first.ViaHeaders, second.ViaHeaders);
    EXPECT_EQ(second.CSeqNumber, "9");
}

// --- MESSAGE -----------------------------------------------------------------

TEST(MessageText, OnlyOneTrailingCrLfIsCut) {
    EXPECT_EQ(CutMessageText("Hola\r\n\r\n"), "Hola\r\n");
    EXPECT_EQ(CutMessageText("Hola\r\n"), "Hola");
    EXPECT_EQ(CutMessageText("Hola\n"), "Hola\n");
    EXPECT_EQ(CutMessageText("\r\n"), "");
    EXPECT_EQ(CutMessageText("\n"), "\n");
    EXPECT_EQ(CutMessageText(""), "");
}

TEST_F(RegisterComposer, MessageGoldenWithItsOwnCallIdAndBranch) {
    const std::string text = ComposeMessage(*Account, "2002", "Hola\r\n\r\n");
    const std::string branch = ValueAfter(text, ";branch=");
    const std::string callId = ValueAfter(text, "\r\nCall-ID: ");
    ASSERT_EQ(branch.rfind("z9hG4bK", 0), 0u);
    ASSERT_TRUE(IsHexText(branch.substr(7), 10, "0123456789ABCDEF"));
    ASSERT_TRUE(IsHexText(callId, 32, "0123456789ABCDEF"));
    EXPECT_NE(branch, Account->GetBranch());
    EXPECT_NE(callId, Account->GetCallId());
    const std::string expected =
        "MESSAGE sip:2002@sip.telvira.example SIP/2.0\r\n"
        "Via: SIP/2.0/UDP 192.168.1.20:5075;rport;branch=" + branch + "\r\n"
        "From: \"Linea 1\" <sip:1001@sip.telvira.example>;tag=5F6E7D8C9\r\n"
        "To: <sip:2002@sip.telvira.example>\r\n"
        "Call-ID: " + callId + "\r\n"
        "CSeq: 7 MESSAGE\r\n"
        "Contact: <sip:1001@192.168.1.20:5075>\r\n" + kAllow +
        "Max-Forwards: 70\r\n"
        "Content-Type: text/plain;charset=UTF-8\r\n"
        "Content-Length: 6\r\n"
        "\r\n"
        "Hola\r\n";
    EXPECT_EQ(text, expected);

    const TSipMessage parsed(text);
    EXPECT_EQ(parsed.CallId, callId);
    EXPECT_EQ(parsed.CSeqMethod, "MESSAGE");
    EXPECT_EQ(parsed.RequestUser, "2002");
    EXPECT_EQ(parsed.Body, "Hola\r\n");

    const std::string another = ComposeMessage(*Account, "2002", "Hola");
    EXPECT_EQ(another.find(callId), std::string::npos) << "a fresh Call-ID per message";
    EXPECT_EQ(another.find(branch), std::string::npos) << "a fresh branch per message";
}

TEST_F(RegisterComposer, MessageWithCredentialsGolden) {
    const TSipMessage challenge(
        "SIP/2.0 407 Proxy Authentication Required\r\n"
        "Via: SIP/2.0/UDP 192.168.1.20:5075;rport=5075;received=203.0.113.7;branch=z9hG4bKAAAA\r\n"
        "Record-Route: <sip:192.0.2.10;lr>\r\n"
        "From: \"Linea 1\" <sip:1001@sip.telvira.example>;tag=5F6E7D8C9\r\n"
        "To: <sip:2002@sip.telvira.example>;tag=srv1\r\n"
        "Call-ID: 11112222333344445555666677778888\r\n"
        "CSeq: 7 MESSAGE\r\n"
        "Proxy-Authenticate: Digest realm=\"telvira\", nonce=\"mn\"\r\n"
        "Content-Length: 0\r\n"
        "\r\n");
    Account->SetPendingMessage("Hola\r\n\r\n");
    Account->SetCSeq(8);
    // response = md5(HA1 ":mn:" md5("MESSAGE:sip:2002@sip.telvira.example")) by md5sum.
    // A new request: a Via of our own with a new branch (the challenged one
    // is a finished transaction), and no Record-Route copied from a response.
    const std::string text = ComposeMessageWithCredentials(challenge, *Account, "2002");
    const std::string via = TSipMessage(text).ViaHeaders;
    const std::string branch = via.substr(via.find("branch=") + 7, 17);
    EXPECT_TRUE(branch.starts_with("z9hG4bK") && branch != "z9hG4bKAAAA") << text;
    const std::string expected =
        "MESSAGE sip:2002@sip.telvira.example SIP/2.0\r\n"
        "Via: SIP/2.0/UDP 192.168.1.20:5075;rport;branch=" + branch + "\r\n"
        "From: \"Linea 1\" <sip:1001@sip.telvira.example>;tag=5F6E7D8C9\r\n"
        "To: <sip:2002@sip.telvira.example>\r\n"
        "Call-ID: 11112222333344445555666677778888\r\n"
        "CSeq: 8 MESSAGE\r\n" + std::string(kAllow) +
        "Contact: <sip:1001@192.168.1.20:5075>\r\n"
        "Max-Forwards: 70\r\n"
        "Proxy-Authorization: Digest username=\"1001\",realm=\"telvira\",nonce=\"mn\","
        "uri=\"sip:2002@sip.telvira.example\",response=\"07a60812996f4c8044ea22f656d63621\","
        "algorithm=MD5\r\n"
        "Content-Type: text/plain;charset=UTF-8\r\n"
        "Content-Length: 6\r\n"
        "\r\n"
        "Hola\r\n";
    EXPECT_EQ(text, expected);
    const TSipMessage parsed(text);
    EXPECT_EQ(parsed.CallId, "11112222333344445555666677778888");
    EXPECT_EQ(parsed.CSeqNumber, "8");
    EXPECT_EQ(parsed.Body, "Hola\r\n");
    EXPECT_EQ(Account->GetPendingMessage(), "Hola\r\n\r\n") << "the engine clears it, not us";
}

}  // namespace
