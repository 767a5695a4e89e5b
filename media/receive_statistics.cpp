#include "media/receive_statistics.h"

#include <algorithm>
#include <cmath>

namespace media {

bool TReceiveStatistics::Seen(int64_t extended) const {
    if (extended > HighestExtended_ || HighestExtended_ - extended >= kWindow)
        return false;
    return SeenBits_.test(static_cast<std::size_t>(extended % kWindow));
}

void TReceiveStatistics::Mark(int64_t extended) {
    SeenBits_.set(static_cast<std::size_t>(extended % kWindow));
}

void TReceiveStatistics::OnPacket(uint16_t sequenceNumber, uint32_t timestamp, double arrivalMs,
                                  bool audio) {
    if (!Started_) {
        Started_ = true;
        HighestSequence_ = sequenceNumber;
        HighestExtended_ = BaseExtended_ = sequenceNumber;
    }
    const auto delta = static_cast<int16_t>(static_cast<uint16_t>(sequenceNumber - HighestSequence_));
    const int64_t extended = HighestExtended_ + delta;
    if (extended < BaseExtended_ || Seen(extended)) {
        ++Duplicates_;  // or from before the first: nothing to count it in
        return;
    }
    if (delta > 0) {
        for (int64_t cleared = HighestExtended_ + 1; cleared <= extended; ++cleared)
            SeenBits_.reset(static_cast<std::size_t>(cleared % kWindow));
        if (delta > 1) {
            ++Bursts_;
            BurstPackets_ += delta - 1;
        }
        HighestSequence_ = sequenceNumber;
        HighestExtended_ = extended;
    } else if (Bursts_ > 0 && BurstPackets_ > Bursts_) {
        --BurstPackets_;  // a late one fills part of a gap counted as lost
    }
    Mark(extended);
    ++Received_;
    ++IntervalReceived_;
    if (!audio)
        return;
    const double transit = arrivalMs * kClockRate / 1000.0 - static_cast<double>(timestamp);
    if (HasTransit_) {
        // Both terms wrap together; the difference of two nearby transits is small.
        double change = std::fabs(transit - LastTransit_);
        if (change > 2147483648.0)
            change = 4294967296.0 - change;
        Jitter_ += (change - Jitter_) / 16.0;
    }
    LastTransit_ = transit;
    HasTransit_ = true;
}

void TReceiveStatistics::NewSource() {
    Carried_ = Expected();
    Started_ = false;
    HasTransit_ = false;
    SeenBits_.reset();
}

double TReceiveStatistics::LossPercent() const {
    const int64_t expected = Expected();
    return expected > 0 ? 100.0 * static_cast<double>(std::max<int64_t>(0, Lost())) / expected : 0;
}

uint8_t TReceiveStatistics::TakeFractionLost() {
    const int64_t expected = Expected() - IntervalExpected_;
    const int64_t receivedInInterval = IntervalReceived_;
    IntervalExpected_ = Expected();
    IntervalReceived_ = 0;
    const int64_t lost = expected - receivedInInterval;
    if (expected <= 0 || lost <= 0)
        return 0;
    return static_cast<uint8_t>(std::min<int64_t>(255, (lost << 8) / expected));
}

}  // namespace media
