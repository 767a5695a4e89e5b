// The quality figures of one call's received audio, and the estimate of how
// a listener would rate it from the simplified E-model of ITU-T G.107:
//
//   R = 93.2 - Id - Ie,eff
//   Id = 0.024 d + 0.11 (d - 177.3) when d > 177.3      (d: one-way delay, ms)
//   Ie,eff = Ie + (95 - Ie) Ppl / (Ppl / BurstR + Bpl)   (Ppl: loss in percent)
//   MOS = 1 + 0.035 R + 7e-6 R (R - 60) (100 - R)
//
// Ie and Bpl are the codec's impairment and loss robustness (ITU-T G.113):
// G.711 0 and 25.1 with concealment (4.3 without), G.729A 11 and 19. For
// GSM 06.10, Speex and Opus the tables give no robustness figure; 20 / 10,
// 11 / 15 and 5 / 20 (call_quality.cpp says why) are estimates.
// Losses count what never came and what came too late to play, less the
// frames a codec's FEC rebuilt from the next packet.
#pragma once

#include <cstdint>
#include <string>

namespace media {

struct TCallQuality {
    int64_t received = 0;
    int64_t lost = 0;        // never arrived (may go below 0 with duplicates: not counted)
    int64_t late = 0;        // arrived after their time and were discarded
    int64_t concealed = 0;   // frames filled by concealment
    int64_t duplicates = 0;
    double lossPercent = 0;  // lost and late, of the packets expected
    double meanBurst = 1;    // mean run of lost packets
    double jitterMs = 0;     // interarrival jitter
    double bufferDelayMs = 0;  // current jitter buffer delay
    double rttMs = -1;       // from the far end's reports; -1 while unknown
    int payloadType = 0;
    int64_t rebuilt = 0;     // frames rebuilt from the next packet's FEC, not concealed
    double sendKbps = 0;     // what our RTP costs the line: RTP, UDP and IPv4 headers included
    double r = 0;
    double mos = 0;

    // Whether any packet came: without one, r and mos are 0 and mean nothing.
    bool HasData() const { return received > 0; }

    // One line: "received N lost N late N concealed N loss P% jitter J ms
    // buffer B ms rtt T ms R r MOS m kbps K" (rtt "-" while unknown; "R -
    // MOS - (no data)" without data).
    std::string Text() const;
};

// Kilobits a second that `packets` RTP packets carrying `payloadOctets`
// bytes of payload take on the wire over `elapsedMs`: each packet adds 12
// bytes of RTP, 8 of UDP and 20 of IPv4 header. 0 over no time.
double WireKbps(uint32_t packets, uint32_t payloadOctets, uint32_t elapsedMs);

// The E-model estimate for a codec (payload type), loss, burstiness (mean
// run of losses; 1 for random loss) and one-way delay.
double EstimateR(int payloadType, double lossPercent, double meanBurst, double oneWayDelayMs,
                 bool concealment = true);
double MosFromR(double r);
// Fills r and mos from the other figures; the one-way delay is the buffer
// delay, two frames of packetizing and playing, and half the round trip.
void Estimate(TCallQuality& quality);

}  // namespace media
