#include "media/call_quality.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace media {

namespace {

struct TCodecImpairment {
    double ie;
    double bpl;
};

TCodecImpairment ImpairmentOf(int payloadType, bool concealment) {
    switch (payloadType) {
    case 0:
    case 8:
        return {0, concealment ? 25.1 : 4.3};
    case 3:
        return {20, concealment ? 10 : 4.3};
    case 18:  // G.729A (G.113 Appendix I); its own concealment is built in
        return {11, 19};
    case 111:
        // Opus as we run it: narrow-band (the booth's audio is 8 kHz and our
        // SDP says maxplaybackrate=8000), its speech layer at 12-20 kbit/s.
        // G.113 lists no Opus. Its nearest listed kin, a narrow-band
        // linear-predictive coder at a similar rate, is AMR/GSM-EFR at
        // 12.2 kbit/s with Ie 5; Opus here has more bits than that, so 5
        // errs low for Opus, never in its favour. Bpl 20, between G.729A's
        // 19 and G.711-with-concealment's 25.1: its concealment extrapolates
        // the speech model as G.729A's does. FEC needs no Bpl of its own:
        // Estimate counts only the losses it did not rebuild.
        return {5, concealment ? 20 : 4.3};
    default:
        return {11, concealment ? 15 : 4.3};  // Speex (dynamic payload types)
    }
}

}  // namespace

double EstimateR(int payloadType, double lossPercent, double meanBurst, double oneWayDelayMs,
                 bool concealment) {
    const TCodecImpairment codec = ImpairmentOf(payloadType, concealment);
    const double loss = std::clamp(lossPercent, 0.0, 100.0);
    // BurstR: observed burst length over the one random loss would give.
    const double burstR = std::max(1.0, meanBurst * (1.0 - loss / 100.0));
    const double ieEff = codec.ie + (95.0 - codec.ie) * loss / (loss / burstR + codec.bpl);
    const double d = std::max(0.0, oneWayDelayMs);
    const double id = 0.024 * d + (d > 177.3 ? 0.11 * (d - 177.3) : 0.0);
    return std::clamp(93.2 - id - ieEff, 0.0, 100.0);
}

double MosFromR(double r) {
    if (r <= 0)
        return 1;
    if (r >= 100)
        return 4.5;
    return 1 + 0.035 * r + 7e-6 * r * (r - 60) * (100 - r);
}

void Estimate(TCallQuality& quality) {
    if (!quality.HasData()) {
        // Nothing heard, nothing to rate: a perfect score would be a lie.
        quality.r = quality.mos = 0;
        return;
    }
    constexpr double kFramingMs = 40;  // a frame filling at the sender, a frame playing here
    const double network = quality.rttMs > 0 ? quality.rttMs / 2 : 0;
    // A frame the next packet's FEC rebuilt was heard, not concealed: the
    // listener's loss is what is left. (The rebuilt frame is coded at a
    // lower rate than the lost one; on 1 frame in 20 or fewer that is below
    // what this model resolves.)
    const double missing = static_cast<double>(std::max<int64_t>(0, quality.lost) + quality.late);
    const double heard = missing > 0 ? std::max(0.0, missing - static_cast<double>(quality.rebuilt)) / missing : 1;
    quality.r = EstimateR(quality.payloadType, quality.lossPercent * heard, quality.meanBurst,
                          quality.bufferDelayMs + kFramingMs + network);
    quality.mos = MosFromR(quality.r);
}

std::string TCallQuality::Text() const {
    std::array<char, 64> rtt{};
    if (rttMs >= 0)
        std::snprintf(rtt.data(), rtt.size(), "%.0f ms", rttMs);
    else
        std::snprintf(rtt.data(), rtt.size(), "-");
    std::array<char, 64> rating{};
    if (HasData())
        std::snprintf(rating.data(), rating.size(), "R %.1f MOS %.2f", r, mos);
    else
        std::snprintf(rating.data(), rating.size(), "R - MOS - (no data)");
    std::array<char, 320> text{};
    std::snprintf(text.data(), text.size(),
                  "received %lld lost %lld late %lld concealed %lld loss %.2f%% jitter %.1f ms "
                  "buffer %.0f ms rtt %s %s kbps %.1f",
                  static_cast<long long>(received), static_cast<long long>(std::max<int64_t>(0, lost)),
                  static_cast<long long>(late), static_cast<long long>(concealed), lossPercent,
                  jitterMs, bufferDelayMs, rtt.data(), rating.data(), sendKbps);
    return text.data();
}

double WireKbps(uint32_t packets, uint32_t payloadOctets, uint32_t elapsedMs) {
    constexpr double kHeaderBytes = 12 + 8 + 20;
    if (elapsedMs == 0) return 0;
    const double bytes = static_cast<double>(payloadOctets) + kHeaderBytes * packets;
    return bytes * 8 / elapsedMs;  // bits per ms are kilobits per second
}

}  // namespace media
