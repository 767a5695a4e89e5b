// SRTP calls of the engine: when keys may go into the SDP at all, which
// offers and answers are met and which refused, and a call whose audio
// crosses the wire encrypted both ways while forged packets are dropped.
#include <array>
#include <cmath>
#include <mutex>

#include "engine_test_fixture.h"
#include "media/codec_g711.h"
#include "media/srtp_session.h"
#include "sip/sdp.h"
#include "sip/sdp_crypto.h"

namespace sip_test {
namespace {

std::string SecureSdp(int port, const std::vector<TSdpCrypto>& crypto, const std::string& extra = "") {
    std::string body = "v=0\r\no=peer 1 1 IN IP4 127.0.0.1\r\ns=peer\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                       "m=audio " + std::to_string(port) + " RTP/SAVP 0\r\n";
    for (const TSdpCrypto& line : crypto) body += SdpCryptoLine(line);
    return body + extra;
}

std::string SdpOf(const std::string& message) { return TSipMessage(message).Body; }

media::TSrtpSuite SuiteOf(const TSdpCrypto& crypto) {
    return crypto.suite == kSrtpSuite32 ? media::TSrtpSuite::AesCm128HmacSha1_32
                                        : media::TSrtpSuite::AesCm128HmacSha1_80;
}

// A speaker that keeps what it plays.
class TKeptSpeaker : public ISipSpeaker {
public:
    void Play(const void* pcm, int length) override {
        std::lock_guard<std::mutex> guard(Lock);
        const auto* samples = static_cast<const int16_t*>(pcm);
        Samples.insert(Samples.end(), samples, samples + length / 2);
    }
    bool CanPlay() override { return true; }
    std::vector<int16_t> Take() {
        std::lock_guard<std::mutex> guard(Lock);
        return Samples;
    }
    std::mutex Lock;
    std::vector<int16_t> Samples;
};

// One 20 ms frame of a 1 kHz tone: eight samples a period, so every frame
// is the same.
std::array<int16_t, kFrameSamples> ToneFrame() {
    std::array<int16_t, kFrameSamples> frame{};
    for (int n = 0; n < kFrameSamples; ++n)
        frame[static_cast<std::size_t>(n)] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * n / 8.0));
    return frame;
}

// The share of a stretch's energy at 1 kHz (1: a pure tone).
double ToneShare(const std::vector<int16_t>& samples) {
    double re = 0, im = 0, energy = 0;
    for (std::size_t n = 0; n < samples.size(); ++n) {
        re += samples[n] * std::cos(2 * M_PI * static_cast<double>(n) / 8.0);
        im += samples[n] * std::sin(2 * M_PI * static_cast<double>(n) / 8.0);
        energy += static_cast<double>(samples[n]) * samples[n];
    }
    const double count = static_cast<double>(samples.size());
    return energy > 0 ? 2 * (re * re + im * im) / count / energy : 0;
}

class EngineSrtp : public EngineTest {
protected:
    void Configure(TSipEngineOptions& options) override { options.srtpOnPlainSignalling = SecureSignalling(); }
    virtual bool SecureSignalling() const { return true; }

    // Sends an offer; returns the status of the agent's answer to it: 180
    // once it rings (then answered, the 200's SDP in `answer`), or the
    // refusal.
    std::string Offer(const std::string& callId, const std::string& sdp, std::string* answer = nullptr) {
        Server.Send(IncomingInvite(callId, sdp), Port);
        for (;;) {
            const std::string response = Server.Next();
            if (response.empty()) return "(none)";
            const TSipMessage message(response);
            const std::string status = message.StatusCode;
            // A refusal before is sent again until acknowledged: only this call's answers count.
            if (message.CallId != callId || message.CSeqMethod != "INVITE" || status.empty() || status == "100")
                continue;
            if (status != "180") return status;
            EXPECT_TRUE(Sink->WaitFor("Invite", ++Offers));
            Engine->Answer(Sink->OfferedCall());
            const std::string ok = Server.NextOf("INVITE", "200");
            if (answer) *answer = SdpOf(ok);
            return status;
        }
    }

    int Offers = 0;
};

class EnginePlainSignalling : public EngineSrtp {
protected:
    bool SecureSignalling() const override { return false; }
};

}  // namespace

TEST_F(EnginePlainSignalling, NoKeysGoOutAndSrtpOffersAreRefused) {
    const ISipAccountPtr account = AddAccount();
    const ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
    const std::string invite = Server.NextOf("INVITE");
    EXPECT_NE(invite.find(" RTP/AVP "), std::string::npos);
    EXPECT_EQ(invite.find("crypto"), std::string::npos);
    EXPECT_FALSE(call->GetCrypto().Wanted());
    Engine->HangUp(call);

    EXPECT_EQ(Offer("plain-signalling", SecureSdp(FreeUdpPort(), {NewSdpCrypto(1, kSrtpSuite80)})), "488");
}

TEST_F(EngineSrtp, IncomingOffersAreAnsweredWithKeysOrRefused) {
    AddAccount();
    const TSdpCrypto short32 = NewSdpCrypto(3, kSrtpSuite32), long80 = NewSdpCrypto(4, kSrtpSuite80);
    const std::string mki = "a=crypto:1 AES_CM_128_HMAC_SHA1_80 inline:" +
                            SdpCryptoLine(long80).substr(41, 40) + "|2^31|1:4\r\n";
    struct TCase {
        const char* name;
        std::string sdp;
        std::string status;
        std::string answerProfile;
        int answerTag;  // 0: no crypto in the answer
    };
    const int port = FreeUdpPort();
    const TCase cases[] = {
        {"both suites, ours first", SecureSdp(port, {short32, long80}), "180", "RTP/SAVP", 4},
        {"the short tag only", SecureSdp(port, {short32}), "180", "RTP/SAVP", 3},
        {"a key index", SecureSdp(port, {}, mki), "488", "", 0},
        {"no crypto at all", SecureSdp(port, {}), "488", "", 0},
        {"in the clear", SdpBody(port, "0"), "180", "RTP/AVP", 0},
        // Best effort: crypto inside RTP/AVP is met, and answered in RTP/AVP.
        {"keys in RTP/AVP", SdpBody(port, "0") + SdpCryptoLine(short32), "180", "RTP/AVP", 3},
        {"unusable keys in RTP/AVP", SdpBody(port, "0") + mki, "180", "RTP/AVP", 0},
    };
    int index = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string answer;
        ASSERT_EQ(Offer("offer-" + std::to_string(++index), c.sdp, &answer), c.status);
        if (c.status != "180") {
            EXPECT_TRUE(Server.NextOf("ACK", "", 0ms).empty());
            continue;
        }
        const TSdpAudio read = ReadSdpAudio(answer);
        EXPECT_EQ(read.profile, c.answerProfile);
        ASSERT_EQ(read.crypto.size(), c.answerTag ? 1u : 0u) << answer;
        const TCallCrypto crypto = Sink->OfferedCall()->GetCrypto();
        EXPECT_EQ(crypto.Agreed(), c.answerTag != 0);
        if (c.answerTag == 0) continue;
        EXPECT_EQ(read.crypto[0].tag, c.answerTag);
        EXPECT_EQ(read.crypto[0], *crypto.local);
        EXPECT_EQ(crypto.remote->tag, c.answerTag);
        EXPECT_NE(crypto.local->keySalt, crypto.remote->keySalt);
    }
}

TEST_F(EngineSrtp, OurOfferIsKeptOnlyWhenTheAnswerMeetsIt) {
    const ISipAccountPtr account = AddAccount();
    struct TCase {
        const char* name;
        int answerTag;          // the tag the answer names; 0: answered in the clear
        const char* suite;
        bool kept;
    };
    const TCase cases[] = {
        {"the second suite", 2, "AES_CM_128_HMAC_SHA1_32", true},
        {"in the clear", 0, "", false},
        {"a tag never offered", 7, "AES_CM_128_HMAC_SHA1_80", false},
        {"the first tag with the other suite", 1, "AES_CM_128_HMAC_SHA1_32", false},
    };
    int byes = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
        const std::string invite = Server.NextOf("INVITE");
        const TSdpAudio offer = ReadSdpAudio(SdpOf(invite));
        ASSERT_EQ(offer.profile, "RTP/SAVP");
        ASSERT_EQ(offer.crypto.size(), 2u);
        EXPECT_EQ(offer.crypto, call->GetCrypto().offered);
        const TSdpCrypto theirs = NewSdpCrypto(c.answerTag, c.suite);
        const std::string answer = c.answerTag ? SecureSdp(FreeUdpPort(), {theirs}) : SdpBody(FreeUdpPort(), "0");
        Server.Send(Respond(invite, "200 OK", "far" + std::to_string(c.answerTag), "", answer), Port);
        EXPECT_FALSE(Server.NextOf("ACK").empty());
        if (c.kept) {
            ASSERT_TRUE(WaitUntil([&] { return call->GetCrypto().Agreed(); }));
            EXPECT_EQ(call->GetCrypto().remote, theirs);
            EXPECT_EQ(call->GetCrypto().local, offer.crypto[1]);
            EXPECT_EQ(call->GetState(), csConnected);
            Engine->HangUp(call);
        } else {
            ASSERT_TRUE(Sink->WaitFor("Bye", ++byes));
            EXPECT_EQ(call->GetStatusText(), "488");
            EXPECT_FALSE(call->GetMediaActive());
        }
        EXPECT_FALSE(Server.NextOf("BYE").empty());
    }
}

TEST_F(EngineSrtp, AudioCrossesEncryptedBothWaysAndForgeriesAreDropped) {
    AddAccount();
    // The far end: an RTP socket of its own, keyed by its offer.
    std::mutex lock;
    std::vector<std::vector<uint8_t>> arrived;
    TUdpSocket peer(0, nullptr, [&](const std::string&, uint16_t, const uint8_t* data, std::size_t length) {
        std::lock_guard<std::mutex> guard(lock);
        arrived.emplace_back(data, data + length);
    });
    const TSdpCrypto theirs = NewSdpCrypto(1, kSrtpSuite80);
    std::string answer;
    ASSERT_EQ(Offer("srtp-audio", SecureSdp(peer.LocalPort(), {theirs}), &answer), "180");
    const std::vector<TSdpCrypto> ours = ReadSdpAudio(answer).crypto;
    ASSERT_EQ(ours.size(), 1u);
    const ISipCallPtr call = Sink->OfferedCall();
    auto& media = dynamic_cast<TCall&>(*call);
    const auto speaker = std::make_shared<TKeptSpeaker>();
    call->SetSpeaker(speaker);

    const auto tone = ToneFrame();
    std::array<uint8_t, kFrameSamples> coded{};
    media::TCodecPCMU().Encode(tone.data(), coded.data());
    media::TSrtpSession sender(SuiteOf(theirs), theirs.keySalt, media::TSrtpSession::TDirection::Outbound);
    auto protectedPacket = [&](uint16_t sequence) {
        const uint32_t timestamp = sequence * 160u;
        std::vector<uint8_t> packet = {0x80, 0, static_cast<uint8_t>(sequence >> 8), static_cast<uint8_t>(sequence),
                                       0, static_cast<uint8_t>(timestamp >> 16), static_cast<uint8_t>(timestamp >> 8),
                                       static_cast<uint8_t>(timestamp), 1, 2, 3, 4};
        packet.insert(packet.end(), coded.begin(), coded.end());
        const std::size_t length = packet.size();
        packet.resize(length + media::kSrtpMaxGrowth);
        packet.resize(*sender.ProtectRtp(packet.data(), length, packet.size()));
        return packet;
    };
    const uint16_t to = static_cast<uint16_t>(call->GetLocalRtpPort());

    // One second of tone from the far end, paced as it would come, while the
    // agent sends its own: both directions at once, as in a call.
    auto due = std::chrono::steady_clock::now();
    std::vector<uint8_t> last;
    for (uint16_t sequence = 1; sequence <= 50; ++sequence) {
        last = protectedPacket(sequence);
        peer.Send("127.0.0.1", to, last.data(), last.size());
        call->SendAudioFrame(tone.data());
        due += 20ms;
        std::this_thread::sleep_until(due);
    }
    ASSERT_TRUE(WaitUntil([&] { return speaker->Take().size() >= 40 * kFrameSamples; }));
    const std::vector<int16_t> heard = speaker->Take();
    // The buffer's first frames may be its build-up: the tone is judged
    // after them.
    EXPECT_GT(ToneShare(std::vector<int16_t>(heard.begin() + 10 * kFrameSamples, heard.end())), 0.9);

    // What the agent sent reads only with its key, and reads as the tone.
    ASSERT_TRUE(WaitUntil([&] { std::lock_guard<std::mutex> guard(lock); return arrived.size() >= 40; }));
    media::TSrtpSession receiver(SuiteOf(ours[0]), ours[0].keySalt, media::TSrtpSession::TDirection::Inbound);
    int clean = 0;
    {
        std::lock_guard<std::mutex> guard(lock);
        for (std::vector<uint8_t> packet : arrived) {
            if (packet.size() < 12 || (packet[1] & 0x7F) != 0) continue;  // audio only
            EXPECT_FALSE(std::equal(coded.begin(), coded.end(), packet.begin() + 12)) << "sent in the clear";
            const auto plain = receiver.UnprotectRtp(packet.data(), packet.size());
            ASSERT_EQ(plain.refusal, media::TSrtpRefusal::None);
            if (plain.length == 12 + coded.size() && std::equal(coded.begin(), coded.end(), packet.begin() + 12))
                ++clean;
        }
    }
    EXPECT_GE(clean, 40);

    // Forgeries: a tampered packet, a packet in the clear, a replay. None
    // reaches the call, each is counted.
    const uint64_t received = media.GetMediaReceived();
    std::vector<uint8_t> tampered = protectedPacket(60);
    tampered[20] ^= 0x10;
    std::vector<uint8_t> clear = {0x80, 0, 0, 61, 0, 0, 0, 0, 1, 2, 3, 4};
    clear.insert(clear.end(), coded.begin(), coded.end());
    for (const auto* packet : {&tampered, &clear, &last})
        peer.Send("127.0.0.1", to, packet->data(), packet->size());
    ASSERT_TRUE(WaitUntil([&] { return media.Srtp().Dropped() >= 3; }));
    EXPECT_EQ(media.Srtp().DroppedForAuthentication(), 2u);
    EXPECT_EQ(media.Srtp().DroppedForReplay(), 1u);
    EXPECT_EQ(media.GetMediaReceived(), received);
    const std::vector<uint8_t> genuine = protectedPacket(62);
    peer.Send("127.0.0.1", to, genuine.data(), genuine.size());
    EXPECT_TRUE(WaitUntil([&] { return media.GetMediaReceived() > received; }));
    Engine->HangUp(call);
}

}  // namespace sip_test
