// Received RTP parsed byte for byte: the payload starts after the CSRCs and
// the header extension and ends before the padding; anything malformed gives
// no packet.
#include <gtest/gtest.h>

#include <vector>

#include "media/rtp_packet.h"

namespace {

struct TCase {
    const char* name;
    std::vector<uint8_t> datagram;
    bool parses;
    std::vector<uint8_t> payload;
};

const TCase kCases[] = {
    {"plain", {0x80, 0x00, 0, 1, 0, 0, 0, 160, 1, 2, 3, 4, 0xAA, 0xBB}, true, {0xAA, 0xBB}},
    {"two csrcs", {0x82, 0x00, 0, 1, 0, 0, 0, 160, 1, 2, 3, 4, 9, 9, 9, 9, 8, 8, 8, 8, 0xAA}, true, {0xAA}},
    {"extension of one word",
     {0x90, 0x00, 0, 1, 0, 0, 0, 160, 1, 2, 3, 4, 0xBE, 0xDE, 0, 1, 7, 7, 7, 7, 0xAA, 0xBB}, true, {0xAA, 0xBB}},
    {"csrc then empty extension",
     {0x91, 0x00, 0, 1, 0, 0, 0, 160, 1, 2, 3, 4, 9, 9, 9, 9, 0x10, 0x00, 0, 0, 0xCC}, true, {0xCC}},
    {"padding of three", {0xA0, 0x00, 0, 1, 0, 0, 0, 160, 1, 2, 3, 4, 0xAA, 0, 0, 3}, true, {0xAA}},
    {"all three",
     {0xB1, 0x00, 0, 1, 0, 0, 0, 160, 1, 2, 3, 4, 9, 9, 9, 9, 0xBE, 0xDE, 0, 1, 7, 7, 7, 7, 0xAA, 0xBB, 2, 2},
     true, {0xAA, 0xBB}},
    {"header only", {0x80, 0x00, 0, 1, 0, 0, 0, 160, 1, 2, 3, 4}, true, {}},
    {"version 1", {0x40, 0x00, 0, 1, 0, 0, 0, 160, 1, 2, 3, 4, 0xAA}, false, {}},
    {"version 0 (a STUN message)", {0x00, 0x01, 0, 0, 0x21, 0x12, 0xA4, 0x42, 1, 2, 3, 4}, false, {}},
    {"short of the fixed header", {0x80, 0x00, 0, 1, 0, 0, 0, 160, 1, 2, 3}, false, {}},
    {"csrcs beyond the end", {0x8F, 0x00, 0, 1, 0, 0, 0, 160, 1, 2, 3, 4, 9, 9, 9, 9}, false, {}},
    {"extension beyond the end", {0x90, 0x00, 0, 1, 0, 0, 0, 160, 1, 2, 3, 4, 0xBE, 0xDE, 0, 4, 7, 7}, false, {}},
    {"padding beyond the payload", {0xA0, 0x00, 0, 1, 0, 0, 0, 160, 1, 2, 3, 4, 0xAA, 5}, false, {}},
    {"padding count of zero", {0xA0, 0x00, 0, 1, 0, 0, 0, 160, 1, 2, 3, 4, 0xAA, 0}, false, {}},
};

}  // namespace

TEST(RtpPacketTest, PayloadSkipsCsrcsExtensionAndPadding) {
    for (const TCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const auto packet = media::TRtpPacket::Parse(c.datagram);
        ASSERT_EQ(packet.has_value(), c.parses);
        if (packet) {
            EXPECT_EQ(std::vector<uint8_t>(packet->payload.begin(), packet->payload.end()), c.payload);
        }
    }
}

TEST(RtpPacketTest, HeaderFields) {
    const std::vector<uint8_t> datagram = {0x80, 0xE5, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0x60, 0xDE, 0xAD, 0xBE, 0xEF, 1};
    const auto packet = media::TRtpPacket::Parse(datagram);
    ASSERT_TRUE(packet);
    EXPECT_TRUE(packet->marker);
    EXPECT_EQ(packet->payloadType, 101);
    EXPECT_EQ(packet->sequenceNumber, 0xFFFE);
    EXPECT_EQ(packet->timestamp, 0xFFFFFF60u);
    EXPECT_EQ(packet->ssrc, 0xDEADBEEFu);
}
