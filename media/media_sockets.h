// A call's RTP socket and its control (RTCP) socket one port above, bound
// without threads of their own: the media loop waits on them, and whoever
// plays out a frame first takes what they hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sip/transport.h"

namespace media {

class TMediaSockets {
public:
    using THandler = std::function<void(const std::string& address, uint16_t port, const uint8_t* data,
                                        std::size_t length)>;
    // Datagrams taken from one socket in one drain: a flood on one call
    // cannot hold the loop from the others; the rest waits for the next pass.
    static constexpr int kMaxPerDrain = 64;

    // Binds `rtpPort` (errors propagate) and, with `withControl`, the port
    // above it; a control port someone else holds leaves the call without
    // control reports.
    TMediaSockets(uint16_t rtpPort, bool withControl);

    int RtpFd() const { return Rtp_.Get(); }
    int ControlFd() const { return Control_.Get(); }  // -1 when there is none
    bool HasControl() const { return Control_.Get() >= 0; }
    // Every watched socket, for the loop.
    std::vector<int> Fds() const;

    bool SendRtp(const std::string& host, uint16_t port, const void* data, std::size_t length);
    bool SendControl(const std::string& host, uint16_t port, const void* data, std::size_t length);
    // Hands every datagram already waiting on the RTP socket (resp. the
    // control socket) to `handler`, without blocking. Not for two threads
    // at once: the buffer is shared.
    void DrainRtp(const THandler& handler) { Drain(Rtp_.Get(), handler); }
    void DrainControl(const THandler& handler) { Drain(Control_.Get(), handler); }
    // Drops what arrived while nobody listened: it is older than the media
    // that starts now.
    void DiscardWaiting();

private:
    // How many datagrams it took: kMaxPerDrain when more may wait.
    int Drain(int fd, const THandler& handler);

    TUniqueFd Rtp_;
    TUniqueFd Control_;
    std::vector<uint8_t> Buffer_ = std::vector<uint8_t>(kMaxDatagram);
};

}  // namespace media
