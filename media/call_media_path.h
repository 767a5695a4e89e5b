// The RTP paths of a call, kept apart from the call object so that packet
// formats, the jitter buffer and the detectors live in their own unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class TCall;

class ICallMediaPath {
public:
    // Bounds of the wait between two runs of Service: an idle path is still
    // looked at ten times a second, a busy one never spins.
    static constexpr double kIdleMs = 100;
    static constexpr double kShortestWaitMs = 0.2;

    virtual ~ICallMediaPath() = default;

    // Runs once per captured frame on the capture thread (the send side is
    // clocked by capture: no frame, no packet).
    virtual void SendFrame(TCall& call, const int16_t* pcm) = 0;
    // Runs for every datagram taken from the call's RTP socket, one at a
    // time (on the media loop, or on a speaker's thread that drains the
    // call before it asks for a frame).
    virtual void ReceiveDatagram(TCall& call, const uint8_t* data, std::size_t length) = 0;
    // The call's media starts (its socket is open) and stops (the media loop
    // no longer runs it).
    virtual void Start(TCall& /*call*/) {}
    virtual void Stop(TCall& /*call*/) {}
    // Plays out what is due, on the media loop, right after the call's
    // sockets were drained; returns the ms until it should run again.
    virtual double Service(TCall& /*call*/) { return kIdleMs; }
    // Control reports (RTCP) on the RTP port + 1: one received like an RTP
    // datagram, and the compound report to send, every report interval on
    // the media loop (empty: nothing to send).
    virtual void ReceiveControl(TCall& /*call*/, const uint8_t* /*data*/, std::size_t /*length*/) {}
    virtual std::vector<uint8_t> ComposeControl(TCall& /*call*/) { return {}; }
};
using ICallMediaPathPtr = std::shared_ptr<ICallMediaPath>;
