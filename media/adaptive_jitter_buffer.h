// TAdaptiveJitterBuffer: the receive path's playout schedule. Frames are put
// in as they arrive and taken out one per frame time on the local clock; a
// frame that is not there when its time comes is concealed, and one that
// comes after its time is discarded as late.
//
// Frames are placed by RTP time, never by sequence number: frame s holds the
// 160 samples from s * 160 on (the extended RTP timestamp counted on from the
// first packet), so packets of any length fill the frames they cover, and a
// sender's pause between talkspurts (timestamps jump, sequence numbers do not)
// leaves frames that were never sent rather than lost. Frame s is due at
// Offset + s * kFrameMs, and a concealment goes out then. A frame that
// comes up to kEarlyMs before its time goes out at once, which on a clean
// line means on arrival, as with no buffer; one that came earlier waits for
// its time, so that on a jittery line frames and concealments keep the same
// place against the sound card's periods and the card never runs dry.
//
// The delay follows the measured jitter, one whole frame at a time so the
// frames keep their phase against the sound card:
// - a late frame whose gap was concealed moves the schedule back over that
//   gap (the concealment becomes added delay) and is played, so a jitter
//   spike is followed within one frame time;
// - when the slowest transit of the last kGrowWindowMs was late (a frame the
//   first rule could not take), concealed frames are added, one per frame
//   time, until it would have been in time;
// - when even the slowest transit of the last kShrinkWindowMs would have been
//   a frame and a margin early, one frame is skipped;
// - a hold-up longer than any growth follows (an outage: packets held and
//   then let go at once) is not jitter that will come again: once the line
//   has been back to normal for kGrowWindowMs, the burst it released no
//   longer holds the delay up, and skips may bring the schedule back to
//   where it stood before the outage while the frames would still be in time;
// at most one change per kAdjustGapMs, at most kMaxGrowthMs at a time and
// never above kMaxDelayMs.
//
// A sound card that asks for each period's frame when it needs it uses Pull
// instead of Get: one output per period, the frame due within the period's
// look-ahead or its concealment, decided on the card's clock. A frame that
// missed its period is late and grows the delay by the first rule above, so
// the card never plays a silent period while the stream runs.
//
// Pure: the caller passes the local time (ms) and keeps it to one thread or a
// lock.
#pragma once

#include <array>
#include <cstdint>
#include <deque>

namespace media {

class TAdaptiveJitterBuffer {
public:
    static constexpr double kFrameMs = 20;
    static constexpr int kFrameSamples = 160;
    // On a clean line every frame goes out as it arrives (early by the
    // margin, and up to 2 ms of tick rounding more), and a frame up to
    // kMarginMs slower than the first is still in time.
    static constexpr double kMarginMs = 10;
    static constexpr double kEarlyMs = kMarginMs + 2;
    static constexpr double kMaxDelayMs = 200;
    // The most one growth may add: a longer hold-up is an outage, not
    // jitter, and is concealed and let go rather than followed.
    static constexpr double kMaxGrowthMs = 100;
    static constexpr double kAdjustGapMs = 200;
    static constexpr double kGrowWindowMs = 2000;
    static constexpr double kShrinkWindowMs = 6000;
    // Arrivals this close after one another came in one burst.
    static constexpr double kBurstGapMs = kFrameMs / 2;
    // With nothing to play for this long the stream is taken as stopped: no
    // more frames go out until the next one comes.
    static constexpr double kIdleMs = 500;
    static constexpr int kSlotCount = 32;
    static constexpr int kMaxFrameBytes = 1024;

    enum class TOutput { None, Frame, Conceal };

    // How a put packet is to be taken.
    struct TPut {
        // One codec frame still to be decoded (at playout, in order): the
        // bytes go whole into the frame the timestamp falls in. Otherwise
        // the bytes are 16-bit samples and fill the frames they cover.
        bool encoded = false;
        // The first packet of a talkspurt: the gap before it was silence.
        bool talkspurt = false;
        // Samples the packet carries: a packet longer than a frame but not a
        // whole number of frames completes some frames only with the next
        // packet, so the schedule leaves room for that.
        int packetSamples = kFrameSamples;
    };

    struct TCounters {
        int64_t played = 0;     // real frames taken out
        int64_t concealed = 0;  // frames concealed within the stream
        int64_t late = 0;       // arrived after their time, discarded
        int64_t duplicates = 0;
        int64_t skipped = 0;    // dropped to shorten the delay
        int64_t grown = 0;      // times the delay grew
    };

    // A packet's samples (or one encoded frame: `how`), `length` bytes, with
    // its RTP timestamp, arriving at `nowMs`.
    void Put(const uint8_t* data, int length, uint32_t timestamp, double nowMs, const TPut& how);
    void Put(const uint8_t* data, int length, uint32_t timestamp, double nowMs) {
        Put(data, length, timestamp, nowMs, TPut{});
    }
    // The sender changed (a new SSRC): its RTP time starts a new schedule,
    // the counters carry on.
    void NewSource();
    // Whether the last frame taken out is a codec frame still to decode.
    bool TakenEncoded() const { return TakenEncoded_; }
    // What is due at `nowMs`: a frame (copied into `out`, kMaxFrameBytes at
    // least), a concealment, or nothing. Call again until None.
    TOutput Get(double nowMs, uint8_t* out, int& length);
    // The next time Get may give something; a large value when idle.
    double NextEventMs() const;
    // The one output for the device period starting at `nowMs`: the frame
    // due by then plus kPullAheadMs or its concealment when it is not there
    // whole (a part may still come with the next packet); when nothing is due
    // yet, a concealment in front of the next frame, which keeps its time;
    // None only while idle.
    TOutput Pull(double nowMs, uint8_t* out, int& length);
    // Frames are due a little before the period that plays them starts: the
    // first frame, anchored kMarginMs after it came, goes out on the first
    // period after its arrival, as on a clean line with no buffer.
    static constexpr double kPullAheadMs = kMarginMs;
    // A card whose clock runs slower than the sender's falls a little more
    // behind the schedule every period; once it has stood more than a frame
    // behind for this many periods in a row, one frame is dropped.
    static constexpr int kBehindPulls = 50;

    const TCounters& Counters() const { return Counters_; }
    // Concealed frames that a real frame came after: those since the last one
    // may be the sender's silence (or the end of the call), not loss.
    int64_t ConcealedWithinStream() const { return Counters_.concealed - TrailingConcealed_; }
    // Current schedule delay over the fastest recent transit, in ms.
    double DelayMs() const;
    // Time the last frame taken out spent in the buffer, in ms.
    double LastWaitMs() const { return LastWaitMs_; }

private:
    struct TSlot {
        int64_t frame = -1;  // -1: empty
        bool played = false;
        bool encoded = false;
        uint8_t filled = 0;  // 10 ms halves that came, bit 0 the first
        double arrivalMs = 0;
        int length = 0;
        std::array<uint8_t, kMaxFrameBytes> data{};
    };
    struct TTransit {
        double atMs;
        double transit;
        bool outage;  // released by an outage (see above)
    };

    TSlot& SlotOf(int64_t frame) {
        return Slots_[static_cast<std::size_t>((frame % kSlotCount + kSlotCount) % kSlotCount)];
    }
    int64_t Extend(uint32_t timestamp);
    // The frame the sample at extended time `extended` falls in.
    int64_t FrameOf(int64_t extended) const;
    void Anchor(int64_t frame, double transit);
    // Stores `count` samples from sample `offset` of `frame`; false when all
    // of them were there already.
    bool Store(int64_t frame, int offset, const uint8_t* pcm, int count, double nowMs);
    bool StoreEncoded(int64_t frame, const uint8_t* data, int length, double nowMs);
    void Remember(double nowMs, double transit);
    // Whether a packet of `transit` arriving at `nowMs` was released by an
    // outage: beyond any growth, or in the same burst as such a packet.
    bool FromOutage(double nowMs, double transit);
    bool TryGrowOverGap(int64_t frame, double nowMs);
    int GrowthWanted(double nowMs) const;
    bool WantsShrink(double nowMs) const;
    // The slowest transit a frame may have and still go out in time on the
    // schedule `offset`: its own time, or with a card, the period that takes it.
    double TakenBy(double offset) const;
    TOutput Take(double nowMs, uint8_t* out, int& length, bool pulled);
    TOutput PullAt(double atMs, uint8_t* out, int& length);
    double Due(int64_t frame) const { return Offset_ + static_cast<double>(frame) * kFrameMs; }
    // Holds: the whole frame is there. Present: some of it is.
    bool Holds(int64_t frame) const;
    bool Present(int64_t frame) const;
    // How early a frame that is there may go: kEarlyMs when it came within
    // that of its time, else 0.
    double EarlyMs(int64_t frame) const;
    // The slowest transit since `sinceMs`; with `outagesBeforeMs`, leaving
    // out what outages released before then.
    double WindowMax(double sinceMs, double outagesBeforeMs = -1e18) const;
    double WindowMin() const;

    bool Started_ = false;
    bool Idle_ = true;
    bool TakenEncoded_ = false;
    uint32_t HighestTimestamp_ = 0;
    int64_t HighestExtended_ = 0;  // extended RTP time of the newest packet
    int64_t Origin_ = 0;           // extended RTP time where frame 0 starts
    double ExtraMs_ = 0;           // room for frames completed by the next packet
    int64_t Next_ = 0;              // next frame to take out
    int64_t RealBefore_ = 0;        // frames before this were played for real or are past
    double Offset_ = 0;             // local time of frame 0's due time
    double LastAdjustMs_ = -1e18;
    double LastRealMs_ = 0;
    double LastWaitMs_ = 0;
    double LastArrivalMs_ = 0;
    double LastPutMs_ = -1e18;      // when the newest packet came
    bool InOutage_ = false;         // the newest packet came from an outage
    double OutageAtMs_ = -1e18;     // when the last outage began
    double OutageOffsetMs_ = 0;     // Offset_ before it
    double LastPullMs_ = 0;         // when a card last asked for a period's frame
    bool Pulled_ = false;           // a card asks (Pull), not the caller's clock (Get)
    int64_t TrailingConcealed_ = 0; // concealed since the last real frame
    int PendingGrowth_ = 0;         // frames still to conceal for a growth
    int BehindPulls_ = 0;           // pulls in a row that left the card behind
    std::deque<TTransit> Transits_;  // last kShrinkWindowMs of arrivals
    std::array<TSlot, kSlotCount> Slots_{};
    TCounters Counters_;
};

}  // namespace media
