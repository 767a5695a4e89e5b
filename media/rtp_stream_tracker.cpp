#include "media/rtp_stream_tracker.h"

#include <algorithm>
#include <cstring>

namespace media {

TRtpStreamTracker::TVerdict TRtpStreamTracker::Admit(const TRtpPacket& packet, std::span<const uint8_t> datagram) {
    if (!HasSource_) {
        HasSource_ = true;
        Ssrc_ = packet.ssrc;
        return TVerdict::Current;
    }
    if (packet.ssrc == Ssrc_) {
        CandidateRun_ = 0;
        return TVerdict::Current;
    }
    if (CandidateRun_ > 0 && packet.ssrc == CandidateSsrc_ &&
        packet.sequenceNumber == static_cast<uint16_t>(CandidateSequence_ + 1)) {
        ++CandidateRun_;
    } else {
        CandidateSsrc_ = packet.ssrc;
        CandidateRun_ = 1;
        HeldLength_ = std::min(datagram.size(), Held_.size());
        std::memcpy(Held_.data(), datagram.data(), HeldLength_);
    }
    CandidateSequence_ = packet.sequenceNumber;
    if (CandidateRun_ < kMinSequential)
        return TVerdict::Held;
    Ssrc_ = packet.ssrc;
    CandidateRun_ = 0;
    HasAudio_ = false;
    return TVerdict::Switched;
}

bool TRtpStreamTracker::StartsTalkspurt(const TRtpPacket& packet, int samples) {
    bool starts = packet.marker;
    if (HasAudio_) {
        const auto sequenceStep = static_cast<int16_t>(static_cast<uint16_t>(packet.sequenceNumber - LastSequence_));
        const auto timeStep = static_cast<int32_t>(packet.timestamp - LastTimestamp_);
        if (sequenceStep <= 0)
            return false;  // reordered or repeated: nothing to learn from it
        starts = starts || static_cast<int64_t>(timeStep) > static_cast<int64_t>(sequenceStep) * LastSamples_;
    }
    HasAudio_ = true;
    LastSequence_ = packet.sequenceNumber;
    LastTimestamp_ = packet.timestamp;
    LastSamples_ = samples;
    return starts;
}

}  // namespace media
