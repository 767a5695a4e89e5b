// The delay after a network stall: every packet held for a while and then
// let go at once. A sound card pulls each period's frame; arrival times are
// read in whole milliseconds, so a clean line's transits differ by one; the
// line after the stall may be a little rougher than before (a busy machine)
// and still take no more delay than it had.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <map>
#include <string>

#include "media/adaptive_jitter_buffer.h"

using media::TAdaptiveJitterBuffer;
using TOutput = TAdaptiveJitterBuffer::TOutput;

namespace {

struct TStall {
    const char* name;
    double phaseMs;  // of the card's periods against the frames' sending
    double stallMs;  // how long the network holds every packet
    double wobbleMs; // after the stall every third packet is this much slower
};

class AdaptiveJitterBufferStallTest : public ::testing::TestWithParam<TStall> {};

TEST_P(AdaptiveJitterBufferStallTest, DelayComesBackWithinSecondsWithoutLateFrames) {
    const TStall& run = GetParam();
    constexpr double kStallFromMs = 2100;
    constexpr double kEndMs = 14000;
    std::multimap<double, int> arrivals;
    for (int n = 0; 20.0 * n < kEndMs; ++n) {
        double at = 20.0 * n + 3 + (n % 3 == 1 ? (20.0 * n > kStallFromMs ? run.wobbleMs : 1) : 0);
        if (at >= kStallFromMs && at < kStallFromMs + run.stallMs)
            at = kStallFromMs + run.stallMs;  // held, then let go together
        arrivals.insert({at, n});
    }

    TAdaptiveJitterBuffer buffer;
    std::array<uint8_t, TAdaptiveJitterBuffer::kMaxFrameBytes> out{};
    double before = -1, lateAfterBurst = -1, recoveredAt = -1;
    int64_t concealedBefore = 0;
    for (double now = 0; now <= kEndMs; now += 1) {
        while (!arrivals.empty() && arrivals.begin()->first <= now) {
            std::array<uint8_t, 320> frame{};
            buffer.Put(frame.data(), 320, static_cast<uint32_t>(1000 + arrivals.begin()->second) * 160, now);
            arrivals.erase(arrivals.begin());
        }
        if (now == kStallFromMs - 100) {
            before = buffer.DelayMs();
            concealedBefore = buffer.Counters().concealed;
        }
        if (now == kStallFromMs + run.stallMs + 1)
            lateAfterBurst = static_cast<double>(buffer.Counters().late);
        if (now > kStallFromMs + run.stallMs && recoveredAt < 0 && buffer.DelayMs() <= before)
            recoveredAt = now;
        if (static_cast<int>(now - run.phaseMs) % 20 == 0 && now >= run.phaseMs) {
            int length = 0;
            buffer.Pull(now, out.data(), length);
        }
    }
    ASSERT_GE(before, 0);
    ASSERT_EQ(concealedBefore, 0);
    // Back to the delay it had before, a few seconds after the line is.
    ASSERT_GT(recoveredAt, 0) << "the delay stayed at " << buffer.DelayMs() << " ms, " << before << " before";
    EXPECT_LE(recoveredAt - (kStallFromMs + run.stallMs), 3500);
    EXPECT_LE(buffer.DelayMs(), before);
    // What the stall itself cost (frames held beyond any growth) and nothing
    // more: coming back down makes no frame late.
    EXPECT_EQ(static_cast<double>(buffer.Counters().late), lateAfterBurst);
    EXPECT_LE(lateAfterBurst, std::ceil((run.stallMs - TAdaptiveJitterBuffer::kMaxGrowthMs) / TAdaptiveJitterBuffer::kFrameMs));
}

INSTANTIATE_TEST_SUITE_P(Stalls, AdaptiveJitterBufferStallTest,
                         ::testing::Values(TStall{"Stall200Phase0", 0, 200, 1}, TStall{"Stall200Phase7", 7, 200, 1},
                                           TStall{"Stall200Phase15", 15, 200, 1}, TStall{"Stall150Phase4", 4, 150, 1},
                                           TStall{"Stall400Phase11", 11, 400, 1},
                                           TStall{"Stall200Wobble3Phase7", 7, 200, 3},
                                           TStall{"Stall200Wobble3Phase15", 15, 200, 3}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
