// Which sender received RTP belongs to, and where its talkspurts begin, as a
// table of packets.
#include <gtest/gtest.h>

#include <vector>

#include "media/rtp_stream_tracker.h"

namespace {

using media::TRtpPacket;
using media::TRtpStreamTracker;
using TVerdict = TRtpStreamTracker::TVerdict;

std::vector<uint8_t> Datagram(uint32_t ssrc, uint16_t sequence, uint32_t timestamp, bool marker = false) {
    return {0x80, static_cast<uint8_t>(marker ? 0x80 : 0), static_cast<uint8_t>(sequence >> 8),
            static_cast<uint8_t>(sequence), static_cast<uint8_t>(timestamp >> 24), static_cast<uint8_t>(timestamp >> 16),
            static_cast<uint8_t>(timestamp >> 8), static_cast<uint8_t>(timestamp), static_cast<uint8_t>(ssrc >> 24),
            static_cast<uint8_t>(ssrc >> 16), static_cast<uint8_t>(ssrc >> 8), static_cast<uint8_t>(ssrc), 0xFF};
}

}  // namespace

// A new SSRC needs two packets in sequence; a stray one never takes over,
// and the first packet of the new sender is given back, not lost.
TEST(RtpStreamTracker, ANewSenderIsTakenAfterTwoPacketsInSequence) {
    const struct {
        uint32_t ssrc;
        uint16_t sequence;
        TVerdict verdict;
    } steps[] = {
        {0xA, 100, TVerdict::Current}, {0xA, 101, TVerdict::Current},
        {0xB, 7, TVerdict::Held},      {0xA, 102, TVerdict::Current},  // a stray packet
        {0xB, 50, TVerdict::Held},     {0xB, 52, TVerdict::Held},      // not in sequence: starts again
        {0xB, 53, TVerdict::Switched}, {0xB, 54, TVerdict::Current},
        {0xA, 103, TVerdict::Held},  // the old sender is now the stranger
    };
    TRtpStreamTracker tracker;
    for (const auto& step : steps) {
        const auto datagram = Datagram(step.ssrc, step.sequence, 0);
        const auto packet = TRtpPacket::Parse(datagram);
        ASSERT_TRUE(packet);
        EXPECT_EQ(tracker.Admit(*packet, datagram), step.verdict) << step.ssrc << "/" << step.sequence;
        if (step.verdict == TVerdict::Switched) {
            const auto held = TRtpPacket::Parse(tracker.Held());
            ASSERT_TRUE(held);
            EXPECT_EQ(held->sequenceNumber, 52);
        }
    }
}

// A talkspurt starts at a marker or where the timestamp runs ahead of the
// sequence number; loss, reordering and 30 ms packets are no talkspurt.
TEST(RtpStreamTracker, TalkspurtsStartAtAMarkerOrATimestampJump) {
    const struct {
        uint16_t sequence;
        uint32_t timestamp;
        int samples;
        bool marker;
        bool starts;
    } steps[] = {
        {1, 0, 160, false, false},       {2, 160, 160, false, false},
        {4, 480, 160, false, false},     // one packet lost
        {3, 320, 160, false, false},     // and found late
        {5, 640 + 1600, 160, false, true},  // 200 ms of silence, sequence goes on
        {6, 2400, 160, true, true},      // a marker
        {7, 2560, 240, false, false},    {8, 2800, 240, false, false},
    };
    TRtpStreamTracker tracker;
    for (const auto& step : steps) {
        const auto datagram = Datagram(0xA, step.sequence, step.timestamp, step.marker);
        const auto packet = TRtpPacket::Parse(datagram);
        ASSERT_TRUE(packet);
        EXPECT_EQ(tracker.StartsTalkspurt(*packet, step.samples), step.starts) << step.sequence;
    }
}
