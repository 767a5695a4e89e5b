#include "media/adaptive_jitter_buffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace media {

namespace {

// Sequence numbers further than this from the highest seen start a new stream.
constexpr int kRestartDistance = 100;

}  // namespace

int64_t TAdaptiveJitterBuffer::Extend(uint16_t sequenceNumber) {
    const auto delta = static_cast<int16_t>(static_cast<uint16_t>(sequenceNumber - HighestSequence_));
    const int64_t frame = HighestFrame_ + delta;
    if (delta > 0) {
        HighestSequence_ = sequenceNumber;
        HighestFrame_ = frame;
    }
    return frame;
}

void TAdaptiveJitterBuffer::Anchor(int64_t frame, double transit) {
    Offset_ = transit + kMarginMs;
    Next_ = frame;
    RealBefore_ = frame;
    TrailingConcealed_ = 0;
    Idle_ = false;
}

void TAdaptiveJitterBuffer::Remember(double nowMs, double transit) {
    Transits_.push_back({nowMs, transit});
    while (!Transits_.empty() && Transits_.front().atMs < nowMs - kShrinkWindowMs)
        Transits_.pop_front();
}

double TAdaptiveJitterBuffer::WindowMax(double sinceMs) const {
    double largest = -std::numeric_limits<double>::infinity();
    for (auto it = Transits_.rbegin(); it != Transits_.rend() && it->atMs >= sinceMs; ++it)
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
    return slot.frame == frame && !slot.played;
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
    const double lateBy = WindowMax(nowMs - kGrowWindowMs) - Offset_;
    if (lateBy <= 0)
        return 0;
    const int frames = static_cast<int>(std::ceil(lateBy / kFrameMs));
    // An outlier beyond the cap or the step is let go rather than followed.
    if (frames * kFrameMs > kMaxGrowthMs || Offset_ + frames * kFrameMs - WindowMin() > kMaxDelayMs)
        return 0;
    return frames;
}

bool TAdaptiveJitterBuffer::WantsShrink(double nowMs) const {
    return nowMs - LastAdjustMs_ >= kAdjustGapMs &&
           WindowMax(nowMs - kShrinkWindowMs) + kMarginMs + kFrameMs <= Offset_;
}

void TAdaptiveJitterBuffer::Put(const uint8_t* pcm, int length, uint16_t sequenceNumber,
                                double nowMs) {
    if (length <= 0)
        return;
    int64_t frame = 0;
    if (!Started_) {
        Started_ = true;
        HighestSequence_ = sequenceNumber;
        HighestFrame_ = 0;
    } else {
        const auto jump = static_cast<int16_t>(static_cast<uint16_t>(sequenceNumber - HighestSequence_));
        if (jump > kRestartDistance || jump < -kRestartDistance) {
            // The sender restarted or skipped far ahead: a new stream.
            HighestSequence_ = sequenceNumber;
            HighestFrame_ += kSlotCount + kRestartDistance;
            Idle_ = true;
        }
        frame = Extend(sequenceNumber);
    }
    const double transit = nowMs - static_cast<double>(frame) * kFrameMs;
    if (Idle_) {
        if (Transits_.empty() || transit > Offset_ || frame < Next_)
            Anchor(frame, transit);  // the first frame, or back after a pause
        else
            Next_ = RealBefore_ = frame;  // on schedule after a silent spell
        Idle_ = false;
        LastRealMs_ = nowMs;
    }
    Remember(nowMs, transit);
    if (frame < Next_) {
        TSlot& old = SlotOf(frame);
        if (old.frame == frame && old.played) {
            ++Counters_.duplicates;
            return;
        }
        if (!TryGrowOverGap(frame, nowMs)) {
            ++Counters_.late;
            return;
        }
    }
    if (frame >= Next_ + kSlotCount) {
        // Further ahead than the slots reach: what lies between is lost.
        Next_ = RealBefore_ = frame;
        Offset_ = std::max(Offset_, transit + kMarginMs);
    }
    TSlot& slot = SlotOf(frame);
    if (slot.frame == frame) {
        ++Counters_.duplicates;
        return;
    }
    slot.frame = frame;
    slot.played = false;
    slot.arrivalMs = nowMs;
    slot.length = std::min(length, kMaxFrameBytes);
    std::memcpy(slot.data.data(), pcm, static_cast<std::size_t>(slot.length));
}

TAdaptiveJitterBuffer::TOutput TAdaptiveJitterBuffer::Get(double nowMs, uint8_t* out, int& length) {
    return Take(nowMs, out, length, false);
}

TAdaptiveJitterBuffer::TOutput TAdaptiveJitterBuffer::Pull(double nowMs, uint8_t* out, int& length) {
    if (Idle_)
        return TOutput::None;
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
    if (Due(Next_) > atMs && !Holds(Next_)) {
        // The card is ahead of the schedule (its clock runs faster than the
        // sender's, or a frame went early): a concealment fills the period in
        // front of the next frame, which keeps its time and is not late.
        ++Counters_.concealed;
        ++TrailingConcealed_;
        return TOutput::Conceal;
    }
    // A frame that is there goes now even before its time: waiting would
    // leave the card silent.
    return Take(std::max(atMs, Due(Next_)), out, length, true);
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
    if (Holds(Next_)) {
        TSlot& slot = SlotOf(Next_);
        std::memcpy(out, slot.data.data(), static_cast<std::size_t>(slot.length));
        length = slot.length;
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
