// UDP sockets, the signalling receive thread, local address discovery, name
// resolution and identifier generators.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

// Errors of the transport carry the fixed English texts of the agent.
class ESipError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Largest datagram the agent accepts: the largest UDP payload IPv4 carries
// (65,535 less the IP and UDP headers), as SIP over UDP may use all of it.
constexpr std::size_t kMaxDatagram = 65507;

// A bound IPv4 UDP socket file descriptor on all local addresses.
// Raises "WSASocket failed" or "bind failed".
int CreateUdpSocket(uint16_t port);

// Reads one datagram without blocking. True when one was read (length may be
// 0), false when nothing was waiting, when the datagram was longer than
// `size` (it is lost) or when only a stale "connection refused" was pending.
// Raises with WinsockErrorText on any other error.
bool UdpReceiveFrom(int socket, void* buffer, std::size_t size, std::size_t& length,
                    uint16_t& senderPort, std::string& senderAddress);

// Sends one datagram to a dotted IPv4 address. False, without a system call,
// for "0.0.0.0", an empty address or an invalid socket; false when the
// system would block or an earlier datagram was refused by its destination.
// Raises "IP address is incorrect" or the Winsock text.
bool UdpSendTo(int socket, const void* buffer, std::size_t length, uint16_t port,
               const std::string& address);

std::string WinsockErrorText(int code);
// The Winsock code that corresponds to an errno value.
int WinsockCodeFromErrno(int error);

// First IPv4 address of an interface outside 127.0.0.0/8, else "127.0.0.1".
std::string GetLocalAddress();
// The choice GetLocalAddress makes among the interface addresses (dotted
// text, in interface order).
std::string ChooseLocalAddress(const std::vector<std::string>& addresses);
// The source address the routing table gives toward the dotted
// `destination`, loopback included; GetLocalAddress when there is no route
// or the destination is not an address.
std::string GetLocalAddressFor(const std::string& destination);
// First IPv4 address of `name`, or `name` itself when it cannot be resolved.
std::string ResolveAddress(const std::string& name);
// First IPv4 address of `name`, or empty when it cannot be resolved.
std::string LookupAddress(const std::string& name);

std::string NewHexId();   // 32 upper-case hex digits from 16 random bytes
std::string NewTag();     // first 9 characters of a NewHexId
std::string NewBranch();  // "z9hG4bK" and the first 10 characters of a NewHexId

// Sole owner of a file descriptor; closes it on destruction.
class TUniqueFd {
public:
    TUniqueFd() = default;
    explicit TUniqueFd(int fd) : Fd_(fd) {}
    ~TUniqueFd() { Reset(); }
    TUniqueFd(TUniqueFd&& other) noexcept : Fd_(other.Release()) {}
    TUniqueFd& operator=(TUniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    TUniqueFd(const TUniqueFd&) = delete;
    TUniqueFd& operator=(const TUniqueFd&) = delete;

    int Get() const { return Fd_; }
    int Release() {
        int fd = Fd_;
        Fd_ = -1;
        return fd;
    }
    void Reset(int fd = -1);

private:
    int Fd_ = -1;
};

// A UDP socket with its own receive thread: the engine's signalling socket
// (with a keep-alive timer). Calls' media sockets have no thread of their
// own; the media loop waits on them.
// The thread waits at most 100 ms at a time, so the destructor returns within
// about that plus the handler in progress. An error raised in one pass (the
// receive, a handler) is dropped and the loop goes on.
class TUdpSocket {
public:
    using TReceiveHandler = std::function<void(const std::string& address, uint16_t port,
                                               const uint8_t* buffer, std::size_t length)>;
    using TTimerHandler = std::function<void()>;

    static constexpr std::chrono::milliseconds kDefaultTimerPeriod{30000};
    // Longest single wait of the thread, and so the bound on how long the
    // destructor waits for a thread that is idle.
    static constexpr std::chrono::milliseconds kMaxWait{100};

    // Binds `port` (errors propagate to the creator; 0 takes an ephemeral
    // port) and starts the thread. The timer runs only when `onTimer` is set.
    // Both handlers run on the socket's own thread.
    TUdpSocket(uint16_t port, TTimerHandler onTimer, TReceiveHandler onReceive,
               std::chrono::milliseconds timerPeriod = kDefaultTimerPeriod);
    ~TUdpSocket();
    TUdpSocket(const TUdpSocket&) = delete;
    TUdpSocket& operator=(const TUdpSocket&) = delete;

    // Callable from any thread; see UdpSendTo.
    bool Send(const std::string& address, uint16_t port, const void* buffer, std::size_t length);
    bool Send(const std::string& address, uint16_t port, const std::string& text) {
        return Send(address, port, text.data(), text.size());
    }
    uint16_t LocalPort() const { return LocalPort_; }

private:
    using TClock = std::chrono::steady_clock;

    void Run();
    std::chrono::milliseconds NextWait(TClock::time_point timerDue) const;
    void ReceiveOne(uint8_t* buffer);
    void DrainWakeEvent();

    // Set in the constructor, read-only afterwards.
    TUniqueFd Socket_;
    TUniqueFd WakeEvent_;  // eventfd the destructor signals to cut a wait short
    uint16_t LocalPort_ = 0;
    TTimerHandler OnTimer_;
    TReceiveHandler OnReceive_;
    std::chrono::milliseconds TimerPeriod_;

    std::atomic<bool> Stopping_{false};
    std::thread Thread_;  // last: starts after every other member is ready
};

// The pool of even local RTP ports an engine hands to its calls.
class TRtpPortPool {
public:
    TRtpPortPool(int portMin = 22000, int portMax = 24000);

    void SetBounds(int portMin, int portMax);
    int GetMin() const;
    int GetMax() const;

    // Raises "No local UDP port numbers available." when every even port of
    // the range is taken.
    int AllocateRtpPort();
    void ReleaseRtpPort(int port);
    bool InUse(int port) const;
    std::size_t InUseCount() const;

private:
    int DrawCandidate();  // caller holds Lock_
    bool Taken(int port) const;  // caller holds Lock_

    mutable std::mutex Lock_;  // guards every field below
    int PortMin_;
    int PortMax_;
    std::vector<int> InUse_;
    std::mt19937 Random_;
};
