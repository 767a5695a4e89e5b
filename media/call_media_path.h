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
    virtual ~ICallMediaPath() = default;

    // Runs once per captured frame on the capture thread (the send side is
    // clocked by capture: no frame, no packet).
    virtual void SendFrame(TCall& call, const int16_t* pcm) = 0;
    // Runs for every datagram on the call's RTP socket thread.
    virtual void ReceiveDatagram(TCall& call, const uint8_t* data, std::size_t length) = 0;
    // The call's media starts (its socket is open) and stops (the socket's
    // thread has ended): a path with a thread of its own starts and joins it
    // here.
    virtual void Start(TCall& /*call*/) {}
    virtual void Stop(TCall& /*call*/) {}
    // Control reports (RTCP) on the RTP port + 1: one received on the control
    // socket's thread, and the compound report to send, every report
    // interval on the same thread (empty: nothing to send).
    virtual void ReceiveControl(TCall& /*call*/, const uint8_t* /*data*/, std::size_t /*length*/) {}
    virtual std::vector<uint8_t> ComposeControl(TCall& /*call*/) { return {}; }
};
using ICallMediaPathPtr = std::shared_ptr<ICallMediaPath>;
