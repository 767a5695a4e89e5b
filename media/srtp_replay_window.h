// One SRTP stream's packet index (RFC 3711 3.3.1) and the window of indexes
// already seen (3.3.2), for a sender (a number is never protected twice)
// and a receiver (a packet is never taken twice) alike. The estimate of a
// sequence number's index follows libsrtp's arithmetic, the reference the
// peers we meet run: at the start of a stream (index at most 2^15) a number
// counts forward from the index with no rollover guessed, after it the
// rollover counter is the one nearest the last index.
#pragma once

#include <bitset>
#include <cstdint>

namespace media {

class TSrtpReplayWindow {
public:
    static constexpr int kWindowPackets = 128;

    struct TEstimate {
        uint64_t index = 0;  // rollover counter * 2^16 + sequence number
        int delta = 0;       // from the highest index so far; > 0 is news
    };
    TEstimate Estimate(uint16_t sequence) const;

    enum class TCheck { Fresh, Seen, TooOld };
    TCheck Check(int delta) const;
    // Marks the estimated index as seen; a later one becomes the highest.
    void Add(int delta);

    uint64_t Highest() const { return Highest_; }

private:
    uint64_t Highest_ = 0;
    std::bitset<kWindowPackets> Seen_;  // bit n: index Highest_ - n
};

}  // namespace media
