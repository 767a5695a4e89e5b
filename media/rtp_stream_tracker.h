// Which sender the received RTP belongs to, and where its talkspurts begin.
//
// A packet of another SSRC than the current sender's is held on probation
// (RFC 3550 appendix A.1): only when the next packet of that SSRC follows it
// in sequence does the new sender replace the old one, and the held packet is
// given back so nothing of the new stream is lost. A stray packet of a third
// party never moves the receive path's schedule or figures.
//
// A talkspurt begins at a marker bit, or where the timestamp moves on further
// than the sequence number says the sender sent (it paused between
// talkspurts; sequence numbers stay consecutive over a pause).
//
// Threading: the RTP socket thread only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "media/rtp_packet.h"

namespace media {

class TRtpStreamTracker {
public:
    static constexpr int kMinSequential = 2;
    static constexpr std::size_t kMaxDatagram = 12 + 1024;

    enum class TVerdict {
        Current,   // the current sender's (or the very first packet)
        Held,      // a new sender on probation: kept, not to be played yet
        Switched,  // a new sender confirmed: play Held() first, then this one
    };

    TVerdict Admit(const TRtpPacket& packet, std::span<const uint8_t> datagram);
    // The datagram held on probation, once Admit said Switched.
    std::span<const uint8_t> Held() const { return {Held_.data(), HeldLength_}; }

    // True when this audio packet of `samples` samples starts a talkspurt;
    // remembers it as the sender's latest audio.
    bool StartsTalkspurt(const TRtpPacket& packet, int samples);

private:
    bool HasSource_ = false;
    uint32_t Ssrc_ = 0;
    uint32_t CandidateSsrc_ = 0;
    uint16_t CandidateSequence_ = 0;
    int CandidateRun_ = 0;
    std::array<uint8_t, kMaxDatagram> Held_{};
    std::size_t HeldLength_ = 0;

    bool HasAudio_ = false;
    uint16_t LastSequence_ = 0;
    uint32_t LastTimestamp_ = 0;
    int LastSamples_ = 0;
};

}  // namespace media
