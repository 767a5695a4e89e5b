// TReceiveStatistics: what arrived of the far end's RTP stream, counted the
// way RTCP reports it: extended highest sequence number, packets expected and
// received, cumulative and interval loss, and the interarrival jitter
// estimate (mean absolute change of relative transit, smoothed by 1/16), in
// timestamp units. Used by the receive path under its lock.
#pragma once

#include <bitset>
#include <cstdint>

namespace media {

class TReceiveStatistics {
public:
    static constexpr int kClockRate = 8000;

    // One RTP packet. `audio` is false for telephone events, whose timestamps
    // stand still during a digit and would read as jitter.
    void OnPacket(uint16_t sequenceNumber, uint32_t timestamp, double arrivalMs, bool audio);

    int64_t Received() const { return Received_; }  // distinct packets
    int64_t Duplicates() const { return Duplicates_; }
    // Counted over every sender the call has heard.
    int64_t Expected() const { return Carried_ + (Started_ ? HighestExtended_ - BaseExtended_ + 1 : 0); }
    // The sender changed (a new SSRC, with sequence numbers and timestamps of
    // its own): what the old one sent is kept, the new one is counted from
    // its first packet.
    void NewSource();
    int64_t Lost() const { return Expected() - Received_; }
    double LossPercent() const;
    // Mean number of packets in a run of losses (1 when none yet).
    double MeanBurst() const { return Bursts_ ? static_cast<double>(BurstPackets_) / Bursts_ : 1; }
    uint32_t ExtendedHighest() const { return static_cast<uint32_t>(HighestExtended_); }
    double JitterUnits() const { return Jitter_; }
    double JitterMs() const { return Jitter_ * 1000.0 / kClockRate; }
    // The loss fraction since the previous call (8-bit, as a report carries
    // it), and marks the start of the next interval.
    uint8_t TakeFractionLost();

private:
    bool Seen(int64_t extended) const;
    void Mark(int64_t extended);

    static constexpr int kWindow = 1024;
    bool Started_ = false;
    uint16_t HighestSequence_ = 0;
    int64_t HighestExtended_ = 0;
    int64_t BaseExtended_ = 0;
    int64_t Received_ = 0;
    int64_t Carried_ = 0;  // packets expected from the senders before this one
    int64_t Duplicates_ = 0;
    int64_t Bursts_ = 0;
    int64_t BurstPackets_ = 0;
    int64_t IntervalExpected_ = 0;
    int64_t IntervalReceived_ = 0;
    double Jitter_ = 0;
    double LastTransit_ = 0;
    bool HasTransit_ = false;
    std::bitset<kWindow> SeenBits_;
};

}  // namespace media
