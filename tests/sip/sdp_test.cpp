#include <gtest/gtest.h>

#include <optional>
#include <utility>

#include "sip/message.h"
#include "sip/sdp.h"
#include "sip/sdp_formats.h"
#include "sip/sdp_payload_numbers.h"
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

TEST_F(Sdp, OfferListsTheCodecsThenTelephoneEventsAndComfortNoise) {
    EXPECT_EQ(LineStarting(BuildSdpOffer(*Call, "0 8 3 110"), "m="),
              "m=audio 22000 RTP/AVP 0 8 3 110 101 13");
    EXPECT_EQ(LineStarting(BuildSdpOffer(*Call, ""), "m="), "m=audio 22000 RTP/AVP  101 13");
    EXPECT_EQ(LineStarting(BuildSdpOffer(*Call, "0"), "a=rtpmap:13"), "a=rtpmap:13 CN/8000");
}

// Static types under their own numbers need no rtpmap; every dynamic type we
// offer does, or the far end cannot tell what it is.
TEST_F(Sdp, OnlyDynamicTypesGetAttributes) {
    const std::string offer = BuildSdpOffer(*Call, "0 8 3 110");
    EXPECT_EQ(offer.find("a=rtpmap:0"), std::string::npos);
    EXPECT_EQ(LineStarting(offer, "a=rtpmap:110"), "a=rtpmap:110 speex/8000");
    EXPECT_EQ(LineStarting(offer, "a=fmtp:"), "a=fmtp:101 0-15");
    const std::string all = BuildSdpOffer(*Call, "111 18 110 0");
    EXPECT_EQ(LineStarting(all, "a=rtpmap:111"), "a=rtpmap:111 opus/48000/2");
    EXPECT_NE(LineStarting(all, "a=fmtp:111"), "(none)");
    EXPECT_EQ(LineStarting(all, "a=rtpmap:18"), "a=rtpmap:18 G729/8000");
    EXPECT_EQ(LineStarting(all, "a=rtpmap:101"), "a=rtpmap:101 telephone-event/8000");
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

// A peer that offered comfort noise hears it agreed to, so it may send its
// background level between talkspurts; one that did not is not told of it.
TEST_F(Sdp, AnswerAgreesToComfortNoiseOnlyWhenOffered) {
    Call->Codec = std::make_shared<TFakeCodec>(0);
    const struct {
        std::vector<int> offered;
        std::vector<int> agreed;
        const char* mLine;
    } rows[] = {
        {{0, 8, 13}, {0, 13}, "m=audio 22000 RTP/AVP 0 101 13"},
        {{8, 0}, {0}, "m=audio 22000 RTP/AVP 0 101"},
        {{13, 0}, {0, 13}, "m=audio 22000 RTP/AVP 0 101 13"},
    };
    for (const auto& row : rows) {
        Call->NegotiatedPayloadTypes = AnswerPayloadTypes(0, row.offered);
        EXPECT_EQ(Call->NegotiatedPayloadTypes, row.agreed);
        const std::string answer = BuildSdpAnswer(*Call);
        EXPECT_EQ(LineStarting(answer, "m="), row.mLine);
        EXPECT_EQ(answer.find("a=rtpmap:13 CN/8000") != std::string::npos, row.agreed.size() == 2);
    }
}

TEST_F(Sdp, AnswerWithoutCodecLeavesTheNumberEmpty) {
    EXPECT_EQ(LineStarting(BuildSdpAnswer(*Call), "m="), "m=audio 22000 RTP/AVP  101");
}

TEST_F(Sdp, AnswerCarriesTheDirectionItIsGiven) {
    Call->Codec = std::make_shared<TFakeCodec>(0);
    const std::string answer = BuildSdpAnswer(*Call, "recvonly");
    EXPECT_EQ(answer.substr(answer.size() - 12), "a=recvonly\r\n");
    EXPECT_EQ(LineStarting(answer, "c="), "c=IN IP4 192.168.1.20");
}

// A port read as another port sends our voice to the wrong place; anything
// but a plain number in range is no port at all.
TEST(SdpPort, OnlyWholeNumbersInRange) {
    const std::pair<const char*, std::optional<int>> rows[] = {
        {"1", 1},           {"4000", 4000},       {"65535", 65535},    {"0", std::nullopt},
        {"65536", std::nullopt}, {"70000", std::nullopt}, {"99999999999", std::nullopt},
        {"4000x", std::nullopt}, {"4000/2", std::nullopt}, {"+4000", std::nullopt},
        {"-1", std::nullopt},   {"", std::nullopt},     {"04000", 4000},    {"4 000", std::nullopt}};
    for (const auto& [token, port] : rows) EXPECT_EQ(SdpPort(token), port) << token;
}

// Offers as peers write them: the stream's own lines win over the session's,
// only the first audio stream counts, other streams' lines are not ours.
TEST(ReadSdpAudio, SessionAndMediaLevels) {
    struct TRow {
        const char* body;
        bool present;
        const char* port;
        const char* address;
        const char* direction;
    };
    const TRow rows[] = {
        {"v=0\r\nc=IN IP4 10.0.0.1\r\nm=audio 4000 RTP/AVP 0\r\n", true, "4000", "10.0.0.1", "sendrecv"},
        {"c=IN IP4 10.0.0.1\r\na=sendonly\r\nm=audio 4000 RTP/AVP 0\r\n", true, "4000", "10.0.0.1", "sendonly"},
        {"c=IN IP4 10.0.0.1\r\na=sendonly\r\nm=audio 4000 RTP/AVP 0\r\nc=IN IP4 10.0.0.2\r\na=recvonly\r\n",
         true, "4000", "10.0.0.2", "recvonly"},
        {"m=audio 4000 RTP/AVP 0\nc=IN IP4 0.0.0.0\na=inactive\n", true, "4000", "0.0.0.0", "inactive"},
        {"c=IN IP4 224.2.1.1/127\r\nm=audio 4000x RTP/AVP 0\r\n", true, "4000x", "224.2.1.1", "sendrecv"},
        {"m=video 5000 RTP/AVP 31\r\nc=IN IP4 10.9.9.9\r\na=sendonly\r\n"
         "m=audio 4002 RTP/AVP 8\r\nc=IN IP4 10.0.0.3\r\n", true, "4002", "10.0.0.3", "sendrecv"},
        {"m=audio 4000 RTP/AVP 0\r\nc=IN IP4 10.0.0.4\r\nm=audio 6000 RTP/AVP 0\r\na=inactive\r\n",
         true, "4000", "10.0.0.4", "sendrecv"},
        {"c=IN IP6 ::1\r\nm=audio 4000 RTP/AVP 0\r\na=x-sendonly\r\n", true, "4000", "", "sendrecv"},
        {"v=0\r\nc=IN IP4 10.0.0.1\r\n", false, "", "10.0.0.1", "sendrecv"},
    };
    for (const TRow& row : rows) {
        const TSdpAudio audio = ReadSdpAudio(row.body);
        EXPECT_EQ(audio.present, row.present) << row.body;
        EXPECT_EQ(audio.portToken, row.port) << row.body;
        EXPECT_EQ(audio.address, row.address) << row.body;
        EXPECT_EQ(audio.direction, row.direction) << row.body;
    }
}

// Packet times as peers write them: never assumed, a bad value is none.
TEST(ReadSdpAudio, PacketTimes) {
    const struct {
        const char* body;
        int ptime;
        int maxPtime;
    } rows[] = {
        {"m=audio 4000 RTP/AVP 0\r\na=ptime:30\r\n", 30, 0},
        {"a=ptime:20\r\na=maxptime:60\r\nm=audio 4000 RTP/AVP 0\r\na=ptime:40\r\n", 40, 60},
        {"m=audio 4000 RTP/AVP 3\r\na=maxptime:40\r\na=ptime: 60 \r\n", 60, 40},
        {"m=audio 4000 RTP/AVP 0\r\na=ptime:0\r\na=maxptime:x\r\n", 0, 0},
        {"m=audio 4000 RTP/AVP 0\r\nm=audio 5000 RTP/AVP 0\r\na=ptime:30\r\n", 0, 0},
    };
    for (const auto& row : rows) {
        const TSdpAudio audio = ReadSdpAudio(row.body);
        EXPECT_EQ(audio.ptimeMs, row.ptime) << row.body;
        EXPECT_EQ(audio.maxPtimeMs, row.maxPtime) << row.body;
    }
}

// The number of telephone-event, and that number never taken for a codec:
// only a dynamic type at 8 kHz of the first audio stream counts.
TEST(ReadSdpAudio, TelephoneEventNumber) {
    const struct {
        const char* media;
        std::optional<int> event;
        std::vector<int> codecs;
    } rows[] = {
        {"m=audio 4000 RTP/AVP 0 96\r\na=rtpmap:96 telephone-event/8000\r\n", 96, {0}},
        {"m=audio 4000 RTP/AVP 110 8\r\na=rtpmap:110 Telephone-Event/8000/1\r\n", 110, {8}},
        {"m=audio 4000 RTP/AVP 0 101\r\n", std::nullopt, {0}},
        {"m=audio 4000 RTP/AVP 0 100\r\na=rtpmap:100 telephone-event/16000\r\n", std::nullopt, {0}},
        {"m=audio 4000 RTP/AVP 0 13\r\na=rtpmap:13 telephone-event/8000\r\n", std::nullopt, {0, 13}},
        {"m=audio 4000 RTP/AVP 0\r\nm=video 5000 RTP/AVP 97\r\na=rtpmap:97 telephone-event/8000\r\n",
         std::nullopt, {0}},
    };
    for (const auto& row : rows) {
        const std::string body = std::string("v=0\r\nc=IN IP4 127.0.0.1\r\n") + row.media;
        EXPECT_EQ(ReadSdpAudio(body).telephoneEvent, row.event) << row.media;
        const TSipMessage message("INVITE sip:a@b SIP/2.0\r\nCall-ID: x\r\n\r\n" + body);
        EXPECT_EQ(message.PayloadTypes, row.codecs) << row.media;
    }
}

// RFC 3264 6.1, with our own hold taking away our receiving side.
TEST(AnswerDirection, OfferTable) {
    struct TRow {
        const char* offer;
        const char* address;
        bool localHold;
        const char* answer;
    };
    const TRow rows[] = {
        {"sendrecv", "10.0.0.1", false, "sendrecv"}, {"sendonly", "10.0.0.1", false, "recvonly"},
        {"recvonly", "10.0.0.1", false, "sendonly"}, {"inactive", "10.0.0.1", false, "inactive"},
        {"sendrecv", "0.0.0.0", false, "inactive"},  {"sendonly", "0.0.0.0", false, "inactive"},
        {"sendrecv", "10.0.0.1", true, "sendonly"},  {"sendonly", "10.0.0.1", true, "inactive"},
        {"recvonly", "10.0.0.1", true, "sendonly"},  {"inactive", "10.0.0.1", true, "inactive"},
    };
    for (const TRow& row : rows) {
        EXPECT_EQ(AnswerDirection(row.offer, row.address, row.localHold), row.answer)
            << row.offer << " " << row.address << " hold " << row.localHold;
    }
}

}  // namespace

namespace {

// G.729 and Opus are described in offers and answers (RFC 4856, 7587); the
// static G.711 and GSM types need no lines.
TEST_F(Sdp, G729AndOpusCarryTheirRtpmapAndParameters) {
    const std::string offer = BuildSdpOffer(*Call, "111 18 0");
    EXPECT_EQ(LineStarting(offer, "m="), "m=audio 22000 RTP/AVP 111 18 0 101 13");
    EXPECT_EQ(LineStarting(offer, "a=rtpmap:111"), "a=rtpmap:111 opus/48000/2");
    EXPECT_NE(LineStarting(offer, "a=fmtp:111").find("useinbandfec=1"), std::string::npos);
    EXPECT_EQ(LineStarting(offer, "a=rtpmap:18"), "a=rtpmap:18 G729/8000");
    EXPECT_EQ(LineStarting(offer, "a=fmtp:18"), "a=fmtp:18 annexb=yes");
    EXPECT_EQ(LineStarting(offer, "a=rtpmap:0"), "(none)");

    auto codec = std::make_shared<TFakeCodec>(18);
    codec->FormatParameters = "annexb=no";
    Call->Codec = codec;
    const std::string answer = BuildSdpAnswer(*Call);
    EXPECT_EQ(LineStarting(answer, "a=rtpmap:18"), "a=rtpmap:18 G729/8000");
    EXPECT_EQ(LineStarting(answer, "a=fmtp:18"), "a=fmtp:18 annexb=no");
    Call->Codec = std::make_shared<TFakeCodec>(8);
    EXPECT_EQ(LineStarting(BuildSdpAnswer(*Call), "a=rtpmap:8"), "(none)");
}

TEST_F(Sdp, FormatParametersAreReadPerPayloadTypeOfTheAudioStream) {
    const std::string body =
        "v=0\r\nc=IN IP4 10.0.0.1\r\na=fmtp:18 annexb=yes\r\n"
        "m=audio 4000 RTP/AVP 111 18\r\n"
        "a=rtpmap:111 opus/48000/2\r\n"
        "a=fmtp:111 useinbandfec=1; usedtx=1\r\n"
        "a=fmtp:18 annexb=no\r\n"
        "a=fmtp:x7 nonsense\r\n"
        "m=video 4002 RTP/AVP 96\r\na=fmtp:96 profile-level-id=42e01f\r\n";
    const TSdpAudio audio = ReadSdpAudio(body);
    EXPECT_EQ(FormatParametersOf(audio, 111), "useinbandfec=1; usedtx=1");
    EXPECT_EQ(FormatParametersOf(audio, 18), "annexb=no");  // the session-level line is no stream's
    EXPECT_EQ(FormatParametersOf(audio, 96), "");
    EXPECT_EQ(FormatParametersOf(audio, 0), "");
}

// Our numbers for what an m= line lists: static types by number, dynamic
// ones by encoding and clock rate (names case-blind), or by number when the
// offer gives no rtpmap; what we cannot code, a wrong clock rate, or a
// codec listed twice drops out.
TEST(PayloadNumbers, DynamicTypesByTheirRtpmap) {
    struct TCase {
        std::string lines;
        std::vector<int> listed;
        std::vector<TPayloadNumber> numbers;
    };
    const TCase cases[] = {
        {"a=rtpmap:96 opus/48000/2\r\n", {96, 0}, {{111, 96}, {0, 0}}},
        {"a=rtpmap:107 OPUS/48000/2\r\na=rtpmap:98 Speex/8000\r\n", {98, 107}, {{110, 98}, {111, 107}}},
        {"a=rtpmap:111 iLBC/8000\r\n", {111, 8}, {{8, 8}}},
        {"a=rtpmap:111 speex/8000\r\na=rtpmap:110 opus/48000/2\r\n", {110, 111}, {{111, 110}, {110, 111}}},
        {"", {111, 110, 18}, {{111, 111}, {110, 110}, {18, 18}}},
        {"a=rtpmap:96 opus/8000\r\na=rtpmap:97 opus\r\n", {96, 97, 0}, {{0, 0}}},
        {"a=rtpmap:96 opus/48000/2\r\na=rtpmap:97 opus/48000/2\r\n", {96, 97}, {{111, 96}}},
        {"a=rtpmap:100 G729/8000\r\n", {100, 18}, {{18, 100}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.lines);
        const TSdpAudio audio = ReadSdpAudio("v=0\r\nc=IN IP4 10.0.0.1\r\nm=audio 4000 RTP/AVP 96\r\n" + c.lines);
        EXPECT_EQ(PayloadNumbers(audio, c.listed), c.numbers);
    }
    const std::vector<TPayloadNumber> numbers = {{111, 96}, {0, 0}};
    EXPECT_EQ(OwnPayloadTypes(numbers), (std::vector<int>{111, 0}));
    EXPECT_EQ(WirePayloadType(numbers, 111), 96);
    EXPECT_EQ(WirePayloadType(numbers, 18), 18);
}

// After answering our offer, the far end sends under the number our offer
// gave a codec; a peer that sends under its answer's number instead is
// still heard, unless our offer gave that number to something else.
TEST(PayloadNumbers, ReceivedUnderOurOfferedNumber) {
    struct TCase {
        const char* name;
        std::vector<int> ours;
        TPayloadNumber current;  // the call's codec when we offered
        int own;
        int answered;
        std::vector<int> received;
    };
    const TCase cases[] = {
        {"same number", {111, 0}, {-1, -1}, 111, 111, {111}},
        {"renumbered", {111, 0}, {-1, -1}, 111, 98, {111, 98}},
        {"answer takes our Speex's number", {111, 110, 0}, {-1, -1}, 111, 110, {111}},
        {"answer takes our telephone-event's number", {111, 0}, {-1, -1}, 111, 101, {111}},
        {"answer takes comfort noise's number", {111, 0}, {-1, -1}, 111, 13, {111}},
        // A re-offer keeps the far end's earlier number for the session.
        {"re-offer under the far end's number", {111, 0}, {111, 98}, 111, 98, {98}},
        {"re-offer answered anew", {111, 0}, {111, 98}, 111, 100, {98, 100}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto offered = OfferedPayloadNumbers(c.ours, c.current.own, c.current.wire);
        EXPECT_EQ(ReceivedPayloadTypes(offered, c.own, c.answered), c.received);
    }
    // Our own codec under a number the far end gave another is left out.
    EXPECT_EQ(OfferedPayloadNumbers({111, 110, 0}, 111, 110), (std::vector<TPayloadNumber>{{111, 110}, {0, 0}}));
}

// A codec the far end numbered otherwise is written under its number, with
// the rtpmap a dynamic type needs.
TEST(FormatLines, UnderTheFarEndsNumber) {
    EXPECT_EQ(AnswerFormatLines(111, 96, "useinbandfec=1"), "a=rtpmap:96 opus/48000/2\r\na=fmtp:96 useinbandfec=1\r\n");
    EXPECT_EQ(AnswerFormatLines(0, 0, ""), "");
    EXPECT_EQ(AnswerFormatLines(110, 110, ""), "a=rtpmap:110 speex/8000\r\n");
    EXPECT_EQ(AnswerFormatLines(18, 18, "annexb=no"), "a=rtpmap:18 G729/8000\r\na=fmtp:18 annexb=no\r\n");
    EXPECT_EQ(OfferFormatLines(111, 107).substr(0, 27), "a=rtpmap:107 opus/48000/2\r\n");
}

}  // namespace
