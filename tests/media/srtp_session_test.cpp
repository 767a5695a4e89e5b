// The SRTP transform over single packets: what goes through, and every way a
// packet that must not is stopped and counted.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>
#include <vector>

#include "media/call_srtp.h"
#include "media/srtp_session.h"

using media::TCallSrtp;
using media::TSrtpBuffer;
using media::TSrtpRefusal;
using media::TSrtpSession;
using media::TSrtpSuite;

namespace {

using TKey = std::array<uint8_t, media::kSrtpKeySaltBytes>;

TKey KeyOf(uint8_t seed) {
    TKey key{};
    for (std::size_t n = 0; n < key.size(); ++n)
        key[n] = static_cast<uint8_t>(seed + n * 7);
    return key;
}

// A 20 ms mu-law packet: header with `sequence`, 160 bytes of payload.
std::vector<uint8_t> RtpPacket(uint16_t sequence) {
    std::vector<uint8_t> packet = {0x80, 0x00, static_cast<uint8_t>(sequence >> 8), static_cast<uint8_t>(sequence),
                                   0, 0, 0x10, 0x00, 0x12, 0x34, 0x56, 0x78};
    for (int n = 0; n < 160; ++n)
        packet.push_back(static_cast<uint8_t>(n * 3));
    return packet;
}

// A receiver report with no blocks, and an SDES chunk, as the call sends.
std::vector<uint8_t> RtcpPacket() {
    return {0x80, 201, 0, 1, 0x12, 0x34, 0x56, 0x78, 0x81, 202, 0, 2, 0x12, 0x34, 0x56, 0x78, 1, 1, 'x', 0};
}

std::vector<uint8_t> Protect(TSrtpSession& session, std::vector<uint8_t> packet, bool control = false) {
    const std::size_t length = packet.size();
    packet.resize(length + media::kSrtpMaxGrowth);
    const auto protectedLength = control ? session.ProtectRtcp(packet.data(), length, packet.size())
                                         : session.ProtectRtp(packet.data(), length, packet.size());
    EXPECT_TRUE(protectedLength);
    packet.resize(protectedLength.value_or(0));
    return packet;
}

TSrtpSession::TUnprotected Unprotect(TSrtpSession& session, std::vector<uint8_t>& packet, bool control = false) {
    return control ? session.UnprotectRtcp(packet.data(), packet.size())
                   : session.UnprotectRtp(packet.data(), packet.size());
}

struct TSuiteCase {
    TSrtpSuite suite;
    std::size_t rtpTag;
};

class SrtpSuiteTest : public ::testing::TestWithParam<TSuiteCase> {};

}  // namespace

TEST_P(SrtpSuiteTest, RtpAndRtcpRoundTripEncryptedWithTheSuitesTag) {
    TSrtpSession sender(GetParam().suite, KeyOf(1), TSrtpSession::TDirection::Outbound);
    TSrtpSession receiver(GetParam().suite, KeyOf(1), TSrtpSession::TDirection::Inbound);
    for (uint16_t sequence : {65534, 65535, 0, 1}) {  // across the rollover
        const auto plain = RtpPacket(sequence);
        auto wire = Protect(sender, plain);
        ASSERT_EQ(wire.size(), plain.size() + GetParam().rtpTag);
        EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + 12, wire.begin())) << "header stays readable";
        EXPECT_FALSE(std::equal(plain.begin() + 12, plain.end(), wire.begin() + 12)) << "payload is encrypted";
        const auto result = Unprotect(receiver, wire);
        ASSERT_EQ(result.refusal, TSrtpRefusal::None) << sequence;
        wire.resize(result.length);
        EXPECT_EQ(wire, plain);
    }
    // SRTCP: the index with its E bit and an 80-bit tag for either suite.
    const auto report = RtcpPacket();
    auto wire = Protect(sender, report, true);
    ASSERT_EQ(wire.size(), report.size() + 4 + 10);
    const auto result = Unprotect(receiver, wire, true);
    ASSERT_EQ(result.refusal, TSrtpRefusal::None);
    wire.resize(result.length);
    EXPECT_EQ(wire, report);
}

TEST_P(SrtpSuiteTest, TamperedReplayedOrForeignPacketsAreRefused) {
    struct TCase {
        const char* what;
        int flipAt;  // byte index to change; negative counts from the end
        bool control = false;
        TSrtpRefusal expected = TSrtpRefusal::Authentication;
    };
    const TCase cases[] = {
        {"marker and payload type", 1},
        {"timestamp", 5},
        {"ssrc", 10},
        {"first payload byte", 12},
        {"last payload byte", -static_cast<int>(GetParam().rtpTag) - 1},
        {"authentication tag", -1},
        {"report sender", 5, true},
        {"report body", 12, true},
        {"encrypted bit and index", -11, true},
        {"report tag", -1, true},
    };
    for (const TCase& c : cases) {
        TSrtpSession sender(GetParam().suite, KeyOf(2), TSrtpSession::TDirection::Outbound);
        TSrtpSession receiver(GetParam().suite, KeyOf(2), TSrtpSession::TDirection::Inbound);
        auto wire = Protect(sender, c.control ? RtcpPacket() : RtpPacket(7), c.control);
        const std::size_t at = c.flipAt >= 0 ? static_cast<std::size_t>(c.flipAt) : wire.size() - static_cast<std::size_t>(-c.flipAt);
        wire[at] ^= 0x01;
        EXPECT_EQ(Unprotect(receiver, wire, c.control).refusal, c.expected) << c.what;
    }

    TSrtpSession sender(GetParam().suite, KeyOf(3), TSrtpSession::TDirection::Outbound);
    TSrtpSession receiver(GetParam().suite, KeyOf(3), TSrtpSession::TDirection::Inbound);
    const auto wire = Protect(sender, RtpPacket(9));
    auto first = wire, again = wire;
    EXPECT_EQ(Unprotect(receiver, first).refusal, TSrtpRefusal::None);
    EXPECT_EQ(Unprotect(receiver, again).refusal, TSrtpRefusal::Replay);
    const auto report = Protect(sender, RtcpPacket(), true);
    auto reportFirst = report, reportAgain = report;
    EXPECT_EQ(Unprotect(receiver, reportFirst, true).refusal, TSrtpRefusal::None);
    EXPECT_EQ(Unprotect(receiver, reportAgain, true).refusal, TSrtpRefusal::Replay);

    TSrtpSession stranger(GetParam().suite, KeyOf(4), TSrtpSession::TDirection::Inbound);
    auto foreign = Protect(sender, RtpPacket(10));
    EXPECT_EQ(Unprotect(stranger, foreign).refusal, TSrtpRefusal::Authentication);
    auto tooShort = std::vector<uint8_t>(wire.begin(), wire.begin() + 14);
    EXPECT_EQ(Unprotect(receiver, tooShort).refusal, TSrtpRefusal::Malformed);
}

INSTANTIATE_TEST_SUITE_P(Suites, SrtpSuiteTest,
                         ::testing::Values(TSuiteCase{TSrtpSuite::AesCm128HmacSha1_80, 10},
                                           TSuiteCase{TSrtpSuite::AesCm128HmacSha1_32, 4}));

TEST(SrtpSessionTest, SuitesDoNotReadEachOther) {
    TSrtpSession sender(TSrtpSuite::AesCm128HmacSha1_80, KeyOf(5), TSrtpSession::TDirection::Outbound);
    TSrtpSession receiver(TSrtpSuite::AesCm128HmacSha1_32, KeyOf(5), TSrtpSession::TDirection::Inbound);
    auto wire = Protect(sender, RtpPacket(1));
    EXPECT_EQ(Unprotect(receiver, wire).refusal, TSrtpRefusal::Authentication);
}

TEST(SrtpSessionTest, KeysOfAnotherLengthAreRefused) {
    const std::vector<uint8_t> shortKey(29, 1);
    EXPECT_THROW(TSrtpSession(TSrtpSuite::AesCm128HmacSha1_80, shortKey, TSrtpSession::TDirection::Outbound),
                 std::runtime_error);
}

// The call's transform: its modes, its counters, and keying one direction
// without disturbing the other.
TEST(CallSrtpTest, ModesDecideWhatPassesAndDropsAreCounted) {
    TCallSrtp a, b;
    TSrtpBuffer out, in;
    const auto plain = RtpPacket(100);

    const auto clear = a.ProtectRtp(plain, out);
    EXPECT_EQ(clear.datagram.data(), plain.data()) << "in the clear nothing is copied";
    EXPECT_FALSE(clear.indexUsed);

    a.SetWaiting();
    b.SetWaiting();
    EXPECT_TRUE(a.ProtectRtp(plain, out).datagram.empty()) << "never sent in the clear while keys are awaited";
    EXPECT_FALSE(b.UnprotectRtp(plain, in));
    EXPECT_EQ(b.DroppedWithoutKeys(), 1u);

    a.SetKeys(TSrtpSuite::AesCm128HmacSha1_32, KeyOf(10), KeyOf(11));
    b.SetKeys(TSrtpSuite::AesCm128HmacSha1_32, KeyOf(11), KeyOf(10));
    const auto sent = a.ProtectRtp(plain, out);
    ASSERT_EQ(sent.datagram.size(), plain.size() + 4);
    EXPECT_TRUE(sent.indexUsed);
    std::vector<uint8_t> wire(sent.datagram.begin(), sent.datagram.end());
    const auto heard = b.UnprotectRtp(wire, in);
    ASSERT_TRUE(heard);
    EXPECT_TRUE(std::equal(heard->begin(), heard->end(), plain.begin(), plain.end()));
    EXPECT_FALSE(b.UnprotectRtp(wire, in));
    // libsrtp looks at the index before the tag: the tampered and the plain
    // packet carry numbers not seen yet.
    const auto later = a.ProtectRtp(RtpPacket(150), out);
    std::vector<uint8_t> tampered(later.datagram.begin(), later.datagram.end());
    tampered[20] ^= 0x80;
    EXPECT_FALSE(b.UnprotectRtp(tampered, in));
    EXPECT_FALSE(b.UnprotectRtp(RtpPacket(151), in)) << "a plain packet on an encrypted call";
    EXPECT_EQ(b.DroppedForReplay(), 1u);
    EXPECT_EQ(b.DroppedForAuthentication(), 2u);
    EXPECT_EQ(b.Dropped(), 4u);

    // Only the far end's key changes: our sending goes on under the same
    // session, so a spent sequence number stays spent.
    a.SetKeys(TSrtpSuite::AesCm128HmacSha1_32, KeyOf(10), KeyOf(12));
    const auto repeated = a.ProtectRtp(plain, out);
    EXPECT_TRUE(repeated.datagram.empty());
    EXPECT_TRUE(repeated.indexUsed);
    const auto next = a.ProtectRtp(RtpPacket(152), out);
    std::vector<uint8_t> nextWire(next.datagram.begin(), next.datagram.end());
    EXPECT_TRUE(b.UnprotectRtp(nextWire, in));

    a.SetWaiting();  // a re-offer of an encrypted call keeps its keys
    EXPECT_EQ(a.Mode(), TCallSrtp::TMode::Keyed);
    a.SetPlain();
    EXPECT_EQ(a.ProtectRtp(plain, out).datagram.data(), plain.data());
}

// Keying comes from the signalling thread while the media threads pass
// packets: the far end's key changing over and over replaces our inbound
// session under the packets' feet, and must neither lose a packet on the
// way out nor touch a session that is gone (the sanitizers watch).
TEST(CallSrtpTest, RekeyingWhilePacketsFlowLosesNothing) {
    TCallSrtp a, b;
    a.SetKeys(TSrtpSuite::AesCm128HmacSha1_80, KeyOf(1), KeyOf(2));
    b.SetKeys(TSrtpSuite::AesCm128HmacSha1_80, KeyOf(2), KeyOf(1));
    constexpr int kPackets = 3000;
    std::atomic<int> heard{0}, reports{0};
    std::atomic<bool> done{false};
    std::thread rtp([&] {
        TSrtpBuffer out, in;
        for (int n = 0; n < kPackets; ++n) {
            const auto sent = a.ProtectRtp(RtpPacket(static_cast<uint16_t>(n)), out);
            if (b.UnprotectRtp(sent.datagram, in))
                ++heard;
        }
        done = true;
    });
    std::thread control([&] {
        TSrtpBuffer out, in;
        while (!done) {
            const auto sent = a.ProtectRtcp(RtcpPacket(), out);
            if (b.UnprotectRtcp(sent, in))
                ++reports;
        }
    });
    std::thread stranger([&] {
        TSrtpBuffer in;
        const auto packet = RtpPacket(7);
        while (!done)
            a.UnprotectRtp(packet, in);  // our inbound side, swapped below
    });
    for (uint8_t round = 0; !done; ++round) {
        a.SetKeys(TSrtpSuite::AesCm128HmacSha1_80, KeyOf(1), KeyOf(static_cast<uint8_t>(100 + round % 50)));
        b.SetKeys(TSrtpSuite::AesCm128HmacSha1_80, KeyOf(2), KeyOf(1));  // unchanged: sessions kept
    }
    rtp.join();
    control.join();
    stranger.join();
    EXPECT_EQ(heard, kPackets);
    EXPECT_GT(reports, 0);
    EXPECT_EQ(b.Dropped(), 0u);
    EXPECT_GT(a.DroppedForAuthentication(), 0u);
}
