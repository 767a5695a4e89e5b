// Which codec a call gets when the far end lacks our first choice: an offer
// is answered in our order of preference, an answer is taken in the far
// end's (RFC 3264), and G.729's Annex B and Opus's parameters follow the
// far end's fmtp.
#include "engine_test_fixture.h"
#include "media/codec_g729.h"
#include "media/codec_opus.h"

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

}  // namespace
}  // namespace sip_test
