// The agent's own RTP path of SRTP against known answers and, packet for
// packet, against libsrtp: the same packets must come out byte for byte,
// and the same datagrams (late, repeated, forged, of a restarted stream)
// must be taken or refused alike.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "media/srtp_session.h"
#include "media/srtp_session_keys.h"

using media::TSrtpRefusal;
using media::TSrtpRtpCode;
using media::TSrtpSession;
using media::TSrtpSuite;

namespace {

using TBytes = std::vector<uint8_t>;

TBytes Hex(const std::string& text) {
    TBytes bytes;
    for (std::size_t at = 0; at + 1 < text.size(); at += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(text.substr(at, 2), nullptr, 16)));
    return bytes;
}

// RFC 3711 appendix B.3's master key and salt.
const TBytes kMaster = Hex("E1F97A0D3E018BE0D64FA32C06DE4139" "0EC675AD498AFEEBB6960B3AABE6");

TEST(SrtpRtpTransformTest, SessionKeysAndAPacketMatchTheKnownAnswers) {
    const media::TSrtpSessionKeys keys = media::DeriveRtpSessionKeys(std::span<const uint8_t, 30>(kMaster.data(), 30));
    EXPECT_EQ(TBytes(keys.cipherKey.begin(), keys.cipherKey.end()), Hex("C61E7A93744F39EE10734AFE3FF7A087"));
    EXPECT_EQ(TBytes(keys.cipherSalt.begin(), keys.cipherSalt.end()), Hex("30CBBC08863D8C85D49DB34A9AE1"));
    EXPECT_EQ(TBytes(keys.authKey.begin(), keys.authKey.end()), Hex("CEBE321F6FF7716B6FD4AB49AF256A156D38BAA4"));

    // A packet as libsrtp, on its own crypto, protects it under that key.
    const TBytes plain = Hex("800F1234DECAFBADCAFEBABE" "ABABABABABABABABABABABABABABABAB");
    const TBytes expected = Hex("800F1234DECAFBADCAFEBABE" "4E55DC4CE79978D88CA4D215949D2402" "B78D6ACC99EA179B8DBB");
    TSrtpSession sender(TSrtpSuite::AesCm128HmacSha1_80, kMaster, TSrtpSession::TDirection::Outbound);
    TBytes wire = plain;
    wire.resize(plain.size() + media::kSrtpMaxGrowth);
    const auto length = sender.ProtectRtp(wire.data(), plain.size(), wire.size());
    ASSERT_TRUE(length);
    wire.resize(*length);
    EXPECT_EQ(wire, expected);
    TSrtpSession receiver(TSrtpSuite::AesCm128HmacSha1_80, kMaster, TSrtpSession::TDirection::Inbound);
    const auto heard = receiver.UnprotectRtp(wire.data(), wire.size());
    ASSERT_EQ(heard.refusal, TSrtpRefusal::None);
    wire.resize(heard.length);
    EXPECT_EQ(wire, plain);
}

struct TSent {
    uint32_t ssrc;
    uint16_t sequence;
    bool contributors = false;  // two CSRCs and a one-word header extension
};

struct TDelivered {
    std::size_t sent;      // which of the sent packets
    int flipAt = -1;       // a byte changed on the way (from the end when < -1)
};

struct TScenario {
    const char* name;
    std::vector<TSent> sent;
    std::vector<TDelivered> delivered;
};

TBytes RtpPacket(const TSent& sent) {
    TBytes packet = {static_cast<uint8_t>(sent.contributors ? 0x92 : 0x80), 0x00,
                     static_cast<uint8_t>(sent.sequence >> 8), static_cast<uint8_t>(sent.sequence),
                     0, 0, 0x03, 0x20,
                     static_cast<uint8_t>(sent.ssrc >> 24), static_cast<uint8_t>(sent.ssrc >> 16),
                     static_cast<uint8_t>(sent.ssrc >> 8), static_cast<uint8_t>(sent.ssrc)};
    if (sent.contributors) {
        for (uint8_t b : {1, 2, 3, 4, 5, 6, 7, 8})
            packet.push_back(b);
        for (uint8_t b : {0xbe, 0xde, 0x00, 0x01, 0x10, 0xaa, 0x00, 0x00})
            packet.push_back(b);
    }
    for (int n = 0; n < 160; ++n)
        packet.push_back(static_cast<uint8_t>(sent.sequence + n * 5));
    return packet;
}

std::optional<TBytes> Protect(TSrtpSession& session, const TBytes& plain) {
    TBytes wire = plain;
    wire.resize(plain.size() + media::kSrtpMaxGrowth);
    const auto length = session.ProtectRtp(wire.data(), plain.size(), wire.size());
    if (!length)
        return std::nullopt;
    wire.resize(*length);
    return wire;
}

std::vector<TSent> Run(uint32_t ssrc, int from, int count) {
    std::vector<TSent> sent;
    for (int n = 0; n < count; ++n)
        sent.push_back({ssrc, static_cast<uint16_t>(from + n)});
    return sent;
}

std::vector<TDelivered> InOrder(std::size_t count) {
    std::vector<TDelivered> delivered;
    for (std::size_t n = 0; n < count; ++n)
        delivered.push_back({n});
    return delivered;
}

std::vector<TScenario> Scenarios() {
    std::vector<TScenario> all;
    all.push_back({"across the rollover, one late from before it and one repeated",
                   Run(7, 65533, 6), {{0}, {1}, {3}, {2}, {4}, {5}, {3}}});
    all.push_back({"a stream that starts on the last number", Run(7, 65535, 3), InOrder(3)});
    {
        TScenario jump{"a jump of more than half the numbers early in a stream and after it", Run(7, 10, 2), {}};
        for (int sequence : {40000, 40001, 5000, 5001, 39000})
            jump.sent.push_back({7, static_cast<uint16_t>(sequence)});
        jump.delivered = InOrder(jump.sent.size());
        all.push_back(jump);
    }
    {
        TScenario window{"lost, late inside the window and too late for it", Run(9, 1, 200), {}};
        for (std::size_t n = 0; n < 200; ++n)
            if (n != 59 && n != 71 && n != 72 && n != 79)
                window.delivered.push_back({n});
        window.delivered.push_back({79});   // 120 behind the highest
        window.delivered.push_back({72});   // 127 behind: the window's last
        window.delivered.push_back({71});   // 128 behind: too late
        window.delivered.push_back({59});   // 140 behind
        window.delivered.push_back({199});  // repeated
        all.push_back(window);
    }
    {
        TScenario restart{"a restarted stream under a new SSRC, then a packet of the old one", Run(1, 100, 3), {}};
        for (const TSent& sent : Run(2, 5000, 3))
            restart.sent.push_back(sent);
        restart.sent.push_back({1, 103});
        restart.delivered = InOrder(restart.sent.size());
        restart.delivered.push_back({4});
        all.push_back(restart);
    }
    all.push_back({"forged on the way: payload, tag and sequence number, then the real packets",
                   Run(3, 500, 3),
                   {{0, 20}, {0, -2}, {0, 3}, {0}, {1, 12}, {1}, {2}}});
    all.push_back({"contributors and a header extension stay readable and signed",
                   {{4, 1, true}, {4, 2, true}, {4, 3}},
                   {{0}, {1, 13}, {1, 25}, {1}, {2}}});
    all.push_back({"a number the sender already used", {{5, 7}, {5, 8}, {5, 7}, {5, 9}}, InOrder(4)});
    return all;
}

class SrtpAgainstLibsrtpTest : public ::testing::TestWithParam<TSrtpSuite> {};

}  // namespace

TEST_P(SrtpAgainstLibsrtpTest, SameBytesOutAndSameVerdictsIn) {
    const TSrtpSuite suite = GetParam();
    const TBytes key = Hex("0102030405060708090A0B0C0D0E0F10" "A1A2A3A4A5A6A7A8A9AAABACADAE");
    for (const TScenario& scenario : Scenarios()) {
        SCOPED_TRACE(scenario.name);
        TSrtpSession agentSender(suite, key, TSrtpSession::TDirection::Outbound, TSrtpRtpCode::Agent);
        TSrtpSession librarySender(suite, key, TSrtpSession::TDirection::Outbound, TSrtpRtpCode::Libsrtp);
        std::vector<std::optional<TBytes>> wire;
        for (const TSent& sent : scenario.sent) {
            const TBytes plain = RtpPacket(sent);
            const auto ours = Protect(agentSender, plain);
            const auto reference = Protect(librarySender, plain);
            ASSERT_EQ(ours.has_value(), reference.has_value()) << "sequence " << sent.sequence;
            if (ours) {
                EXPECT_EQ(*ours, *reference) << "sequence " << sent.sequence;
            }
            wire.push_back(reference);
        }
        // Both receivers take the same datagrams; each must decide as the
        // other, from its own state alone.
        TSrtpSession agentReceiver(suite, key, TSrtpSession::TDirection::Inbound, TSrtpRtpCode::Agent);
        TSrtpSession libraryReceiver(suite, key, TSrtpSession::TDirection::Inbound, TSrtpRtpCode::Libsrtp);
        int taken = 0;
        for (std::size_t n = 0; n < scenario.delivered.size(); ++n) {
            const TDelivered& delivered = scenario.delivered[n];
            if (!wire[delivered.sent])
                continue;  // the sender refused it: nothing went out
            TBytes datagram = *wire[delivered.sent];
            if (delivered.flipAt >= 0)
                datagram[static_cast<std::size_t>(delivered.flipAt)] ^= 0x40;
            else if (delivered.flipAt < -1)
                datagram[datagram.size() - static_cast<std::size_t>(-delivered.flipAt - 1)] ^= 0x40;
            TBytes ours = datagram, reference = datagram;
            const auto ourVerdict = agentReceiver.UnprotectRtp(ours.data(), ours.size());
            const auto referenceVerdict = libraryReceiver.UnprotectRtp(reference.data(), reference.size());
            ASSERT_EQ(ourVerdict.refusal, referenceVerdict.refusal) << "delivery " << n;
            if (ourVerdict.refusal != TSrtpRefusal::None)
                continue;
            ++taken;
            ours.resize(ourVerdict.length);
            EXPECT_EQ(ours, RtpPacket(scenario.sent[delivered.sent])) << "delivery " << n;
        }
        EXPECT_GT(taken, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Suites, SrtpAgainstLibsrtpTest,
                         ::testing::Values(TSrtpSuite::AesCm128HmacSha1_80, TSrtpSuite::AesCm128HmacSha1_32));
