#include "sip/auth.h"

#include <gtest/gtest.h>

#include <regex>
#include <vector>

namespace {

TEST(Md5Hex, Rfc1321TestSuite) {
    EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(Md5Hex("1234567890123456789012345678901234567890123456789012345678901234567890"
                     "1234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5Hex, HashesEveryByteIncludingNul) {
    EXPECT_NE(Md5Hex(std::string_view("a\0b", 3)), Md5Hex("a"));
    EXPECT_EQ(Md5Hex(std::string_view("a\0b", 3)).size(), 32u);
}

TEST(DigestResponse, Rfc2617Example) {
    EXPECT_EQ(DigestResponseForUri("GET", "/dir/index.html", "Mufasa", "testrealm@host.com",
                                   "Circle Of Life", "auth", "dcd98b7102dd2f0e8b11d0f600bfb0c093",
                                   "0a4f113b", ""),
              "6629fae49393a05397450978507c4ef1");
}

TEST(DigestResponse, FormsOfTheDigestUriAndQop) {
    const std::string ha1 = Md5Hex("u:r:p");
    // No qop: the two-part form, the cnonce ignored.
    EXPECT_EQ(DigestResponse("REGISTER", "", "example.com", "u", "r", "p", "", "N", "ignored", ""),
              Md5Hex(ha1 + ":N:" + Md5Hex("REGISTER:sip:example.com")));
    // With a user the uri is sip:user@host.
    EXPECT_EQ(DigestResponse("MESSAGE", "301", "example.com", "u", "r", "p", "auth", "N", "C", ""),
              Md5Hex(ha1 + ":N:00000001:C:auth:" + Md5Hex("MESSAGE:sip:301@example.com")));
    // auth-int hashes the body, the empty one too.
    EXPECT_EQ(DigestResponse("INVITE", "9", "h", "u", "r", "p", "auth-int", "N", "C", ""),
              Md5Hex(ha1 + ":N:00000001:C:auth-int:" +
                     Md5Hex("INVITE:sip:9@h:d41d8cd98f00b204e9800998ecf8427e")));
    EXPECT_EQ(DigestResponse("INVITE", "9", "h", "u", "r", "p", "auth-int", "N", "C", "v=0\r\n"),
              Md5Hex(ha1 + ":N:00000001:C:auth-int:" + Md5Hex("INVITE:sip:9@h:" + Md5Hex("v=0\r\n"))));
    // Another letter case is not auth-int: no body hash, qop hashed as received.
    EXPECT_EQ(DigestResponse("INVITE", "9", "h", "u", "r", "p", "AUTH-INT", "N", "C", "body"),
              Md5Hex(ha1 + ":N:00000001:C:AUTH-INT:" + Md5Hex("INVITE:sip:9@h")));
}

TEST(NewCnonce, ThirtyTwoLowerCaseHexDigitsEachTimeNew) {
    const std::string a = NewCnonce();
    const std::string b = NewCnonce();
    EXPECT_TRUE(std::regex_match(a, std::regex("[0-9a-f]{32}")));
    EXPECT_NE(a, b);
}

TEST(DigestHeaderName, ByRequestAndKeptStatus) {
    EXPECT_EQ(DigestHeaderName(TDigestRequest::Register, "401"), "Authorization");
    EXPECT_EQ(DigestHeaderName(TDigestRequest::Register, "407"), "Proxy-Authorization");
    EXPECT_EQ(DigestHeaderName(TDigestRequest::Unregister, "403"), "Proxy-Authorization");
    EXPECT_EQ(DigestHeaderName(TDigestRequest::Refer, "403"), "Authorization");
    EXPECT_EQ(DigestHeaderName(TDigestRequest::Invite, "401"), "Authorization");
    EXPECT_EQ(DigestHeaderName(TDigestRequest::Invite, ""), "Proxy-Authorization");
}

// The tail of every credentials line after the response, with the use of
// the nonce preset so the cnonce is known: qop and nc as bare tokens, opaque
// only when the server sent one.
struct TTailRow {
    TDigestRequest request;
    const char* qop;
    const char* opaque;
    const char* expectedTail;  // text between the response value and ",algorithm=MD5"
};

class DigestLineTail : public ::testing::TestWithParam<TTailRow> {};

TEST_P(DigestLineTail, LineMatchesLayout) {
    const TTailRow row = GetParam();
    const TDigestChallenge challenge{"401", "r", "n", row.opaque, row.qop};
    TDigestUse use{"n", "C", 4};
    const TDigestTarget target{"M", "sip:x@h", ""};
    const std::string line = DigestHeaderLine(row.request, challenge, use, {"u", "p"}, target);
    const bool counted = *row.qop != '\0';
    const std::string response = DigestResponseForUri("M", "sip:x@h", "u", "r", "p", row.qop, "n",
                                                      "C", "", counted ? 5 : 4);
    const std::string expected = "Authorization: Digest username=\"u\",realm=\"r\",nonce=\"n\","
                                 "uri=\"sip:x@h\",response=\"" +
                                 response + "\"" + row.expectedTail + ",algorithm=MD5\r\n";
    EXPECT_EQ(line, expected);
    EXPECT_EQ(use.count, counted ? 5u : 4u);
    EXPECT_EQ(use.cnonce, "C");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DigestLineTail,
    ::testing::Values(
        TTailRow{TDigestRequest::Register, "auth", "O", ",qop=auth,cnonce=\"C\",nc=00000005,opaque=\"O\""},
        TTailRow{TDigestRequest::Register, "auth", "", ",qop=auth,cnonce=\"C\",nc=00000005"},
        TTailRow{TDigestRequest::Register, "", "", ""},
        TTailRow{TDigestRequest::Unregister, "auth", "", ",qop=auth,cnonce=\"C\",nc=00000005"},
        TTailRow{TDigestRequest::Unregister, "", "O", ",opaque=\"O\""},
        TTailRow{TDigestRequest::Message, "auth", "", ",qop=auth,cnonce=\"C\",nc=00000005"},
        TTailRow{TDigestRequest::Invite, "auth-int", "O", ",qop=auth-int,cnonce=\"C\",nc=00000005,opaque=\"O\""},
        TTailRow{TDigestRequest::Invite, "", "", ""},
        TTailRow{TDigestRequest::Ack, "auth", "", ",qop=auth,cnonce=\"C\",nc=00000005"},
        TTailRow{TDigestRequest::Cancel, "auth", "", ",qop=auth,cnonce=\"C\",nc=00000005"},
        TTailRow{TDigestRequest::Refer, "", "O", ",opaque=\"O\""}));

// A server that checks nonce counts refuses a repeated one as a replay: each
// use of the same nonce counts up, a new nonce starts again at 1 with a new
// cnonce, and the count enters the hash.
TEST(DigestLineNonceCount, CountsUsesOfOneNonce) {
    TDigestChallenge challenge{"407", "r", "n1", "", "auth"};
    TDigestUse use;
    const TDigestTarget target{"INVITE", "sip:9@h", ""};
    std::vector<std::string> lines;
    for (int i = 0; i < 3; ++i) lines.push_back(DigestHeaderLine(TDigestRequest::Invite, challenge, use, {"u", "p"}, target));
    ASSERT_TRUE(std::regex_match(use.cnonce, std::regex("[0-9a-f]{32}")));
    const std::string firstCnonce = use.cnonce;
    for (int i = 0; i < 3; ++i) {
        const uint32_t count = static_cast<uint32_t>(i + 1);
        const std::string response =
            DigestResponseForUri("INVITE", "sip:9@h", "u", "r", "p", "auth", "n1", firstCnonce, "", count);
        EXPECT_NE(lines[i].find("response=\"" + response + "\",qop=auth,cnonce=\"" + firstCnonce +
                                "\",nc=" + NonceCountText(count) + ",algorithm"),
                  std::string::npos)
            << lines[i];
    }
    EXPECT_NE(lines[0], lines[1]);

    challenge.nonce = "n2";
    const std::string fresh = DigestHeaderLine(TDigestRequest::Ack, challenge, use, {"u", "p"}, target);
    EXPECT_EQ(use.nonce, "n2");
    EXPECT_EQ(use.count, 1u);
    EXPECT_NE(use.cnonce, firstCnonce);
    EXPECT_NE(fresh.find(",nc=00000001,"), std::string::npos);
}

TEST(DigestLineNonceCount, HexTextOfTheCount) {
    EXPECT_EQ(NonceCountText(1), "00000001");
    EXPECT_EQ(NonceCountText(26), "0000001a");
    EXPECT_EQ(NonceCountText(0xFFFFFFFFu), "ffffffff");
}

// The qop option lists servers send, and the one the agent answers with.
TEST(ChooseQop, OptionLists) {
    const std::pair<const char*, const char*> rows[] = {
        {"auth", "auth"},          {"auth,auth-int", "auth-int"}, {"auth-int, auth", "auth-int"},
        {" auth ", "auth"},        {"auth-conf", ""},             {"", ""},
        {"AUTH", ""},              {"token,auth", "auth"}};
    for (const auto& [options, chosen] : rows) EXPECT_EQ(ChooseQop(options), chosen) << options;
}

// Challenge values as servers write them: the first MD5 (or unnamed
// algorithm) Digest challenge wins, quoted or bare values, escapes, any
// parameter order and letter case of the names.
TEST(ParseDigestChallenge, ChallengeTable) {
    struct TRow {
        const char* value;
        bool found;
        const char* realm;
        const char* nonce;
        const char* opaque;
        const char* qop;
    };
    const TRow rows[] = {
        {" Digest realm=\"a\", nonce=\"n\"", true, "a", "n", "", ""},
        {"Digest NONCE=\"n\",Realm=\"a\",qop=auth,algorithm=md5,opaque=\"o\"", true, "a", "n", "o", "auth"},
        {"Digest realm=\"a \\\"b\\\"\", nonce=\"n,m\"", true, "a \"b\"", "n,m", "", ""},
        {"Digest realm=\"s\",nonce=\"1\",algorithm=SHA-256, Digest realm=\"m\",nonce=\"2\"", true, "m", "2", "", ""},
        {"Basic realm=\"b\", Digest realm=\"d\", nonce=\"3\", stale=true", true, "d", "3", "", ""},
        {"Digest realm=\"s\",nonce=\"1\",algorithm=\"AKAv1-MD5\"", false, "", "", "", ""},
        {"Digest realm=\"s\",nonce=\"1\",algorithm=MD5-sess", false, "", "", "", ""},
        {"Basic realm=\"b\"", false, "", "", "", ""},
        {"", false, "", "", "", ""},
        {"realm=\"orphan\"", false, "", "", "", ""},
        // An unterminated quote runs to the end, a lone final backslash kept.
        {"Digest realm=\"a\\\\b\", nonce=\"n\\", true, "a\\b", "n\\", "", ""},
        {"Digest realm=a,nonce=\"q\\\"\",opaque=\"\"", true, "a", "q\"", "", ""},
    };
    for (const TRow& row : rows) {
        const std::optional<TParsedChallenge> parsed = ParseDigestChallenge(row.value);
        ASSERT_EQ(parsed.has_value(), row.found) << row.value;
        if (!parsed) continue;
        EXPECT_EQ(parsed->realm, row.realm) << row.value;
        EXPECT_EQ(parsed->nonce, row.nonce) << row.value;
        EXPECT_EQ(parsed->opaque, row.opaque) << row.value;
        EXPECT_EQ(parsed->qop, row.qop) << row.value;
    }
}

TEST(DigestLine, HashesTheUriWrittenInTheLine) {
    const TDigestChallenge challenge{"401", "r", "n", "", ""};
    TDigestUse use;
    const std::string line = DigestHeaderLine(TDigestRequest::Invite, challenge, use, {"u", "p"},
                                              {"INVITE", "sip:bob@other.example", ""});
    const std::string ha1 = Md5Hex("u:r:p");
    const std::string expected = Md5Hex(ha1 + ":n:" + Md5Hex("INVITE:sip:bob@other.example"));
    EXPECT_NE(line.find("uri=\"sip:bob@other.example\",response=\"" + expected + "\""),
              std::string::npos);
}

}  // namespace
