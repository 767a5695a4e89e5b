#include "sip/auth.h"

#include <gtest/gtest.h>

#include <regex>

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

// Each row of the qop layouts, with a known stored opaque so the line is
// fully predictable.
struct TQopRow {
    TDigestRequest request;
    const char* qop;
    const char* opaque;
    const char* expectedTail;  // text between the response value and ",algorithm=MD5"
};

class DigestLineQopRows : public ::testing::TestWithParam<TQopRow> {};

TEST_P(DigestLineQopRows, LineMatchesLayout) {
    const TQopRow row = GetParam();
    TDigestChallenge challenge{"401", "r", "n", row.opaque, row.qop};
    const TDigestTarget target{"M", "sip:x@h", ""};
    const std::string line = DigestHeaderLine(row.request, challenge, {"u", "p"}, target);
    const std::string response =
        DigestResponseForUri("M", "sip:x@h", "u", "r", "p", row.qop, "n", row.opaque, "");
    const std::string expected = "Authorization: Digest username=\"u\",realm=\"r\",nonce=\"n\","
                                 "uri=\"sip:x@h\",response=\"" +
                                 response + "\"" + row.expectedTail + ",algorithm=MD5\r\n";
    EXPECT_EQ(line, expected);
    EXPECT_EQ(challenge.opaque, row.opaque);  // a stored value is never replaced
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DigestLineQopRows,
    ::testing::Values(
        TQopRow{TDigestRequest::Register, "auth", "O", ",qop=auth,cnonce=\"O\",nc=00000001,opaque=\"O\""},
        TQopRow{TDigestRequest::Register, "", "O", ",opaque=\"\""},
        TQopRow{TDigestRequest::Unregister, "auth", "O", ",qop=\"auth\",cnonce=\"O\",nc=00000001,opaque=\"O\""},
        TQopRow{TDigestRequest::Unregister, "auth", "", ",qop=\"auth\",cnonce=\"\",nc=00000001,opaque=\"\""},
        TQopRow{TDigestRequest::Unregister, "", "O", ",opaque=\"\""},
        TQopRow{TDigestRequest::Message, "auth", "O", ",qop=\"auth\",cnonce=\"O\",nc=00000001,opaque=\"O\""},
        TQopRow{TDigestRequest::Message, "auth", "", ",qop=\"auth\",cnonce=\"\",nc=00000001,opaque=\"\""},
        TQopRow{TDigestRequest::Message, "", "O", ""},
        TQopRow{TDigestRequest::Invite, "auth", "O", ",qop=\"auth\",cnonce=\"O\",nc=00000001,opaque=\"O\""},
        TQopRow{TDigestRequest::Invite, "", "O", ""},
        TQopRow{TDigestRequest::Ack, "auth", "O", ",qop=\"auth\",cnonce=\"O\",nc=00000001,opaque=\"O\""},
        TQopRow{TDigestRequest::Ack, "", "", ""},
        TQopRow{TDigestRequest::Cancel, "auth", "O", ",qop=\"auth\",cnonce=\"O\",nc=00000001,opaque=\"O\""},
        TQopRow{TDigestRequest::Cancel, "auth", "", ",qop=\"auth\",cnonce=\"\",nc=00000001,opaque=\"\""},
        TQopRow{TDigestRequest::Cancel, "", "O", ""},
        TQopRow{TDigestRequest::Refer, "auth", "O", ",qop=\"auth\",cnonce=\"O\",nc=00000001,opaque=\"O\""},
        TQopRow{TDigestRequest::Refer, "", "O", ""}));

// The requests that make a cnonce when none is stored: the fresh value is in
// the line, in the hash and stored back for the next request of the dialog.
TEST(DigestLineNewCnonce, RegisterShowsUnquotedQop) {
    TDigestChallenge challenge{"401", "r", "n", "", "auth"};
    const std::string line =
        DigestHeaderLine(TDigestRequest::Register, challenge, {"u", "p"}, {"REGISTER", "sip:h", ""});
    ASSERT_TRUE(std::regex_match(challenge.opaque, std::regex("[0-9a-f]{32}")));
    const std::string response = DigestResponseForUri("REGISTER", "sip:h", "u", "r", "p", "auth",
                                                      "n", challenge.opaque, "");
    EXPECT_EQ(line, "Authorization: Digest username=\"u\",realm=\"r\",nonce=\"n\",uri=\"sip:h\","
                    "response=\"" + response + "\",cnonce=\"" + challenge.opaque +
                        "\",nc=00000001,qop=auth,algorithm=MD5\r\n");
}

TEST(DigestLineNewCnonce, InviteThenAckShareTheCnonce) {
    TDigestChallenge challenge{"407", "r", "n", "", "auth"};
    const std::string invite = DigestHeaderLine(TDigestRequest::Invite, challenge, {"u", "p"},
                                                {"INVITE", "sip:9@h", "v=0\r\n"});
    const std::string cnonce = challenge.opaque;
    ASSERT_TRUE(std::regex_match(cnonce, std::regex("[0-9a-f]{32}")));
    EXPECT_NE(invite.find(",cnonce=\"" + cnonce + "\",nc=00000001,qop=\"auth\",algorithm=MD5\r\n"),
              std::string::npos);
    EXPECT_EQ(invite.find("opaque="), std::string::npos);
    EXPECT_EQ(invite.rfind("Proxy-Authorization: ", 0), 0u);

    const std::string ack =
        DigestHeaderLine(TDigestRequest::Ack, challenge, {"u", "p"}, {"ACK", "sip:9@h", ""});
    EXPECT_EQ(challenge.opaque, cnonce);
    EXPECT_NE(ack.find(",qop=\"auth\",cnonce=\"" + cnonce + "\",nc=00000001,opaque=\"" + cnonce + "\""),
              std::string::npos);
    const std::string response =
        DigestResponseForUri("ACK", "sip:9@h", "u", "r", "p", "auth", "n", cnonce, "");
    EXPECT_NE(ack.find("response=\"" + response + "\""), std::string::npos);
}

TEST(DigestLineNewCnonce, OthersNeverMakeOne) {
    for (const TDigestRequest request : {TDigestRequest::Unregister, TDigestRequest::Message,
                                         TDigestRequest::Cancel, TDigestRequest::Refer}) {
        TDigestChallenge challenge{"401", "r", "n", "", "auth"};
        DigestHeaderLine(request, challenge, {"u", "p"}, {"M", "sip:h", ""});
        EXPECT_EQ(challenge.opaque, "");
    }
}

TEST(DigestLine, HashesTheUriWrittenInTheLine) {
    TDigestChallenge challenge{"401", "r", "n", "", ""};
    const std::string line = DigestHeaderLine(TDigestRequest::Invite, challenge, {"u", "p"},
                                              {"INVITE", "sip:bob@other.example", ""});
    const std::string ha1 = Md5Hex("u:r:p");
    const std::string expected = Md5Hex(ha1 + ":n:" + Md5Hex("INVITE:sip:bob@other.example"));
    EXPECT_NE(line.find("uri=\"sip:bob@other.example\",response=\"" + expected + "\""),
              std::string::npos);
}

}  // namespace
