// The source and payload-type rules of received RTP, stepped through with
// made-up packet times.
#include <gtest/gtest.h>

#include "media/rtp_source_filter.h"

namespace {

using media::TRtpSourceFilter;
using namespace std::chrono_literals;

struct TStep {
    int atMs;
    const char* address;
    uint16_t port;
    bool accepted;
};

void Feed(TRtpSourceFilter& filter, const std::vector<TStep>& steps, const char* sdpAddress = "10.0.0.5",
         int sdpPort = 4000) {
    const TRtpSourceFilter::TClock::time_point start{};
    for (const TStep& s : steps) {
        EXPECT_EQ(filter.AcceptSource(s.address, s.port, sdpAddress, sdpPort, start + s.atMs * 1ms),
                  s.accepted)
            << s.address << ":" << s.port << " at " << s.atMs << " ms";
    }
}

TEST(RtpSourceFilter, TheSdpSourceWinsAndAnotherNeverTakesOverWhileItSends) {
    TRtpSourceFilter filter;
    std::vector<TStep> steps = {
        {0, "10.0.0.5", 4000, true},     // the negotiated source
        {5, "10.0.0.66", 4000, false},   // a spoofer on another host
        {6, "10.0.0.5", 4002, false},    // and on another port of the peer's host
    };
    // A spoofer sending fifty times as fast as the peer for three seconds.
    for (int ms = 20; ms < 3000; ms += 20) {
        steps.push_back({ms, "10.0.0.5", 4000, true});
        for (int i = 0; i < 50; ++i) steps.push_back({ms + 1, "10.0.0.66", 5000, false});
    }
    Feed(filter, steps);
    EXPECT_EQ(filter.DroppedForSource(), 2u + 149u * 50u);
}

TEST(RtpSourceFilter, NatPeerIsLatchedAndAMovedPeerTakesOverAfterAQuietSecond) {
    TRtpSourceFilter filter;
    std::vector<TStep> steps = {
        {0, "203.0.113.9", 31000, true},    // behind NAT: not the SDP's source, first seen
        {10, "198.51.100.1", 7000, false},  // anybody else after it
        {20, "203.0.113.9", 31000, true},
    };
    // The peer's NAT mapping changes: the old source falls silent, the new
    // one is taken once it has been alone for a second.
    for (int ms = 40; ms < 1040; ms += 20) steps.push_back({ms, "203.0.113.9", 31500, false});
    steps.push_back({1040, "203.0.113.9", 31500, true});
    steps.push_back({1060, "203.0.113.9", 31000, false});
    Feed(filter, steps);
}

TEST(RtpSourceFilter, TheFirstSourceIsHeardAtOnceAndTheSdpSourceTakesOver) {
    TRtpSourceFilter filter;
    std::vector<TStep> steps = {
        {0, "198.51.100.20", 9001, true},   // a relay of the peer's, another port: heard at once
        {1, "198.51.100.66", 9000, false},  // anybody else once somebody was heard
        {20, "198.51.100.20", 9001, true},
        {40, "198.51.100.20", 4000, true},  // the SDP's own source is always the peer
        {41, "198.51.100.20", 9001, false},
        {42, "198.51.100.66", 9000, false},
    };
    Feed(filter, steps, "198.51.100.20", 4000);
    EXPECT_TRUE(TRtpSourceFilter::IsBehindNat("192.168.1.20"));
    EXPECT_TRUE(TRtpSourceFilter::IsBehindNat("0.0.0.0"));
    EXPECT_FALSE(TRtpSourceFilter::IsBehindNat("127.0.0.1"));
    EXPECT_FALSE(TRtpSourceFilter::IsBehindNat("172.32.0.1"));
}

TEST(RtpSourceFilter, ANewSdpForgetsTheLatchedSource) {
    TRtpSourceFilter filter;
    Feed(filter, {{0, "203.0.113.9", 31000, true}, {20, "10.0.0.7", 6000, false}});
    // A re-INVITE moved the media to 10.0.0.7:6000.
    Feed(filter, {{40, "10.0.0.7", 6000, true}, {60, "203.0.113.9", 31000, false}}, "10.0.0.7", 6000);
    // And after a move to a private address, the first source is latched anew.
    Feed(filter, {{80, "203.0.113.9", 32000, true}, {100, "10.0.0.7", 6000, false}}, "192.168.0.9", 6000);
}

TEST(RtpSourceFilter, PayloadTypesOnlyFromTheNegotiatedSet) {
    TRtpSourceFilter filter;
    const std::vector<int> negotiated = {8, 3};
    const struct {
        int payloadType;
        std::vector<int> negotiated;
        int current;
        bool accepted;
    } cases[] = {
        {8, negotiated, 8, true},   {3, negotiated, 8, true},  {0, negotiated, 8, false},
        {101, negotiated, 8, true}, {13, negotiated, 8, true},  {127, negotiated, 8, false},
        {0, {}, 0, true},           {8, {}, 0, false},          {101, {}, 0, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(filter.AcceptPayloadType(c.payloadType, c.negotiated, c.current), c.accepted)
            << c.payloadType;
    }
    EXPECT_EQ(filter.DroppedForPayloadType(), 3u);
}

}  // namespace
