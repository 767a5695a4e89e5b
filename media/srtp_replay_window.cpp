#include "media/srtp_replay_window.h"

namespace media {

namespace {

constexpr int kSequenceMedian = 1 << 15;
constexpr int kSequenceCount = 1 << 16;

}  // namespace

TSrtpReplayWindow::TEstimate TSrtpReplayWindow::Estimate(uint16_t sequence) const {
    const int number = sequence;
    if (Highest_ <= static_cast<uint64_t>(kSequenceMedian))
        return {sequence, number - static_cast<int>(Highest_)};
    const uint32_t rollover = static_cast<uint32_t>(Highest_ >> 16);
    const int last = static_cast<uint16_t>(Highest_);
    uint32_t guess = rollover;
    int delta = number - last;
    if (last < kSequenceMedian) {
        if (number - last > kSequenceMedian) {
            guess = rollover - 1;  // a late packet from before the last rollover
            delta -= kSequenceCount;
        }
    } else if (last - kSequenceMedian > number) {
        guess = rollover + 1;  // the numbers rolled over since
        delta += kSequenceCount;
    }
    return {(static_cast<uint64_t>(guess) << 16) | sequence, delta};
}

TSrtpReplayWindow::TCheck TSrtpReplayWindow::Check(int delta) const {
    if (delta > 0)
        return TCheck::Fresh;
    if (-delta >= kWindowPackets)
        return TCheck::TooOld;
    return Seen_[static_cast<std::size_t>(-delta)] ? TCheck::Seen : TCheck::Fresh;
}

void TSrtpReplayWindow::Add(int delta) {
    if (delta > 0) {
        Highest_ += static_cast<uint64_t>(delta);
        if (delta >= kWindowPackets)
            Seen_.reset();
        else
            Seen_ <<= static_cast<std::size_t>(delta);
        Seen_.set(0);
    } else if (-delta < kWindowPackets) {
        Seen_.set(static_cast<std::size_t>(-delta));
    }
}

}  // namespace media
