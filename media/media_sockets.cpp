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
    constexpr int kMaxDiscarded = 4096;
    for (const int fd : Fds()) {
        std::string address;
        for (int discarded = 0; discarded < kMaxDiscarded; ++discarded) {
            std::size_t length = 0;
            uint16_t port = 0;
            try {
                if (!UdpReceiveFrom(fd, Buffer_.data(), Buffer_.size(), length, port, address))
                    break;
            } catch (const std::exception&) {
                break;
            }
        }
    }
}

void TMediaSockets::Drain(int fd, const THandler& handler) {
    if (fd < 0)
        return;
    std::string address;
    for (int taken = 0; taken < kMaxPerDrain; ++taken) {
        std::size_t length = 0;
        uint16_t port = 0;
        try {
            if (!UdpReceiveFrom(fd, Buffer_.data(), Buffer_.size(), length, port, address))
                return;  // nothing waits (or only a stale refusal did)
        } catch (const std::exception&) {
            return;  // a socket error: the loop comes back when it clears
        }
        if (length == 0)
            continue;
        try {
            handler(address, port, Buffer_.data(), length);
        } catch (...) {
            // One datagram that cannot be handled never stops the others.
        }
    }
}

}  // namespace media
