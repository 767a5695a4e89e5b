#include "tools/impair_relay/impair_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <stdexcept>

namespace relay {

namespace {

double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

int BindLoopback(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        throw std::runtime_error("relay: socket failed");
    const int bufferBytes = 1 << 20;  // a burst of a few hundred datagrams waits here
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof(bufferBytes));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        throw std::runtime_error("relay: cannot bind port " + std::to_string(port));
    }
    return fd;
}

uint16_t BoundPort(int fd) {
    sockaddr_in address{};
    socklen_t size = sizeof(address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

void SendTo(int fd, uint16_t port, const uint8_t* data, std::size_t length) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(fd, data, length, 0, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
}

double Quantile(std::vector<double> values, double q) {
    if (values.empty())
        return 0;
    const auto index = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<long>(index), values.end());
    return values[index];
}

}  // namespace

std::string TRelaySummary::Text() const {
    std::array<char, 256> text{};
    std::snprintf(text.data(), text.size(),
                  "relay received %lld lost %lld (%.2f%%) sent %lld duplicated %lld reordered %lld "
                  "jitter %.1f ms delay p50 %.1f ms p95 %.1f ms",
                  static_cast<long long>(received), static_cast<long long>(lost), LossPercent(),
                  static_cast<long long>(sent), static_cast<long long>(duplicated),
                  static_cast<long long>(reordered), jitterMs, delayP50Ms, delayP95Ms);
    return text.data();
}

TImpairRelay::TImpairRelay(uint16_t listenPort, uint16_t targetPort, const TImpairment& impairment,
                           bool withControlPort)
    : Model_(impairment) {
    try {
        TLink media;
        media.fd = BindLoopback(listenPort);
        media.targetPort = targetPort;
        media.impaired = true;
        Links_.push_back(media);
        ListenPort_ = BoundPort(media.fd);
        if (withControlPort) {
            TLink control;
            control.fd = BindLoopback(static_cast<uint16_t>(ListenPort_ + 1));
            control.targetPort = static_cast<uint16_t>(targetPort + 1);
            Links_.push_back(control);
        }
        WakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (WakeFd_ < 0)
            throw std::runtime_error("relay: eventfd failed");
    } catch (...) {
        for (const TLink& link : Links_)
            close(link.fd);
        throw;
    }
    Thread_ = std::thread(&TImpairRelay::Run, this);
}

TImpairRelay::~TImpairRelay() {
    Stopping_ = true;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(WakeFd_, &one, sizeof(one));
    Thread_.join();
    for (const TLink& link : Links_)
        close(link.fd);
    close(WakeFd_);
}

TRelaySummary TImpairRelay::Summary() {
    std::lock_guard<std::mutex> guard(Lock_);
    TRelaySummary summary = Summary_;
    summary.delayP50Ms = Quantile(Delays_, 0.50);
    summary.delayP95Ms = Quantile(Delays_, 0.95);
    return summary;
}

bool TImpairRelay::Receive(TLink& link, double nowMs) {
    std::array<uint8_t, 4096> buffer{};
    sockaddr_in from{};
    socklen_t fromSize = sizeof(from);
    const ssize_t length = recvfrom(link.fd, buffer.data(), buffer.size(), 0,
                                    reinterpret_cast<sockaddr*>(&from), &fromSize);
    if (length <= 0)
        return false;
    const uint16_t fromPort = ntohs(from.sin_port);
    const auto bytes = static_cast<std::size_t>(length);
    if (fromPort == link.targetPort) {
        if (link.peerPort != 0)
            SendTo(link.fd, link.peerPort, buffer.data(), bytes);
        return true;
    }
    link.peerPort = fromPort;
    if (!link.impaired) {
        SendTo(link.fd, link.targetPort, buffer.data(), bytes);
        return true;
    }
    const TFate fate = Model_.Next();
    {
        std::lock_guard<std::mutex> guard(Lock_);
        ++Summary_.received;
        Summary_.lost += fate.lost ? 1 : 0;
        Summary_.reordered += fate.reordered ? 1 : 0;
    }
    bool original = true;
    for (const double wait : fate.sendAfterMs) {
        Pending_.push_back({nowMs + wait, nowMs, original, link.fd, link.targetPort,
                            std::vector<uint8_t>(buffer.begin(), buffer.begin() + length)});
        std::push_heap(Pending_.begin(), Pending_.end(), std::greater<>());
        original = false;
    }
    return true;
}

void TImpairRelay::SendDue(double nowMs) {
    while (!Pending_.empty() && Pending_.front().dueMs <= nowMs) {
        std::pop_heap(Pending_.begin(), Pending_.end(), std::greater<>());
        const TPending pending = std::move(Pending_.back());
        Pending_.pop_back();
        SendTo(pending.fd, pending.port, pending.data.data(), pending.data.size());
        std::lock_guard<std::mutex> guard(Lock_);
        ++Summary_.sent;
        if (!pending.original) {
            ++Summary_.duplicated;
            continue;
        }
        const double transit = nowMs - pending.receivedMs;
        Delays_.push_back(transit);
        if (LastTransitMs_ >= 0)
            Summary_.jitterMs += (std::fabs(transit - LastTransitMs_) - Summary_.jitterMs) / 16.0;
        LastTransitMs_ = transit;
    }
}

void TImpairRelay::Run() {
    std::vector<pollfd> watched;
    for (const TLink& link : Links_)
        watched.push_back({link.fd, POLLIN, 0});
    watched.push_back({WakeFd_, POLLIN, 0});
    while (!Stopping_) {
        int waitMs = 100;
        if (!Pending_.empty())
            waitMs = std::clamp(static_cast<int>(std::ceil(Pending_.front().dueMs - NowMs())), 0, 100);
        for (pollfd& entry : watched)
            entry.revents = 0;
        if (poll(watched.data(), watched.size(), waitMs) > 0) {
            for (std::size_t index = 0; index < Links_.size(); ++index)
                if (watched[index].revents & POLLIN)
                    while (Receive(Links_[index], NowMs())) {
                    }
        }
        SendDue(NowMs());
    }
}

}  // namespace relay
