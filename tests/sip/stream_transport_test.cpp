// The connection set against raw sockets on 127.0.0.1: what a flood of
// connections, a peer that never reads, a garbled stream and a keep-alive
// get from it.
#include "sip/stream_transport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "tests/sip/sip_test_peer.h"
#include "tests/sip/tls_test_peer.h"

namespace {

using namespace std::chrono_literals;
using sip_test::kEventCeiling;
using sip_test::LoopbackConnection;

uint16_t LocalPortOf(int fd) {
    sockaddr_in local{};
    socklen_t length = sizeof(local);
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    return ntohs(local.sin_port);
}

// What the peer side reads before `timeout`: the bytes, and whether the
// connection was closed.
struct TRead {
    std::string bytes;
    bool closed = false;
};

TRead ReadUntil(int fd, std::size_t want, std::chrono::milliseconds timeout) {
    TRead result;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (result.bytes.size() < want && std::chrono::steady_clock::now() < deadline) {
        pollfd watched{fd, POLLIN, 0};
        if (poll(&watched, 1, 50) <= 0) continue;
        char buffer[4096];
        const ssize_t got = recv(fd, buffer, sizeof(buffer), 0);
        if (got <= 0) {
            result.closed = true;
            break;
        }
        result.bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return result;
}

void SendAll(int fd, const std::string& text) {
    ASSERT_EQ(send(fd, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
}

class StreamTransportTest : public ::testing::Test {
protected:
    void Make(TStreamTransport::TLimits limits) {
        Transport = std::make_unique<TStreamTransport>(
            std::optional<uint16_t>(0),
            [this](const std::string&, uint16_t port, const std::string& message, bool) {
                std::lock_guard<std::mutex> guard(Lock);
                Messages.emplace_back(port, message);
                Changed.notify_all();
            },
            [this](const std::string&, uint16_t port, const std::string& reason, bool) {
                std::lock_guard<std::mutex> guard(Lock);
                Closures.emplace_back(port, reason);
                Changed.notify_all();
            },
            limits);
    }

    template <typename TPredicate>
    bool Wait(TPredicate done) {
        std::unique_lock<std::mutex> guard(Lock);
        return Changed.wait_for(guard, kEventCeiling, done);
    }

    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<std::pair<uint16_t, std::string>> Messages;
    std::vector<std::pair<uint16_t, std::string>> Closures;
    std::unique_ptr<TStreamTransport> Transport;  // last: its thread uses the members above
};

const std::string kOptions =
    "OPTIONS sip:a@b SIP/2.0\r\nVia: SIP/2.0/TCP 127.0.0.1;branch=z9hG4bK1\r\nContent-Length: 0\r\n\r\n";

TEST_F(StreamTransportTest, ConnectionsPastTheCapAreClosedAndTheOthersServed) {
    TStreamTransport::TLimits limits;
    limits.maxIncoming = 2;
    Make(limits);
    std::vector<TUniqueFd> clients;
    for (int i = 0; i < 4; ++i) clients.push_back(LoopbackConnection(Transport->ListenPort()));
    EXPECT_TRUE(ReadUntil(clients[2].Get(), 1, kEventCeiling).closed);
    EXPECT_TRUE(ReadUntil(clients[3].Get(), 1, kEventCeiling).closed);
    SendAll(clients[0].Get(), kOptions);
    SendAll(clients[1].Get(), kOptions);
    ASSERT_TRUE(Wait([&] { return Messages.size() == 2; }));
    EXPECT_EQ(Transport->ConnectionCount(), 2u);
}

TEST_F(StreamTransportTest, PeerThatDoesNotReadIsDroppedPastTheQueueLimit) {
    TStreamTransport::TLimits limits;
    limits.maxQueuedBytes = 64 * 1024;
    Make(limits);
    TUniqueFd client = LoopbackConnection(Transport->ListenPort());
    const uint16_t port = LocalPortOf(client.Get());
    SendAll(client.Get(), kOptions);
    ASSERT_TRUE(Wait([&] { return Messages.size() == 1; }));
    const std::string chunk(16 * 1024, 'x');
    // The kernel's buffers take the first megabytes; the queue the rest.
    for (int i = 0; i < 4096; ++i) {
        Transport->Send("127.0.0.1", port, chunk, {});
        std::lock_guard<std::mutex> guard(Lock);
        if (!Closures.empty()) break;
    }
    // Sends made while the drop is pending must not replace the connection
    // and lose why it went.
    const auto droppedForItsQueue = [&] {
        return std::any_of(Closures.begin(), Closures.end(), [&](const auto& closure) {
            return closure.second.find("too many bytes waiting") != std::string::npos;
        });
    };
    ASSERT_TRUE(Wait(droppedForItsQueue)) << (Closures.empty() ? std::string("no closure") : Closures[0].second);
    const auto deadline = std::chrono::steady_clock::now() + kEventCeiling;
    while (Transport->ConnectionCount() != 0u && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(Transport->ConnectionCount(), 0u);
}

TEST_F(StreamTransportTest, GarbledStreamIsClosedWithItsReason) {
    Make({});
    TUniqueFd client = LoopbackConnection(Transport->ListenPort());
    SendAll(client.Get(), "GET / HTTP/1.1\r\nHost: booth\r\n\r\n");
    ASSERT_TRUE(Wait([&] { return !Closures.empty(); }));
    EXPECT_NE(Closures[0].second.find("unreadable stream"), std::string::npos) << Closures[0].second;
    EXPECT_TRUE(ReadUntil(client.Get(), 1, kEventCeiling).closed);
}

// A peer's CR LF CR LF on a connection it opened is answered with CR LF.
TEST_F(StreamTransportTest, KeepAliveOnIncomingConnectionIsAnswered) {
    Make({});
    TUniqueFd client = LoopbackConnection(Transport->ListenPort());
    SendAll(client.Get(), "\r\n\r\n");
    const TRead answer = ReadUntil(client.Get(), 2, kEventCeiling);
    EXPECT_EQ(answer.bytes, "\r\n");
    SendAll(client.Get(), kOptions);
    ASSERT_TRUE(Wait([&] { return Messages.size() == 1; }));
}

}  // namespace
