#include "sip/transport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <condition_variable>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <set>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr auto kPatience = 20s;  // a bound only a fault reaches, for anything asynchronous

// Collects what a TUdpSocket delivers and lets the test wait for it.
struct TInbox {
    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<std::vector<uint8_t>> Datagrams;

    TUdpSocket::TReceiveHandler Handler() {
        return [this](const std::string&, uint16_t, const uint8_t* data, std::size_t length) {
            std::lock_guard lock(Lock);
            Datagrams.emplace_back(data, data + length);
            Changed.notify_all();
        };
    }
    bool WaitFor(std::size_t count) {
        std::unique_lock lock(Lock);
        return Changed.wait_for(lock, kPatience, [&] { return Datagrams.size() >= count; });
    }
};

std::vector<uint8_t> Pattern(std::size_t size) {
    std::vector<uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    return bytes;
}

uint16_t PortOf(int socket) {
    sockaddr_in local{};
    socklen_t length = sizeof(local);
    getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length);
    return ntohs(local.sin_port);
}

bool WaitReadable(int socket) {
    pollfd entry{socket, POLLIN | POLLERR, 0};
    return poll(&entry, 1, 3000) == 1;
}

void ExpectSipError(const std::function<void()>& action, const std::string& text) {
    try {
        action();
        ADD_FAILURE() << "expected ESipError \"" << text << "\"";
    } catch (const ESipError& error) {
        EXPECT_EQ(error.what(), text);
    }
}

bool IsUpperHex(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

}  // namespace

TEST(TransportErrors, WinsockTextsAndErrnoMapping) {
    EXPECT_EQ(WinsockErrorText(10061), "Connection refused");
    EXPECT_EQ(WinsockErrorText(10004), "Interrupted system call");
    EXPECT_EQ(WinsockErrorText(10071), "Too many levels of remote in path");
    EXPECT_EQ(WinsockErrorText(10091), "Network sub-system is unusable");
    EXPECT_EQ(WinsockErrorText(11004), "No Data");
    for (int code : {5, 0, 10072, 10090, 11000, 11005}) {
        EXPECT_EQ(WinsockErrorText(code), "Not a WinSock error.") << code;
    }
    const std::pair<int, int> mapped[] = {
        {ECONNREFUSED, 10061}, {EAGAIN, 10035}, {EMSGSIZE, 10040}, {EADDRINUSE, 10048},
        {ENETUNREACH, 10051},  {EHOSTUNREACH, 10065}, {EBADF, 10009}, {0, 0}};
    for (auto [error, code] : mapped) {
        EXPECT_EQ(WinsockCodeFromErrno(error), code) << error;
    }
}

TEST(TransportSockets, TakenPortFailsToBind) {
    TUniqueFd first(CreateUdpSocket(0));
    uint16_t port = PortOf(first.Get());
    ASSERT_NE(port, 0);
    ExpectSipError([&] { TUniqueFd second(CreateUdpSocket(port)); }, "bind failed");
    ExpectSipError([&] { TUdpSocket second(port, nullptr, nullptr); }, "bind failed");
}

TEST(TransportSockets, SendRejectsUnusableDestinations) {
    TUniqueFd sender(CreateUdpSocket(0));
    const char byte = 'x';
    // A real sendto to 0.0.0.0 would reach this host and succeed.
    EXPECT_FALSE(UdpSendTo(sender.Get(), &byte, 1, 5060, "0.0.0.0"));
    EXPECT_FALSE(UdpSendTo(sender.Get(), &byte, 1, 5060, ""));
    EXPECT_FALSE(UdpSendTo(-1, &byte, 1, 5060, "127.0.0.1"));
    // On a descriptor that is no socket, any system call would raise.
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    TUniqueFd readEnd(pipeFds[0]), writeEnd(pipeFds[1]);
    EXPECT_FALSE(UdpSendTo(writeEnd.Get(), &byte, 1, 5060, "0.0.0.0"));
    ExpectSipError([&] { UdpSendTo(writeEnd.Get(), &byte, 1, 5060, "127.0.0.1"); },
                   "Socket operation on non-socket");

    ExpectSipError([&] { UdpSendTo(sender.Get(), &byte, 1, 5060, "10.0.0.300"); },
                   "IP address is incorrect");
    ExpectSipError([&] { UdpSendTo(sender.Get(), &byte, 1, 5060, "localhost"); },
                   "IP address is incorrect");
    std::vector<uint8_t> huge(70000);
    ExpectSipError([&] { UdpSendTo(sender.Get(), huge.data(), huge.size(), 5060, "127.0.0.1"); },
                   "Message too long");
}

TEST(TransportSockets, ReceiveReportsSenderAndKeepsDatagramBoundaries) {
    TUniqueFd receiver(CreateUdpSocket(0));
    TUniqueFd sender(CreateUdpSocket(0));
    uint16_t port = PortOf(receiver.Get());
    std::vector<uint8_t> buffer(kMaxDatagram);
    std::size_t length = 0;
    uint16_t senderPort = 0;
    std::string senderAddress;
    EXPECT_FALSE(UdpReceiveFrom(receiver.Get(), buffer.data(), buffer.size(), length,
                                senderPort, senderAddress));

    // A full-size datagram right before a small one: the kernel's default
    // buffers must hold both, as well as a burst of medium ones.
    auto whole = Pattern(kMaxDatagram);
    ASSERT_TRUE(UdpSendTo(sender.Get(), whole.data(), whole.size(), port, "127.0.0.1"));
    auto medium = Pattern(600);
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(UdpSendTo(sender.Get(), medium.data(), medium.size(), port, "127.0.0.1"));
    }
    ASSERT_TRUE(WaitReadable(receiver.Get()));
    ASSERT_TRUE(UdpReceiveFrom(receiver.Get(), buffer.data(), buffer.size(), length, senderPort,
                               senderAddress));
    EXPECT_EQ(length, kMaxDatagram);
    EXPECT_EQ(buffer, whole);
    EXPECT_EQ(senderAddress, "127.0.0.1");
    EXPECT_EQ(senderPort, PortOf(sender.Get()));
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(WaitReadable(receiver.Get()));
        ASSERT_TRUE(UdpReceiveFrom(receiver.Get(), buffer.data(), buffer.size(), length,
                                   senderPort, senderAddress)) << i;
        EXPECT_EQ(length, medium.size());
    }
}

TEST(TransportSockets, RefusedDestinationIsHarmless) {
    TUniqueFd socket(CreateUdpSocket(0));
    uint16_t closedPort = 0;
    {
        TUniqueFd gone(CreateUdpSocket(0));
        closedPort = PortOf(gone.Get());
    }
    // Connected, the socket reliably keeps the ICMP refusal as a pending
    // error for the next send or receive.
    sockaddr_in closed{};
    closed.sin_family = AF_INET;
    closed.sin_port = htons(closedPort);
    closed.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(socket.Get(), reinterpret_cast<sockaddr*>(&closed), sizeof(closed)), 0);
    const char byte = 'x';
    std::vector<uint8_t> buffer(kMaxDatagram);
    std::size_t length = 0;
    uint16_t senderPort = 0;
    std::string senderAddress;

    EXPECT_TRUE(UdpSendTo(socket.Get(), &byte, 1, closedPort, "127.0.0.1"));
    ASSERT_TRUE(WaitReadable(socket.Get()));
    EXPECT_FALSE(UdpSendTo(socket.Get(), &byte, 1, closedPort, "127.0.0.1"));
    EXPECT_TRUE(UdpSendTo(socket.Get(), &byte, 1, closedPort, "127.0.0.1"));
    ASSERT_TRUE(WaitReadable(socket.Get()));
    EXPECT_FALSE(UdpReceiveFrom(socket.Get(), buffer.data(), buffer.size(), length, senderPort,
                                senderAddress));
}

TEST(TransportThread, DeliversWholeDatagramsAndSurvivesBadOnes) {
    TInbox inbox;
    bool thrown = false;
    auto handler = [&, deliver = inbox.Handler()](const std::string& address, uint16_t port,
                                                  const uint8_t* data, std::size_t length) {
        if (length == 3 && !thrown) {
            thrown = true;
            throw ESipError("handler failure");
        }
        deliver(address, port, data, length);
    };
    TUdpSocket socket(0, nullptr, handler);
    ASSERT_NE(socket.LocalPort(), 0);
    TUdpSocket sender(0, nullptr, nullptr);

    // The largest payload IPv4 carries, and one just past the old 4096
    // bytes (an INVITE with a long SDP), both arrive whole.
    auto whole = Pattern(kMaxDatagram);
    auto beyondOldLimit = Pattern(4125);
    ASSERT_TRUE(sender.Send("127.0.0.1", socket.LocalPort(), whole.data(), whole.size()));
    ASSERT_TRUE(sender.Send("127.0.0.1", socket.LocalPort(), beyondOldLimit.data(), beyondOldLimit.size()));
    ASSERT_TRUE(sender.Send("127.0.0.1", socket.LocalPort(), "bad"));
    ASSERT_TRUE(sender.Send("127.0.0.1", socket.LocalPort(), "after"));

    ASSERT_TRUE(inbox.WaitFor(3));
    std::lock_guard lock(inbox.Lock);
    ASSERT_EQ(inbox.Datagrams.size(), 3u);
    EXPECT_TRUE(inbox.Datagrams[0] == whole);
    EXPECT_TRUE(inbox.Datagrams[1] == beyondOldLimit);
    EXPECT_EQ(std::string(inbox.Datagrams[2].begin(), inbox.Datagrams[2].end()), "after");
    EXPECT_TRUE(thrown);
}

TEST(TransportThread, TimerTicksAtItsPeriodOnlyWhenSet) {
    std::atomic<int> ticks{0};
    const auto period = 40ms;
    auto started = std::chrono::steady_clock::now();
    {
        TUdpSocket socket(0, [&] { ++ticks; }, nullptr, period);
        auto deadline = started + kPatience;
        while (ticks < 4 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
    }
    auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_GE(ticks.load(), 4);
    EXPECT_LE(ticks.load(), elapsed / period + 1) << "ticks faster than the period";

    // Without a timer handler the socket still receives; a tick attempt
    // would throw inside the loop and could only show up as a lost datagram.
    TInbox inbox;
    TUdpSocket quiet(0, nullptr, inbox.Handler(), 1ms);
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(quiet.Send("127.0.0.1", quiet.LocalPort(), "ping"));
    EXPECT_TRUE(inbox.WaitFor(1));
}

TEST(TransportThread, DestroyingAWaitingSocketIsQuick) {
    auto socket = std::make_unique<TUdpSocket>(0, [] {}, [](auto&&...) {});
    std::this_thread::sleep_for(150ms);  // the thread is inside its wait
    auto started = std::chrono::steady_clock::now();
    socket.reset();
    // Seconds only if the thread never sees the stop; its own wait is short.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
}

TEST(TransportAddresses, LocalAddressAndResolution) {
    EXPECT_EQ(ChooseLocalAddress({"127.0.0.1"}), "127.0.0.1");
    EXPECT_EQ(ChooseLocalAddress({}), "127.0.0.1");
    EXPECT_EQ(ChooseLocalAddress({"127.0.0.1", "127.0.1.1", "192.168.1.5", "10.0.0.2"}),
              "192.168.1.5");

    std::string local = GetLocalAddress();
    EXPECT_TRUE(local == "127.0.0.1" || !local.starts_with("127.")) << local;
    // A server on this host hears us from loopback, so loopback is written;
    // toward nothing usable the plain choice is used.
    EXPECT_EQ(GetLocalAddressFor("127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(GetLocalAddressFor("127.0.0.53"), "127.0.0.1");
    EXPECT_EQ(GetLocalAddressFor("not an address"), local);
    EXPECT_EQ(GetLocalAddressFor(""), local);

    EXPECT_EQ(ResolveAddress("127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(LookupAddress("10.1.2.3"), "10.1.2.3");
    EXPECT_EQ(LookupAddress("localhost"), "127.0.0.1");
    EXPECT_EQ(ResolveAddress("no-such-host.invalid"), "no-such-host.invalid");
    EXPECT_EQ(LookupAddress("no-such-host.invalid"), "");
}

TEST(TransportIds, FormatsAndFreshness) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        std::string id = NewHexId();
        EXPECT_EQ(id.size(), 32u);
        EXPECT_TRUE(IsUpperHex(id)) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 200u);
    std::string tag = NewTag();
    EXPECT_EQ(tag.size(), 9u);
    EXPECT_TRUE(IsUpperHex(tag));
    std::string branch = NewBranch();
    EXPECT_EQ(branch.size(), 17u);
    EXPECT_TRUE(branch.starts_with("z9hG4bK"));
    EXPECT_TRUE(IsUpperHex(branch.substr(7)));
}

TEST(TransportPortPool, DrawsEvenPortsInsideTheDrawRange) {
    TRtpPortPool pool;
    for (int i = 0; i < 300; ++i) {
        int port = pool.AllocateRtpPort();
        EXPECT_EQ(port % 2, 0);
        EXPECT_GE(port, 22000);
        EXPECT_LE(port, 23996);
        pool.ReleaseRtpPort(port);
    }
    EXPECT_EQ(pool.InUseCount(), 0u);
}

TEST(TransportPortPool, FillsEveryEvenPortThenRefusesThenReuses) {
    TRtpPortPool pool;
    std::set<int> ports;
    for (int i = 0; i < 1001; ++i) {
        ports.insert(pool.AllocateRtpPort());
    }
    ASSERT_EQ(ports.size(), 1001u);
    EXPECT_EQ(*ports.begin(), 22000);
    EXPECT_EQ(*ports.rbegin(), 24000);  // only the upward search reaches it
    ExpectSipError([&] { pool.AllocateRtpPort(); }, "No local UDP port numbers available.");
    for (int freed : {24000, 22000, 23000}) {
        pool.ReleaseRtpPort(freed);
        EXPECT_EQ(pool.AllocateRtpPort(), freed);
    }
    pool.ReleaseRtpPort(12345);  // unknown ports are ignored
    EXPECT_EQ(pool.InUseCount(), 1001u);

    TRtpPortPool single(30000, 30000);
    EXPECT_EQ(single.AllocateRtpPort(), 30000);
    ExpectSipError([&] { single.AllocateRtpPort(); }, "No local UDP port numbers available.");
}

TEST(TransportPortPool, ConcurrentAllocationsNeverShareAPort) {
    TRtpPortPool pool(40000, 40800);  // 401 even ports for 400 requests
    std::vector<std::vector<int>> results(4);
    std::vector<std::thread> threads;
    for (auto& result : results) {
        threads.emplace_back([&pool, &result] {
            for (int i = 0; i < 100; ++i) {
                result.push_back(pool.AllocateRtpPort());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::set<int> all;
    for (const auto& result : results) {
        all.insert(result.begin(), result.end());
    }
    EXPECT_EQ(all.size(), 400u);
    EXPECT_EQ(pool.InUseCount(), 400u);
}

namespace {

// Received datagrams (signalling and RTP alike) are handled at the normal
// priority the test runs with, even where real-time priority would be
// granted (this test runs as root on the build machine).
TEST(TransportThread, HandlesDatagramsAtNormalPriority) {
    TInbox inbox;
    std::atomic<int> policy{-1};
    const auto deliver = inbox.Handler();
    TUdpSocket socket(0, nullptr, [&](const std::string& a, uint16_t p, const uint8_t* d, std::size_t n) {
        int current = -1;
        sched_param param{};
        pthread_getschedparam(pthread_self(), &current, &param);
        policy = current;
        deliver(a, p, d, n);
    });
    TUdpSocket sender(0, nullptr, nullptr);
    ASSERT_TRUE(sender.Send("127.0.0.1", socket.LocalPort(), "ping"));
    ASSERT_TRUE(inbox.WaitFor(1));
    EXPECT_EQ(policy.load(), SCHED_OTHER);
}

}  // namespace
