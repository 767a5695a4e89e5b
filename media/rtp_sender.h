// The send half of a call's RTP: one captured frame in, at most one packet
// (or a telephone-event train) out, run on the capture thread only.
//
// Each frame is encoded and sent as soon as it is captured; on hold it is
// encoded (time goes on) but not sent. Numbering follows what a receiver
// measures loss and timing by: the sequence number counts packets actually
// put on the wire, so a hold or a dropped frame leaves no gap, while the
// timestamp advances by every captured frame, so it keeps real time across
// a hold. The first audio packet after a hold carries the marker bit, the
// receiver's cue to resynchronise its playout.
#pragma once

#include <array>
#include <cstdint>

class TCall;

namespace media {

// The fixed frame sent in place of captured audio while the microphone is
// disabled.
extern const std::array<int16_t, 160> kQuietFrame;

class TRtpSender {
public:
    void SendFrame(TCall& call, const int16_t* pcm);

private:
    void SendPrepared(TCall& call);
    // Puts the next sequence number on the packet and sends it; the number
    // is used up only when the datagram went out.
    void Transmit(TCall& call, std::size_t length);

    uint32_t DigitTimestamp_ = 0;  // timestamp of the current digit's first event packet
    bool Paused_ = false;          // held since the last packet sent
    std::array<int16_t, 160> Frame_{};
};

}  // namespace media
