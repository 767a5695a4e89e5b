// Codec names and format parameters as an administrator and a far end give
// them, the 48 kHz RTP clock brought to the receive path's scale, and what a
// call costs the line.
#include <gtest/gtest.h>

#include <stdexcept>

#include "media/call_quality.h"
#include "media/codec_names.h"
#include "media/format_parameters.h"
#include "media/rtp_clock.h"

namespace media {
namespace {

TEST(CodecNames, ListsParseInOrderAndUnknownNamesAreRefused) {
    EXPECT_EQ(ParseCodecList("opus,g729,pcmu"), (std::vector<int>{111, 18, 0}));
    EXPECT_EQ(ParseCodecList(" PCMA , gsm,speex"), (std::vector<int>{8, 3, 110}));
    EXPECT_EQ(ParseCodecList("pcmu,pcmu,g729"), (std::vector<int>{0, 18}));
    for (const char* bad : {"opus,g722", "", "pcmu,,opus", "ilbc"}) {
        try {
            ParseCodecList(bad);
            ADD_FAILURE() << bad;
        } catch (const std::invalid_argument& error) {
            EXPECT_NE(std::string(error.what()).find("known: opus, g729, pcmu"), std::string::npos);
        }
    }
    EXPECT_EQ(CodecListText({111, 18, 0, 96}), "opus,g729,pcmu,96");
}

TEST(FormatParameters, NamesAreCaseBlindAndFlagsHaveDefaults) {
    const std::string_view fmtp = "useinbandfec=1; MaxAverageBitrate = 20000;usedtx=0";
    EXPECT_EQ(FormatParameter(fmtp, "maxaveragebitrate"), "20000");
    EXPECT_EQ(FormatParameter(fmtp, "stereo"), std::nullopt);
    EXPECT_TRUE(FormatFlag(fmtp, "useinbandfec", false));
    EXPECT_FALSE(FormatFlag(fmtp, "usedtx", true));
    EXPECT_TRUE(FormatFlag("", "annexb", true));  // RFC 4856: absent means yes
    EXPECT_TRUE(FormatFlag("annexb=Yes", "annexb", false));
    EXPECT_FALSE(FormatFlag("annexb=no", "annexb", true));
}

// Opus timestamps (48 kHz) become 8 kHz samples with their differences kept,
// across the wrap of the 32-bit timestamp and for packets out of order.
TEST(RtpClockScaler, FortyEightKilohertzScalesAcrossTheWrap) {
    TRtpClockScaler scaler;
    const uint32_t start = 0xFFFFFFFFu - 960 * 2 + 1;  // wraps two packets on
    const uint32_t first = scaler.ToPathClock(start, 48000);
    for (uint32_t packet = 1; packet < 6; ++packet) {
        const uint32_t scaled = scaler.ToPathClock(start + packet * 960, 48000);
        EXPECT_EQ(scaled - first, packet * 160) << packet;
    }
    EXPECT_EQ(scaler.ToPathClock(start + 3 * 960, 48000) - first, 3u * 160);  // late one
    TRtpClockScaler narrow;
    EXPECT_EQ(narrow.ToPathClock(0xFFFFFF00u, 8000), 0xFFFFFF00u);
}

TEST(LostPredecessor, OnlyAGapBeforeANewerPacketCounts) {
    TLostPredecessor tracker;
    struct TStep {
        uint16_t sequence;
        bool missing;
    };
    const TStep steps[] = {{65533, false}, {65534, false}, {0, true},  // 65535 lost, across the wrap
                           {65535, false},                            // it came late: known
                           {1, false},     {1, false},     {4, true}};
    for (const TStep& step : steps) EXPECT_EQ(tracker.PreviousMissing(step.sequence), step.missing) << step.sequence;
}

// The figures a shop compares its uplink with: 20 ms packets (50 a second)
// cost 40 bytes of headers each besides the voice.
TEST(WireKbps, HeadersCountWithThePayload) {
    EXPECT_DOUBLE_EQ(WireKbps(50, 50 * 160, 1000), 80.0);   // G.711
    EXPECT_DOUBLE_EQ(WireKbps(50, 50 * 20, 1000), 24.0);    // G.729
    EXPECT_DOUBLE_EQ(WireKbps(500, 500 * 20, 10000), 24.0);
    EXPECT_DOUBLE_EQ(WireKbps(10, 100, 0), 0.0);
}

TEST(CallQualityModel, G729AndOpusUseTheirOwnImpairment) {
    // No loss: R is 93.2 less the codec's Ie (and the delay).
    EXPECT_NEAR(EstimateR(18, 0, 1, 0), 93.2 - 11, 1e-9);
    EXPECT_NEAR(EstimateR(111, 0, 1, 0), 93.2 - 5, 1e-9);
    // At 5% random loss: Ie,eff = Ie + (95 - Ie) * 5 / (5 + Bpl).
    EXPECT_NEAR(EstimateR(18, 5, 1, 0), 93.2 - (11 + 84.0 * 5 / 24), 1e-9);
    EXPECT_NEAR(EstimateR(111, 5, 1, 0), 93.2 - (5 + 90.0 * 5 / 25), 1e-9);
}

// Frames FEC rebuilt are heard: only the losses left count, so Opus with FEC
// on a lossy line rates above G.711 with concealment, and without FEC below.
TEST(CallQualityModel, FecRebuiltFramesAreNotLosses) {
    struct TCase {
        double lossPercent;
        int64_t lost;
        int64_t rebuilt;
        double heardPercent;
    };
    const TCase cases[] = {{5, 50, 45, 0.5}, {2, 20, 20, 0}, {2, 20, 0, 2}, {5, 40, 60, 0}};
    for (const TCase& c : cases) {
        TCallQuality opus;
        opus.received = 1000;
        opus.payloadType = 111;
        opus.lossPercent = c.lossPercent;
        opus.lost = c.lost;
        opus.rebuilt = c.rebuilt;
        Estimate(opus);
        TCallQuality pcmu = opus;
        pcmu.payloadType = 0;
        pcmu.rebuilt = 0;
        Estimate(pcmu);
        EXPECT_NEAR(opus.r, EstimateR(111, c.heardPercent, 1, 40), 1e-9) << c.lossPercent;
        EXPECT_EQ(opus.r > pcmu.r, c.rebuilt > 0) << c.lossPercent;
    }
}

}  // namespace
}  // namespace media
