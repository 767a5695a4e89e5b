// Control reports: the compound packet byte for byte, what is read back from
// reports (and what is refused), the round trip arithmetic, and two calls on
// loopback that learn their round trip from each other's reports.
#include <gtest/gtest.h>

#include <thread>

#include "media/codecs.h"
#include "media/rtcp.h"
#include "media/rtp_session.h"
#include "tests/media/rtp_test_util.h"

using namespace rtp_test;

TEST(RtcpTest, SenderReportWithABlockAndCnameByteForByte) {
    media::TRtcpSenderInfo sender{0x0102030405060708ULL, 0x11223344, 500, 80000};
    media::TRtcpReportBlock block;
    block.ssrc = 0xCAFEBABE;
    block.fractionLost = 5;
    block.cumulativeLost = 12;
    block.highestSequence = 0x0001FFFF;
    block.jitter = 80;
    block.lastSenderReport = 0x05060708;
    block.delaySinceLast = 0x00010000;
    const auto bytes = media::ComposeRtcp(0xDEADBEEF, sender, block, "ab");
    const std::vector<uint8_t> expected = {
        0x81, 200, 0x00, 0x0C, 0xDE, 0xAD, 0xBE, 0xEF,  // SR, one block, 13 words
        0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,  // NTP
        0x11, 0x22, 0x33, 0x44, 0x00, 0x00, 0x01, 0xF4,  // RTP time, packets
        0x00, 0x01, 0x38, 0x80,                          // octets
        0xCA, 0xFE, 0xBA, 0xBE, 0x05, 0x00, 0x00, 0x0C,  // block: source, lost
        0x00, 0x01, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x50,  // highest, jitter
        0x05, 0x06, 0x07, 0x08, 0x00, 0x01, 0x00, 0x00,  // LSR, DLSR
        0x81, 202, 0x00, 0x03, 0xDE, 0xAD, 0xBE, 0xEF,  // SDES, one chunk, 4 words
        0x01, 0x02, 'a', 'b', 0x00, 0x00, 0x00, 0x00};  // CNAME "ab", end, padding
    EXPECT_EQ(bytes, expected);

    const auto read = media::ParseRtcp(bytes.data(), bytes.size(), 0xCAFEBABE);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->ssrc, 0xDEADBEEFu);
    EXPECT_EQ(read->senderNtp, 0x0102030405060708ULL);
    ASSERT_TRUE(read->aboutUs);
    EXPECT_EQ(read->aboutUs->cumulativeLost, 12);
    EXPECT_EQ(read->aboutUs->delaySinceLast, 0x00010000u);
    EXPECT_FALSE(media::ParseRtcp(bytes.data(), bytes.size(), 0x12345678)->aboutUs);
}

TEST(RtcpTest, ReceiverReportWithoutBlockAndNegativeLoss) {
    media::TRtcpReportBlock block;
    block.ssrc = 7;
    block.cumulativeLost = -3;  // duplicates outnumber losses
    const auto rr = media::ComposeRtcp(9, std::nullopt, block, "x");
    EXPECT_EQ(rr[1], media::kRtcpReceiverReport);
    EXPECT_EQ(media::ParseRtcp(rr.data(), rr.size(), 7)->aboutUs->cumulativeLost, -3);
    const auto empty = media::ComposeRtcp(9, std::nullopt, std::nullopt, "x");
    EXPECT_EQ(empty[0], 0x80);
    EXPECT_FALSE(media::ParseRtcp(empty.data(), empty.size(), 7)->aboutUs);
}

TEST(RtcpTest, MalformedReportsAreRefused) {
    const auto good = media::ComposeRtcp(1, media::TRtcpSenderInfo{}, std::nullopt, "x");
    auto badVersion = good;
    badVersion[0] = 0x40;
    auto tooLong = good;
    tooLong[3] = 0x40;
    std::vector<uint8_t> sdesFirst(good.begin() + 28, good.end());
    for (const auto& bytes : {badVersion, tooLong, sdesFirst, std::vector<uint8_t>{0x80, 200}})
        EXPECT_FALSE(media::ParseRtcp(bytes.data(), bytes.size(), 1));
    // Cut short: the sender report no longer fits.
    EXPECT_FALSE(media::ParseRtcp(good.data(), 20, 1));
}

TEST(RtcpTest, RoundTripFromLsrAndDlsr) {
    media::TRtcpReportBlock block;
    const uint64_t arrival = uint64_t{0x34000500} << 16;  // its middle bits
    EXPECT_FALSE(media::RoundTripMs(block, arrival));  // no LSR yet
    block.lastSenderReport = 0x34000500 - 0x2000 - 0x1000;
    block.delaySinceLast = 0x1000;  // 62.5 ms held at the far end
    ASSERT_TRUE(media::RoundTripMs(block, arrival));
    EXPECT_NEAR(*media::RoundTripMs(block, arrival), 125.0, 0.01);  // 0x2000 / 65536 s
    block.delaySinceLast = 0x4000;  // longer than the whole span: refused
    EXPECT_FALSE(media::RoundTripMs(block, arrival));
}

TEST(RtcpCallTest, TwoCallsLearnTheirRoundTripFromReports) {
    std::shared_ptr<media::TRtpMediaPath> paths[2] = {std::make_shared<media::TRtpMediaPath>(),
                                                       std::make_shared<media::TRtpMediaPath>()};
    TCallPtr calls[2];
    for (int side = 0; side < 2; ++side) {
        TCallSettings settings;
        settings.mediaPath = paths[side];
        settings.reportInterval = std::chrono::milliseconds(200);
        calls[side] = TCall::Create(std::move(settings));
        calls[side]->SetCodec(media::CodecRegistry().Create(0));
        calls[side]->SetLocalRtpPort(FreePort() & ~1);
        calls[side]->SetRemoteRtpHost("127.0.0.1");
    }
    calls[0]->SetRemoteRtpPort(calls[1]->GetLocalRtpPort());
    calls[1]->SetRemoteRtpPort(calls[0]->GetLocalRtpPort());
    calls[0]->SetMediaActive(true);
    calls[1]->SetMediaActive(true);
    const std::vector<int16_t> frame(160, 300);
    auto due = std::chrono::steady_clock::now();
    for (int n = 0; n < 75; ++n) {
        calls[0]->SendAudioFrame(frame.data());
        calls[1]->SendAudioFrame(frame.data());
        due += std::chrono::milliseconds(20);
        std::this_thread::sleep_until(due);
    }
    for (int side = 0; side < 2; ++side) {
        const media::TCallQuality quality = paths[side]->Quality();
        EXPECT_GE(quality.rttMs, 0) << side;
        EXPECT_LT(quality.rttMs, 50) << side;
        EXPECT_GT(quality.received, 60) << side;
        calls[side]->SetMediaActive(false);
    }
}
