// SDP security descriptions: the attributes read and written, and the offer
// and answer rules that pick the keys of a call.
#include <gtest/gtest.h>

#include "sip/sdp.h"
#include "sip/sdp_crypto.h"
#include "tests/sip/fake_call.h"

namespace {

// 30 bytes 0x00..0x1D in base64.
constexpr const char* kKey = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwd";

std::vector<uint8_t> KeyBytes() {
    std::vector<uint8_t> key(30);
    for (std::size_t n = 0; n < key.size(); ++n) key[n] = static_cast<uint8_t>(n);
    return key;
}

TSdpCrypto Crypto(int tag, std::string_view suite, uint8_t fill) {
    return TSdpCrypto{tag, std::string(suite), std::vector<uint8_t>(30, fill)};
}

}  // namespace

TEST(SdpCrypto, AttributesTheAgentCanMeetAndThoseItPassesOver) {
    const std::string key = kKey;
    struct TCase {
        std::string value;
        bool usable;
    };
    const TCase cases[] = {
        {"1 AES_CM_128_HMAC_SHA1_80 inline:" + key, true},
        {"7  AES_CM_128_HMAC_SHA1_32\tinline:" + key + " ", true},
        {"1 AES_CM_128_HMAC_SHA1_80 inline:" + key + "|2^31", true},
        {"1 AES_CM_128_HMAC_SHA1_80 inline:" + key + "|2^48", true},
        {"1 AES_CM_128_HMAC_SHA1_80 inline:" + key + "|4294967296", true},
        {"1 AES_CM_128_HMAC_SHA1_80 inline:" + key + "|2^20", false},          // would need re-keying
        {"1 AES_CM_128_HMAC_SHA1_80 inline:" + key + "|1048576", false},
        {"1 AES_CM_128_HMAC_SHA1_80 inline:" + key + "|2^x", false},
        {"1 AES_CM_128_HMAC_SHA1_80 inline:" + key + "|1:4", false},           // an MKI
        {"1 AES_CM_128_HMAC_SHA1_80 inline:" + key + "|2^31|1:4", false},
        {"1 AES_CM_128_HMAC_SHA1_80 inline:" + key + ";inline:" + key, false}, // two keys
        {"1 AES_CM_128_HMAC_SHA1_80 inline:" + key + " KDR=1", false},         // a session parameter
        {"1 AES_CM_128_HMAC_SHA1_80 inline:" + key + " UNENCRYPTED_SRTP", false},
        {"1 AES_256_CM_HMAC_SHA1_80 inline:" + key, false},
        {"1 F8_128_HMAC_SHA1_80 inline:" + key, false},
        {"1 AES_CM_128_HMAC_SHA1_80 uri:" + key, false},
        {"1 AES_CM_128_HMAC_SHA1_80 inline:" + key.substr(4), false},          // 27 bytes
        {"1 AES_CM_128_HMAC_SHA1_80 inline:" + key + "AAAA", false},           // 33 bytes
        {"1 AES_CM_128_HMAC_SHA1_80 inline:" + key.substr(0, 38) + "==", false},
        {"1 AES_CM_128_HMAC_SHA1_80 inline:" + key.substr(0, 39) + "*", false},
        {"x AES_CM_128_HMAC_SHA1_80 inline:" + key, false},
        {"1234567890 AES_CM_128_HMAC_SHA1_80 inline:" + key, false},           // tags have 9 digits at most
        {"1 AES_CM_128_HMAC_SHA1_80", false},
        {"", false},
    };
    for (const TCase& c : cases) {
        const auto crypto = ParseSdpCrypto(c.value);
        EXPECT_EQ(crypto.has_value(), c.usable) << c.value;
        if (crypto) {
            EXPECT_EQ(crypto->keySalt, KeyBytes()) << c.value;
        }
    }
    EXPECT_EQ(ParseSdpCrypto("7 AES_CM_128_HMAC_SHA1_32 inline:" + key)->tag, 7);
}

TEST(SdpCrypto, WrittenAttributesReadBackAndKeysAreFresh) {
    const TSdpCrypto ours = NewSdpCrypto(3, kSrtpSuite32);
    const std::string line = SdpCryptoLine(ours);
    ASSERT_TRUE(line.starts_with("a=crypto:3 AES_CM_128_HMAC_SHA1_32 inline:")) << line;
    ASSERT_TRUE(line.ends_with("\r\n"));
    EXPECT_EQ(ParseSdpCrypto(line.substr(9, line.size() - 11)), ours);
    EXPECT_EQ(SdpCryptoLine(TSdpCrypto{1, std::string(kSrtpSuite80), KeyBytes()}),
              "a=crypto:1 AES_CM_128_HMAC_SHA1_80 inline:" + std::string(kKey) + "\r\n");
    const auto offer = NewCryptoOffer();
    ASSERT_EQ(offer.size(), 2u);
    EXPECT_EQ(offer[0].suite, kSrtpSuite80);
    EXPECT_EQ(offer[1].suite, kSrtpSuite32);
    EXPECT_NE(offer[0].tag, offer[1].tag);
    EXPECT_NE(offer[0].keySalt, offer[1].keySalt);
    EXPECT_NE(NewCryptoOffer()[0].keySalt, offer[0].keySalt);
}

TEST(SdpCrypto, AnsweringAnOfferTakesOurPreferredSuiteUnderItsTag) {
    const TSdpCrypto short32 = Crypto(4, kSrtpSuite32, 1), long80 = Crypto(9, kSrtpSuite80, 2);
    EXPECT_EQ(ChooseOfferedCrypto({short32, long80}), long80) << "our order, not theirs";
    EXPECT_EQ(ChooseOfferedCrypto({short32}), short32);
    EXPECT_FALSE(ChooseOfferedCrypto({}));
    EXPECT_FALSE(AnswerOfferedCrypto({}, {}));

    const auto first = AnswerOfferedCrypto({}, {short32, long80});
    ASSERT_TRUE(first && first->Agreed());
    EXPECT_EQ(first->remote, long80);
    EXPECT_EQ(first->local->tag, 9);
    EXPECT_EQ(first->local->suite, kSrtpSuite80);
    EXPECT_NE(first->local->keySalt, long80.keySalt);
    EXPECT_EQ(first->offered, std::vector<TSdpCrypto>{*first->local}) << "a later offer of ours keeps it";

    // A re-offer in the same suite under another tag: our key stays, the tag follows.
    const TSdpCrypto again = Crypto(2, kSrtpSuite80, 3);
    const auto second = AnswerOfferedCrypto(*first, {again});
    ASSERT_TRUE(second);
    EXPECT_EQ(second->local->keySalt, first->local->keySalt);
    EXPECT_EQ(second->local->tag, 2);
    EXPECT_EQ(second->remote, again);
    // Another suite: a fresh key of ours.
    const auto third = AnswerOfferedCrypto(*second, {short32});
    ASSERT_TRUE(third);
    EXPECT_EQ(third->local->suite, kSrtpSuite32);
    EXPECT_NE(third->local->keySalt, first->local->keySalt);
}

TEST(SdpCrypto, AnAnswerMustNameOneOfferedTagWithItsSuite) {
    TCallCrypto ours;
    ours.offered = {Crypto(1, kSrtpSuite80, 1), Crypto(2, kSrtpSuite32, 2)};
    struct TCase {
        const char* what;
        std::vector<TSdpCrypto> answer;
        int agreedTag;  // 0: refused
    };
    const TCase cases[] = {
        {"the first tag", {Crypto(1, kSrtpSuite80, 7)}, 1},
        {"the second tag", {Crypto(2, kSrtpSuite32, 7)}, 2},
        {"a tag never offered", {Crypto(3, kSrtpSuite80, 7)}, 0},
        {"an offered tag with the other suite", {Crypto(1, kSrtpSuite32, 7)}, 0},
        {"two attributes", {Crypto(1, kSrtpSuite80, 7), Crypto(2, kSrtpSuite32, 7)}, 0},
        {"none", {}, 0},
    };
    for (const TCase& c : cases) {
        const auto agreed = TakeAnsweredCrypto(ours, c.answer);
        ASSERT_EQ(agreed.has_value(), c.agreedTag != 0) << c.what;
        if (!agreed) continue;
        EXPECT_EQ(agreed->local, ours.offered[static_cast<std::size_t>(c.agreedTag - 1)]) << c.what;
        EXPECT_EQ(agreed->remote, c.answer.front()) << c.what;
        EXPECT_EQ(agreed->offered, ours.offered) << c.what;
    }
}

TEST(SdpCrypto, SecureOffersAndAnswersOnTheWireAndReadBack) {
    const auto call = MakeTestCall(MakeTestAccount());
    call->Codec = std::make_shared<TFakeCodec>(0);
    call->Crypto.offered = {TSdpCrypto{1, std::string(kSrtpSuite80), KeyBytes()}, NewSdpCrypto(2, kSrtpSuite32)};
    const std::string offer = BuildSdpOffer(*call, "0 8");
    EXPECT_NE(offer.find("m=audio 22000 RTP/SAVP 0 8 101 13\r\n"), std::string::npos) << offer;
    EXPECT_NE(offer.find("a=crypto:1 AES_CM_128_HMAC_SHA1_80 inline:" + std::string(kKey) + "\r\n"),
              std::string::npos);
    const TSdpAudio read = ReadSdpAudio(offer);
    EXPECT_TRUE(read.Secure());
    EXPECT_EQ(read.crypto, call->Crypto.offered);

    // Until an answer agrees, an answer of ours stays plain; then it carries
    // our key alone.
    EXPECT_NE(BuildSdpAnswer(*call).find(" RTP/AVP "), std::string::npos);
    call->Crypto.local = call->Crypto.offered[0];
    call->Crypto.remote = Crypto(1, kSrtpSuite80, 9);
    const std::string answer = BuildSdpAnswer(*call);
    EXPECT_NE(answer.find("m=audio 22000 RTP/SAVP 0 101\r\n"), std::string::npos) << answer;
    const TSdpAudio readAnswer = ReadSdpAudio(answer);
    EXPECT_EQ(readAnswer.crypto, std::vector<TSdpCrypto>{call->Crypto.offered[0]});

    // Keys agreed inside an RTP/AVP offer stay in RTP/AVP both ways.
    call->Crypto.bestEffort = true;
    EXPECT_NE(BuildSdpAnswer(*call).find("m=audio 22000 RTP/AVP 0 101\r\na=rtpmap"), std::string::npos);
    EXPECT_EQ(ReadSdpAudio(BuildSdpAnswer(*call)).crypto.size(), 1u);
    EXPECT_EQ(ReadSdpAudio(BuildSdpOffer(*call, "0")).profile, "RTP/AVP");
    EXPECT_EQ(ReadSdpAudio(BuildSdpOffer(*call, "0")).crypto.size(), 2u);

    call->Crypto = {};
    EXPECT_EQ(ReadSdpAudio(BuildSdpOffer(*call, "0")).profile, "RTP/AVP");
}

TEST(SdpCrypto, OnlyTheAudioStreamsOwnUsableAttributesCount) {
    const std::string key = kKey;
    const std::string body =
        "v=0\r\nc=IN IP4 10.0.0.1\r\na=crypto:5 AES_CM_128_HMAC_SHA1_80 inline:" + key +
        "\r\nm=audio 4000 RTP/SAVP 0\r\na=crypto:1 AES_CM_128_HMAC_SHA1_80 inline:" + key +
        "|2^20\r\na=crypto:2 AES_CM_128_HMAC_SHA1_32 inline:" + key +
        "\r\nm=video 5000 RTP/SAVP 96\r\na=crypto:3 AES_CM_128_HMAC_SHA1_80 inline:" + key + "\r\n";
    const TSdpAudio audio = ReadSdpAudio(body);
    EXPECT_EQ(audio.profile, "RTP/SAVP");
    ASSERT_EQ(audio.crypto.size(), 1u);
    EXPECT_EQ(audio.crypto[0].tag, 2);
    EXPECT_EQ(ReadSdpAudio("m=audio 4000 RTP/AVP 0\r\n").profile, "RTP/AVP");
    EXPECT_FALSE(ReadSdpAudio("m=audio 4000\r\n").Secure());
}
