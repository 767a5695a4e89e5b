// Which codec a call gets when the far end lacks our first choice: an offer
// is answered in our order of preference, an answer is taken in the far
// end's (RFC 3264), and G.729's Annex B and Opus's parameters follow the
// far end's fmtp.
#include <array>
#include <cmath>
#include <mutex>

#include "engine_test_fixture.h"
#include "media/codec_g729.h"
#include "media/codecs.h"
#include "media/codec_opus.h"
#include "media/renumbered_codec.h"

namespace sip_test {
namespace {

class EngineCodecChoice : public EngineTest {
protected:
    std::string Invite(const std::string& callId, const std::string& sdp) {
        return "INVITE sip:4711@127.0.0.1 SIP/2.0\r\n"
               "Via: SIP/2.0/UDP 127.0.0.1:" + std::to_string(Server.Port()) + ";branch=z9hG4bK" + callId + "\r\n"
               "From: <sip:caller@127.0.0.1>;tag=ct\r\nTo: <sip:4711@127.0.0.1>\r\n"
               "Call-ID: " + callId + "\r\nCSeq: 1 INVITE\r\nContact: <sip:caller@127.0.0.1:" +
               std::to_string(Server.Port()) + ">\r\nContent-Type: application/sdp\r\n"
               "Content-Length: " + std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
    }
};

TEST_F(EngineCodecChoice, OffersAreAnsweredInOurOrder) {
    struct TCase {
        std::vector<int> ours;
        std::string offered;
        std::string fmtp;
        int chosen;
        std::string answerFmtp;  // the fmtp line our 200 carries, "" for none
    };
    const TCase cases[] = {
        {{111, 18, 0}, "0 8 18 101", "a=fmtp:18 annexb=no\r\n", 18, "a=fmtp:18 annexb=no"},
        {{111, 18, 0}, "0 18 101", "", 18, "a=fmtp:18 annexb=yes"},
        {{18, 111, 0}, "0 111 101", "a=rtpmap:111 opus/48000/2\r\n", 111, "a=fmtp:111 useinbandfec=1"},
        {{111, 18, 0}, "8 0 101", "", 0, ""},
    };
    AddAccount();
    int index = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(index);
        Engine->SetCodecs(c.ours);
        const std::string callId = "cc-" + std::to_string(index++);
        Server.Send(Invite(callId, SdpBody(40000, c.offered) + c.fmtp), Port);
        ASSERT_TRUE(Sink->WaitFor("Invite", index));
        const ISipCallPtr call = Sink->OfferedCall();
        ASSERT_TRUE(call->GetCodec());
        EXPECT_EQ(call->GetCodec()->GetPayloadType(), c.chosen);
        Engine->Answer(call);
        const TSipMessage ok(Server.NextOf("INVITE", "200"));
        EXPECT_EQ(ok.PayloadTypes, std::vector<int>{c.chosen});
        const std::size_t line = ok.Body.find("a=fmtp:" + std::to_string(c.chosen));
        if (c.answerFmtp.empty()) {
            EXPECT_EQ(line, std::string::npos) << ok.Body;
        } else {
            ASSERT_NE(line, std::string::npos) << ok.Body;
            EXPECT_EQ(ok.Body.substr(line, c.answerFmtp.size()), c.answerFmtp);
        }
        Engine->HangUp(call);
    }
}

TEST_F(EngineCodecChoice, AnswersAreTakenInTheFarEndsOrder) {
    struct TCase {
        std::string answered;
        std::string fmtp;
        int chosen;
    };
    const TCase cases[] = {
        {"0 18 101", "", 0},     // the far end prefers G.711 to our first choice
        {"8 111 101", "", 8},
        {"18 0 101", "a=fmtp:18 annexb=no\r\n", 18},
        {"97 0 101", "", 0},     // a type we never offered is passed over
    };
    const ISipAccountPtr account = AddAccount();
    Engine->SetCodecs({111, 18, 0, 8});
    int index = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(index++);
        const ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
        const TSipMessage invite(Server.NextOf("INVITE"));
        EXPECT_EQ(invite.PayloadTypes, (std::vector<int>{111, 18, 0, 8, 13}));
        Server.Send(Respond(invite.RawText, "200 OK", "callee",
                            "Contact: <sip:5550100@127.0.0.1:" + std::to_string(Server.Port()) + ">\r\n",
                            SdpBody(FreeUdpPort(), c.answered) + c.fmtp),
                    Port);
        EXPECT_FALSE(Server.NextOf("ACK").empty());
        ASSERT_TRUE(Sink->WaitFor("InviteOk", index));
        ASSERT_TRUE(call->GetCodec());
        EXPECT_EQ(call->GetCodec()->GetPayloadType(), c.chosen);
        if (c.chosen == 18) {
            const auto g729 = std::dynamic_pointer_cast<media::TCodecG729>(call->GetCodec());
            ASSERT_TRUE(g729);
            EXPECT_FALSE(g729->VoiceActivityDetection());  // the answer said annexb=no
        }
        Engine->HangUp(call);
        Server.NextOf("BYE");
    }
}

// Dynamic payload types are the offerer's: Opus is known by its rtpmap under
// whatever number the offer gives it, answered under that number with its
// fmtp read from there, and a 111 that names something else is not Opus.
TEST_F(EngineCodecChoice, DynamicTypesAreKnownByTheirRtpmap) {
    struct TCase {
        std::string offered;
        std::string lines;
        int wire;  // the number the call's codec carries
        int own;   // the codec it is
    };
    const TCase cases[] = {
        {"96 0 101", "a=rtpmap:96 opus/48000/2\r\na=fmtp:96 useinbandfec=1\r\n", 96, 111},
        {"107 0 101", "a=rtpmap:107 OPUS/48000/2\r\na=fmtp:107 useinbandfec=1\r\n", 107, 111},
        {"111 0 101", "a=rtpmap:111 iLBC/8000\r\n", 0, 0},
        {"111 110 0 101", "a=rtpmap:111 telephone-event/8000\r\na=rtpmap:110 opus/48000/2\r\n"
                          "a=fmtp:110 useinbandfec=1\r\n", 110, 111},
    };
    AddAccount();
    Engine->SetCodecs({111, 0});
    int index = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(index);
        const std::string callId = "dyn-" + std::to_string(index++);
        Server.Send(Invite(callId, SdpBody(40000, c.offered) + c.lines), Port);
        ASSERT_TRUE(Sink->WaitFor("Invite", index));
        const ISipCallPtr call = Sink->OfferedCall();
        ASSERT_TRUE(call->GetCodec());
        EXPECT_EQ(call->GetCodec()->GetPayloadType(), c.wire);
        EXPECT_EQ(call->GetCodec()->GetOwnPayloadType(), c.own);
        Engine->Answer(call);
        const TSipMessage ok(Server.NextOf("INVITE", "200"));
        EXPECT_EQ(ok.PayloadTypes, std::vector<int>{c.wire});
        if (c.own == 111) {
            const std::string wire = std::to_string(c.wire);
            EXPECT_NE(ok.Body.find("a=rtpmap:" + wire + " opus/48000/2\r\n"), std::string::npos) << ok.Body;
            EXPECT_NE(ok.Body.find("a=fmtp:" + wire + " useinbandfec=1"), std::string::npos) << ok.Body;
            // 111 is Opus only when the offer says so (in the last row it
            // is the offer's telephone-event, answered under that number).
            EXPECT_EQ(ok.Body.find(":111 opus"), std::string::npos) << ok.Body;
            // The offer's fmtp, read under the offer's number, set the encoder.
            const auto renumbered = std::dynamic_pointer_cast<media::TRenumberedCodec>(call->GetCodec());
            ASSERT_TRUE(renumbered);
            const auto opus = std::dynamic_pointer_cast<media::TCodecOpus>(renumbered->Inner());
            ASSERT_TRUE(opus);
            EXPECT_TRUE(opus->Fec());
        }
        Engine->HangUp(call);
    }
}

// An answer may number Opus otherwise than our offer did: we send under its
// number, and a later offer of ours (hold) keeps that number for the whole
// session, leaving out nothing else.
TEST_F(EngineCodecChoice, AnAnswersNumberIsKeptInLaterOffers) {
    const ISipAccountPtr account = AddAccount();
    Engine->SetCodecs({111, 0});
    const ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
    const TSipMessage invite(Server.NextOf("INVITE"));
    EXPECT_EQ(invite.PayloadTypes, (std::vector<int>{111, 0, 13}));
    Server.Send(Respond(invite.RawText, "200 OK", "callee",
                        "Contact: <sip:5550100@127.0.0.1:" + std::to_string(Server.Port()) + ">\r\n",
                        SdpBody(FreeUdpPort(), "98 101") + "a=rtpmap:98 opus/48000/2\r\n"),
                Port);
    EXPECT_FALSE(Server.NextOf("ACK").empty());
    ASSERT_TRUE(WaitUntil([&] { return call->GetState() == csConnected; }));
    ASSERT_TRUE(call->GetCodec());
    EXPECT_EQ(call->GetCodec()->GetPayloadType(), 98);
    EXPECT_EQ(call->GetCodec()->GetOwnPayloadType(), 111);
    // It sends to us under our 111, or, if it keeps to its own, under 98.
    EXPECT_EQ(call->GetNegotiatedPayloadTypes(), (std::vector<int>{111, 98}));
    Engine->Hold(call);
    const TSipMessage hold(Server.NextOf("INVITE"));
    EXPECT_EQ(hold.PayloadTypes, (std::vector<int>{98, 0, 13}));
    EXPECT_NE(hold.Body.find("a=rtpmap:98 opus/48000/2\r\na=fmtp:98 useinbandfec=1"), std::string::npos)
        << hold.Body;
    EXPECT_EQ(hold.Body.find(":111 "), std::string::npos) << hold.Body;
    Engine->HangUp(call);
}

// A speaker that counts the frames it plays that carry sound.
class TLoudFrames : public ISipSpeaker {
public:
    void Play(const void* pcm, int length) override {
        const auto* samples = static_cast<const int16_t*>(pcm);
        double energy = 0;
        for (int n = 0; n < length / 2; ++n) energy += static_cast<double>(samples[n]) * samples[n];
        if (length > 0 && std::sqrt(energy / (length / 2)) > 500) ++Loud;
    }
    bool CanPlay() override { return true; }
    std::atomic<int> Loud{0};
};

// Over loopback: our offer says Opus is 111, the answer calls it 98. The far
// end sends to us under our 111 (an answerer must), or under its own 98 if
// it is lenient with itself; either is heard, and we send it 98.
TEST_F(EngineCodecChoice, RenumberedOpusIsHeardUnderOurNumberAndSentUnderTheAnswers) {
    std::mutex lock;
    std::vector<int> sentTypes;
    TUdpSocket peer(0, nullptr, [&](const std::string&, uint16_t, const uint8_t* data, std::size_t length) {
        std::lock_guard<std::mutex> guard(lock);
        if (length > 12) sentTypes.push_back(data[1] & 0x7F);
    });
    const ISipAccountPtr account = AddAccount();
    Engine->SetCodecs({111, 0});
    std::array<int16_t, kFrameSamples> tone{};
    for (int n = 0; n < kFrameSamples; ++n)
        tone[static_cast<std::size_t>(n)] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * n / 16.0));
    int answers = 0;
    for (const int farEndSends : {111, 98}) {
        SCOPED_TRACE(farEndSends);
        const ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
        const TSipMessage invite(Server.NextOf("INVITE"));
        ASSERT_EQ(invite.PayloadTypes, (std::vector<int>{111, 0, 13}));
        Server.Send(Respond(invite.RawText, "200 OK", "callee",
                            "Contact: <sip:5550100@127.0.0.1:" + std::to_string(Server.Port()) + ">\r\n",
                            SdpBody(peer.LocalPort(), "98 101") + "a=rtpmap:98 opus/48000/2\r\n"),
                    Port);
        EXPECT_FALSE(Server.NextOf("ACK").empty());
        ASSERT_TRUE(Sink->WaitFor("InviteOk", ++answers));
        const auto speaker = std::make_shared<TLoudFrames>();
        call->SetSpeaker(speaker);
        {
            std::lock_guard<std::mutex> guard(lock);
            sentTypes.clear();
        }
        // A second of tone each way, paced as a call sends it.
        const IAudioCodecPtr encoder = media::CreateCodec(111, "");
        ASSERT_TRUE(encoder);
        std::array<uint8_t, 160> payload{};
        auto due = std::chrono::steady_clock::now();
        for (uint16_t sequence = 1; sequence <= 50; ++sequence) {
            const uint32_t timestamp = sequence * 960u;
            std::vector<uint8_t> packet = {0x80, static_cast<uint8_t>(farEndSends), static_cast<uint8_t>(sequence >> 8),
                                           static_cast<uint8_t>(sequence), static_cast<uint8_t>(timestamp >> 24),
                                           static_cast<uint8_t>(timestamp >> 16), static_cast<uint8_t>(timestamp >> 8),
                                           static_cast<uint8_t>(timestamp), 9, 8, 7, 6};
            const int coded = encoder->Encode(tone.data(), payload.data());
            packet.insert(packet.end(), payload.begin(), payload.begin() + coded);
            peer.Send("127.0.0.1", static_cast<uint16_t>(call->GetLocalRtpPort()), packet.data(), packet.size());
            call->SendAudioFrame(tone.data());
            due += 20ms;
            std::this_thread::sleep_until(due);
        }
        EXPECT_TRUE(WaitUntil([&] { return speaker->Loud >= 30; })) << speaker->Loud;
        ASSERT_TRUE(WaitUntil([&] { std::lock_guard<std::mutex> guard(lock); return sentTypes.size() >= 30; }));
        {
            std::lock_guard<std::mutex> guard(lock);
            EXPECT_EQ(std::count(sentTypes.begin(), sentTypes.end(), 98), static_cast<long>(sentTypes.size()));
        }
        Engine->HangUp(call);
        Server.NextOf("BYE");
    }
}

}  // namespace
}  // namespace sip_test
