#include "media/media_sockets.h"

namespace media {

TMediaSockets::TMediaSockets(uint16_t rtpPort, bool withControl) : Rtp_(CreateUdpSocket(rtpPort)) {
    if (!withControl || rtpPort == 0 || rtpPort >= 65535)
        return;
    try {
        Control_ = TUniqueFd(CreateUdpSocket(static_cast<uint16_t>(rtpPort + 1)));
    } catch (const std::exception&) {
        // Taken by someone else: the call goes on without control reports.
    }
}

std::vector<int> TMediaSockets::Fds() const {
    std::vector<int> fds{Rtp_.Get()};
    if (HasControl())
        fds.push_back(Control_.Get());
    return fds;
}

bool TMediaSockets::SendRtp(const std::string& host, uint16_t port, const void* data, std::size_t length) {
    return UdpSendTo(Rtp_.Get(), data, length, port, host);
}

bool TMediaSockets::SendControl(const std::string& host, uint16_t port, const void* data, std::size_t length) {
    return UdpSendTo(Control_.Get(), data, length, port, host);
}

void TMediaSockets::DiscardWaiting() {
    // Bounded: a flood cannot hold the start of media for ever.
    constexpr int kMaxPasses = 64;
    const THandler ignore = [](const std::string&, uint16_t, const uint8_t*, std::size_t) {};
    for (const int fd : Fds()) {
        for (int pass = 0; pass < kMaxPasses; ++pass)
            if (Drain(fd, ignore) < kMaxPerDrain)
                break;
    }
}

int TMediaSockets::Drain(int fd, const THandler& handler) {
    if (fd < 0)
        return 0;
    std::string address;
    int taken = 0;
    for (; taken < kMaxPerDrain; ++taken) {
        std::size_t length = 0;
        uint16_t port = 0;
        try {
            if (!UdpReceiveFrom(fd, Buffer_.data(), Buffer_.size(), length, port, address))
                break;  // nothing waits (or only a stale refusal did)
        } catch (const std::exception&) {
            break;  // a socket error: the loop comes back when it clears
        }
        if (length == 0)
            continue;
        try {
            handler(address, port, Buffer_.data(), length);
        } catch (...) {
            // One datagram that cannot be handled never stops the others.
        }
    }
    return taken;
}

}  // namespace media
