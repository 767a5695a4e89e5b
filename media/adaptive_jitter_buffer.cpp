#include "media/adaptive_jitter_buffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace media {

namespace {

// RTP time further than this from the newest packet's starts a new stream.
constexpr int64_t kRestartFrames = 100;
constexpr int kHalfSamples = TAdaptiveJitterBuffer::kFrameSamples / 2;

int64_t FloorDiv(int64_t value, int64_t divisor) {
    return value >= 0 ? value / divisor : -((-value + divisor - 1) / divisor);
}

}  // namespace

int64_t TAdaptiveJitterBuffer::Extend(uint32_t timestamp) {
    const auto delta = static_cast<int32_t>(timestamp - HighestTimestamp_);
    const int64_t extended = HighestExtended_ + delta;
    if (delta > 0) {
        HighestTimestamp_ = timestamp;
        HighestExtended_ = extended;
    }
    return extended;
}

int64_t TAdaptiveJitterBuffer::FrameOf(int64_t extended) const {
    return FloorDiv(extended - Origin_, kFrameSamples);
}

void TAdaptiveJitterBuffer::Anchor(int64_t frame, double transit) {
    Offset_ = transit + kMarginMs + ExtraMs_;
    Next_ = frame;
    RealBefore_ = frame;
    TrailingConcealed_ = 0;
    Idle_ = false;
}

bool TAdaptiveJitterBuffer::FromOutage(double nowMs, double transit) {
    const bool burst = nowMs - LastPutMs_ <= kBurstGapMs;
    LastPutMs_ = nowMs;
    const bool starts = transit > Offset_ + kMaxGrowthMs && !(InOutage_ && burst);
    if (starts) {
        // Outages in a row: the schedule from before the first of them.
        if (nowMs - OutageAtMs_ >= kShrinkWindowMs)
            OutageOffsetMs_ = Offset_;
        OutageAtMs_ = nowMs;
    }
    InOutage_ = starts || (InOutage_ && burst);
    return InOutage_;
}

void TAdaptiveJitterBuffer::Remember(double nowMs, double transit) {
    const bool outage = FromOutage(nowMs, transit);
    Transits_.push_back({nowMs, transit, outage});
    while (!Transits_.empty() && Transits_.front().atMs < nowMs - kShrinkWindowMs)
        Transits_.pop_front();
}

double TAdaptiveJitterBuffer::WindowMax(double sinceMs, double outagesBeforeMs) const {
    double largest = -std::numeric_limits<double>::infinity();
    for (auto it = Transits_.rbegin(); it != Transits_.rend() && it->atMs >= sinceMs; ++it)
        if (!it->outage || it->atMs >= outagesBeforeMs)
            largest = std::max(largest, it->transit);
    return largest;
}

double TAdaptiveJitterBuffer::WindowMin() const {
    double smallest = Offset_;
    for (const TTransit& entry : Transits_)
        smallest = std::min(smallest, entry.transit);
    return smallest;
}

double TAdaptiveJitterBuffer::DelayMs() const {
    return Idle_ && Transits_.empty() ? 0 : Offset_ - WindowMin();
}

bool TAdaptiveJitterBuffer::Holds(int64_t frame) const {
    const auto& slot =
        Slots_[static_cast<std::size_t>((frame % kSlotCount + kSlotCount) % kSlotCount)];
    return slot.frame == frame && !slot.played && slot.filled == 3;
}

bool TAdaptiveJitterBuffer::Present(int64_t frame) const {
    const auto& slot =
        Slots_[static_cast<std::size_t>((frame % kSlotCount + kSlotCount) % kSlotCount)];
    return slot.frame == frame && !slot.played && slot.filled != 0;
}

double TAdaptiveJitterBuffer::EarlyMs(int64_t frame) const {
    const auto& slot = Slots_[static_cast<std::size_t>((frame % kSlotCount + kSlotCount) % kSlotCount)];
    return slot.arrivalMs >= Due(frame) - kEarlyMs ? kEarlyMs : 0;
}

bool TAdaptiveJitterBuffer::TryGrowOverGap(int64_t frame, double nowMs) {
    if (frame < RealBefore_ || nowMs - LastAdjustMs_ < kAdjustGapMs)
        return false;
    const double step = static_cast<double>(Next_ - frame) * kFrameMs;
    if (step > kMaxGrowthMs || Offset_ + step - WindowMin() > kMaxDelayMs)
        return false;
    const double grown = Offset_ + step;
    Offset_ = grown;
    Next_ = frame;
    LastAdjustMs_ = nowMs;
    ++Counters_.grown;
    return true;
}

int TAdaptiveJitterBuffer::GrowthWanted(double nowMs) const {
    if (nowMs - LastAdjustMs_ < kAdjustGapMs)
        return 0;
    // A frame that the next packet completes comes ExtraMs_ after the
    // transit its packet's start gives.
    const double lateBy = WindowMax(nowMs - kGrowWindowMs) + ExtraMs_ - Offset_;
    if (lateBy <= 0)
        return 0;
    const int frames = static_cast<int>(std::ceil(lateBy / kFrameMs));
    // An outlier beyond the cap or the step is let go rather than followed.
    if (frames * kFrameMs > kMaxGrowthMs || Offset_ + frames * kFrameMs - WindowMin() > kMaxDelayMs)
        return 0;
    return frames;
}

bool TAdaptiveJitterBuffer::WantsShrink(double nowMs) const {
    if (nowMs - LastAdjustMs_ < kAdjustGapMs)
        return false;
    const double slowest = WindowMax(nowMs - kShrinkWindowMs, nowMs - kGrowWindowMs) + ExtraMs_;
    if (slowest + kMarginMs + kFrameMs <= Offset_)
        return true;
    // Within the window of an outage the schedule may come back to where it
    // stood before the outage, which the anchor may have placed under the
    // margin, as long as the slowest frame since would still be in time for
    // the period that takes it.
    return nowMs - OutageAtMs_ < kShrinkWindowMs && Offset_ - kFrameMs >= OutageOffsetMs_ &&
           slowest <= TakenBy(Offset_ - kFrameMs);
}

double TAdaptiveJitterBuffer::TakenBy(double offset) const {
    if (!Pulled_)
        return offset;
    // The first period starting at or after each frame's time less the
    // look-ahead takes it; within a millisecond of a period's start the
    // tick's rounding may put it either side.
    const double first = offset - kPullAheadMs;
    double into = std::fmod(LastPullMs_ - first, kFrameMs);
    if (into < 0)
        into += kFrameMs;
    if (into > kFrameMs - 1)
        into -= kFrameMs;
    return std::min(offset, first + into);
}

bool TAdaptiveJitterBuffer::Store(int64_t frame, int offset, const uint8_t* pcm, int count, double nowMs) {
    TSlot& slot = SlotOf(frame);
    if (slot.frame != frame) {
        slot.frame = frame;
        slot.played = false;
        slot.encoded = false;
        slot.filled = 0;
        slot.length = kFrameSamples * 2;
        std::memset(slot.data.data(), 0, static_cast<std::size_t>(slot.length));
    } else if (slot.played || slot.encoded) {
        return false;
    }
    const uint8_t halves = static_cast<uint8_t>((offset < kHalfSamples ? 1 : 0) |
                                                (offset + count > kHalfSamples ? 2 : 0));
    if ((slot.filled | halves) == slot.filled)
        return false;
    std::memcpy(slot.data.data() + 2 * offset, pcm, 2 * static_cast<std::size_t>(count));
    slot.filled |= halves;
    slot.arrivalMs = nowMs;  // when it was last added to: complete from then on
    return true;
}

bool TAdaptiveJitterBuffer::StoreEncoded(int64_t frame, const uint8_t* data, int length, double nowMs) {
    TSlot& slot = SlotOf(frame);
    if (slot.frame == frame)
        return false;
    slot.frame = frame;
    slot.played = false;
    slot.encoded = true;
    slot.filled = 3;
    slot.arrivalMs = nowMs;
    slot.length = std::min(length, kMaxFrameBytes);
    std::memcpy(slot.data.data(), data, static_cast<std::size_t>(slot.length));
    return true;
}

void TAdaptiveJitterBuffer::NewSource() {
    Started_ = false;
    Idle_ = true;
    for (TSlot& slot : Slots_)
        slot.frame = -1;
    Transits_.clear();
    InOutage_ = false;
    OutageAtMs_ = -1e18;
    PendingGrowth_ = 0;
    TrailingConcealed_ = 0;
    BehindPulls_ = 0;
}

void TAdaptiveJitterBuffer::Put(const uint8_t* data, int length, uint32_t timestamp, double nowMs,
                                const TPut& how) {
    if (length <= 0 || (!how.encoded && length < 2))
        return;
    if (!Started_) {
        Started_ = true;
        HighestTimestamp_ = timestamp;
        HighestExtended_ = Origin_ = 0;
    } else {
        const auto jump = static_cast<int32_t>(timestamp - HighestTimestamp_);
        if (jump > kRestartFrames * kFrameSamples || jump < -kRestartFrames * kFrameSamples) {
            // The sender restarted or skipped far ahead: a new stream, placed
            // clear of every slot the old one may still hold.
            const int64_t newest = FrameOf(HighestExtended_);
            HighestTimestamp_ = timestamp;
            Origin_ = HighestExtended_ - (newest + kSlotCount + kRestartFrames) * kFrameSamples;
            Idle_ = true;
        }
    }
    const int64_t extended = Extend(timestamp);
    const int64_t position = extended - Origin_;
    // An encoded frame is whole: it goes into the frame its timestamp is nearest.
    const int64_t frame = how.encoded ? FloorDiv(position + kHalfSamples, kFrameSamples) : FrameOf(extended);
    const double transit = nowMs - static_cast<double>(position) * kFrameMs / kFrameSamples;
    const int tail = how.packetSamples % kFrameSamples;
    ExtraMs_ = tail == 0 ? 0 : kFrameMs - tail * kFrameMs / kFrameSamples;
    if (Idle_) {
        if (Transits_.empty() || transit > Offset_ || frame < Next_)
            Anchor(frame, transit);  // the first frame, or back after a pause
        else
            Next_ = RealBefore_ = frame;  // on schedule after a silent spell
        Idle_ = false;
        LastRealMs_ = nowMs;
    } else if (how.talkspurt) {
        // The sender was silent since its last packet: what was concealed
        // meanwhile was no loss, and a talkspurt that comes after its time
        // starts a schedule of its own rather than be discarded.
        Counters_.concealed -= TrailingConcealed_;
        TrailingConcealed_ = 0;
        if (frame < Next_ || transit + kMarginMs + ExtraMs_ > Offset_)
            Anchor(frame, transit);
        else
            Next_ = RealBefore_ = frame;
        LastRealMs_ = nowMs;
    }
    Remember(nowMs, transit);
    // A packet longer than a frame may start in a frame already taken and
    // go on into frames still to come: those are kept.
    const int64_t last = how.encoded ? frame : FrameOf(extended + length / 2 - 1);
    if (frame < Next_) {
        const TSlot& old = SlotOf(frame);
        const bool taken = old.frame == frame && old.played;
        if (taken && (last < Next_ || old.filled == 3)) {
            if (last < Next_) {
                ++Counters_.duplicates;
                return;
            }
        } else if (!TryGrowOverGap(frame, nowMs)) {
            // Its head came after its time (a frame concealed, or played
            // with a part missing).
            ++Counters_.late;
            if (last < Next_)
                return;
        }
    }
    if (frame >= Next_ + kSlotCount) {
        // Further ahead than the slots reach: what lies between is lost.
        Next_ = RealBefore_ = frame;
        Offset_ = std::max(Offset_, transit + kMarginMs + ExtraMs_);
    }
    bool stored = false;
    if (how.encoded) {
        stored = StoreEncoded(frame, data, length, nowMs);
    } else {
        const auto* pcm = data;
        int remaining = length / 2;
        int offset = static_cast<int>(position - frame * kFrameSamples);
        int64_t at = frame;
        for (; remaining > 0 && at < Next_; ++at) {
            // Past frames' slots may already hold frames a round later.
            const int count = std::min(remaining, kFrameSamples - offset);
            pcm += 2 * count;
            remaining -= count;
            offset = 0;
        }
        for (; remaining > 0 && at < Next_ + kSlotCount; ++at) {
            const int count = std::min(remaining, kFrameSamples - offset);
            stored = Store(at, offset, pcm, count, nowMs) || stored;
            if (how.talkspurt && at == frame && offset >= kHalfSamples && SlotOf(at).frame == at)
                SlotOf(at).filled |= 1;  // the sender was silent before it: nothing more will come
            pcm += 2 * count;
            remaining -= count;
            offset = 0;
        }
    }
    if (!stored)
        ++Counters_.duplicates;
}

TAdaptiveJitterBuffer::TOutput TAdaptiveJitterBuffer::Get(double nowMs, uint8_t* out, int& length) {
    return Take(nowMs, out, length, false);
}

TAdaptiveJitterBuffer::TOutput TAdaptiveJitterBuffer::Pull(double nowMs, uint8_t* out, int& length) {
    if (Idle_)
        return TOutput::None;
    LastPullMs_ = nowMs;
    Pulled_ = true;
    const TOutput output = PullAt(nowMs + kPullAheadMs, out, length);
    if (output == TOutput::Frame)
        LastWaitMs_ = nowMs - LastArrivalMs_;  // it goes out now, not at the look-ahead
    BehindPulls_ = !Idle_ && Due(Next_) + kFrameMs <= nowMs ? BehindPulls_ + 1 : 0;
    if (BehindPulls_ >= kBehindPulls && Holds(Next_)) {
        // The schedule itself is right: the card catches up with it.
        SlotOf(Next_).played = true;
        ++Next_;
        RealBefore_ = Next_;
        ++Counters_.skipped;
        BehindPulls_ = 0;
    }
    return output;
}

TAdaptiveJitterBuffer::TOutput TAdaptiveJitterBuffer::PullAt(double atMs, uint8_t* out, int& length) {
    if (Due(Next_) > atMs) {
        // The card is ahead of the schedule (its clock runs faster than the
        // sender's, or a talkspurt's first frame came before its time): a
        // concealment fills the period in front of the next frame, which
        // keeps its time. Taking the frame early would leave the frames
        // behind it (those the next packet completes) a period short of
        // their time. It stands in for no frame: nothing is counted.
        return TOutput::Conceal;
    }
    return Take(atMs, out, length, true);
}

TAdaptiveJitterBuffer::TOutput TAdaptiveJitterBuffer::Take(double nowMs, uint8_t* out, int& length,
                                                           bool pulled) {
    if (Idle_)
        return TOutput::None;
    const bool present = Holds(Next_);
    if (nowMs < Due(Next_) - (present ? EarlyMs(Next_) : 0))
        return TOutput::None;
    if (PendingGrowth_ == 0 && (PendingGrowth_ = GrowthWanted(nowMs)) > 0) {
        LastAdjustMs_ = nowMs;
        ++Counters_.grown;
    }
    if (PendingGrowth_ > 0) {
        // A concealed frame in front of this one: everything moves a frame
        // later, one frame time after another until the growth is done.
        --PendingGrowth_;
        Offset_ += kFrameMs;
        ++Counters_.concealed;
        ++TrailingConcealed_;
        return TOutput::Conceal;
    }
    if (present && WantsShrink(nowMs)) {
        SlotOf(Next_).played = true;
        ++Next_;
        RealBefore_ = Next_;
        Offset_ -= kFrameMs;
        LastAdjustMs_ = nowMs;
        ++Counters_.skipped;
        // A pulled period must still be filled: the frame after the skipped
        // one, or a concealment in front of it, goes out in its place.
        return pulled ? PullAt(nowMs, out, length) : Take(nowMs, out, length, false);
    }
    // A frame the next packet completes is only due whole: a pull that
    // looks ahead of its time leaves it, concealed, for the rest to come, and
    // if the rest comes the schedule grows over the gap as for a late frame.
    // At its own time what is there is played and the rest counts as lost.
    if (Present(Next_) && (present || !pulled || nowMs >= Due(Next_) + kPullAheadMs)) {
        TSlot& slot = SlotOf(Next_);
        std::memcpy(out, slot.data.data(), static_cast<std::size_t>(slot.length));
        length = slot.length;
        TakenEncoded_ = slot.encoded;
        slot.played = true;
        LastWaitMs_ = nowMs - slot.arrivalMs;
        LastArrivalMs_ = slot.arrivalMs;
        LastRealMs_ = nowMs;
        ++Next_;
        RealBefore_ = Next_;
        TrailingConcealed_ = 0;
        ++Counters_.played;
        return TOutput::Frame;
    }
    if (nowMs - LastRealMs_ >= kIdleMs) {
        // The far end stopped sending: what was concealed since was no loss.
        Counters_.concealed -= TrailingConcealed_;
        TrailingConcealed_ = 0;
        Idle_ = true;
        return TOutput::None;
    }
    ++Next_;
    ++Counters_.concealed;
    ++TrailingConcealed_;
    return TOutput::Conceal;
}

double TAdaptiveJitterBuffer::NextEventMs() const {
    if (Idle_)
        return std::numeric_limits<double>::max();
    return Due(Next_) - (Holds(Next_) ? EarlyMs(Next_) : 0);
}

}  // namespace media
