#include "sip/transport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <ifaddrs.h>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct TErrnoCode {
    int Errno;
    int Code;
};

// The Winsock codes are the BSD errno values offset by 10000, so the texts
// keep their Unix wording; Linux numbers them differently, hence the table.
constexpr TErrnoCode kErrnoCodes[] = {
    {EINTR, 10004},           {EBADF, 10009},          {EACCES, 10013},
    {EPERM, 10013},           {EFAULT, 10014},         {EINVAL, 10022},
    {EMFILE, 10024},          {ENFILE, 10024},         {EWOULDBLOCK, 10035},
    {EINPROGRESS, 10036},     {EALREADY, 10037},       {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039},    {EMSGSIZE, 10040},       {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},     {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},      {EPFNOSUPPORT, 10046},   {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},      {EADDRNOTAVAIL, 10049},  {ENETDOWN, 10050},
    {ENETUNREACH, 10051},     {ENETRESET, 10052},      {ECONNABORTED, 10053},
    {ECONNRESET, 10054},      {ENOBUFS, 10055},        {ENOMEM, 10055},
    {EISCONN, 10056},         {ENOTCONN, 10057},       {ESHUTDOWN, 10058},
    {EPIPE, 10058},           {ETOOMANYREFS, 10059},   {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061},    {ELOOP, 10062},          {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},       {EHOSTUNREACH, 10065},   {ENOTEMPTY, 10066},
    {EUSERS, 10068},          {EDQUOT, 10069},         {ESTALE, 10070},
    {EREMOTE, 10071},
};

struct TCodeText {
    int Code;
    const char* Text;
};

constexpr TCodeText kWinsockTexts[] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol wrong type for socket"},
    {10042, "Protocol not available"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection on reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references: can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network sub-system is unusable"},
    {10092, "WinSock DLL cannot support this application"},
    {10093, "WinSock not initialized"},
    {11001, "Host not found"},
    {11002, "Non-authoritative host not found"},
    {11003, "Non-recoverable error"},
    {11004, "No Data"},
};

constexpr int kWouldBlock = 10035;
constexpr int kConnectionRefused = 10061;

[[noreturn]] void ThrowSocketError(int error) {
    throw ESipError(WinsockErrorText(WinsockCodeFromErrno(error)));
}

std::string FormatAddress(const in_addr& address) {
    std::array<char, INET_ADDRSTRLEN> text{};
    inet_ntop(AF_INET, &address, text.data(), text.size());
    return text.data();
}

bool IsLoopback(const std::string& address) {
    in_addr parsed{};
    return inet_pton(AF_INET, address.c_str(), &parsed) == 1 &&
           (ntohl(parsed.s_addr) >> 24) == 127;
}

sockaddr_in MakeAddress(in_addr address, uint16_t port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_addr = address;
    result.sin_port = htons(port);
    return result;
}

uint16_t BoundPort(int socket) {
    sockaddr_in local{};
    socklen_t length = sizeof(local);
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return 0;
    }
    return ntohs(local.sin_port);
}

// First IPv4 address of `name`, or empty.
std::string FirstIpv4Address(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (name.empty() || getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) {
        return {};
    }
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(found, &freeaddrinfo);
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
            return FormatAddress(reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr);
        }
    }
    return {};
}

std::vector<std::string> InterfaceAddresses() {
    std::vector<std::string> result;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return result;
    }
    std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owner(list, &freeifaddrs);
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET) {
            result.push_back(
                FormatAddress(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr));
        }
    }
    return result;
}

// The address the routing table picks as source toward `destination`. A UDP
// connect sends nothing; it only fixes the route.
std::string RouteSourceAddress(const std::string& destination) {
    in_addr target{};
    if (inet_pton(AF_INET, destination.c_str(), &target) != 1) {
        return {};
    }
    TUniqueFd probe(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (probe.Get() < 0) {
        return {};
    }
    // Any non-zero port does; the usual SIP port keeps the intent readable.
    sockaddr_in remote = MakeAddress(target, 5060);
    if (connect(probe.Get(), reinterpret_cast<const sockaddr*>(&remote), sizeof(remote)) != 0) {
        return {};
    }
    sockaddr_in local{};
    socklen_t length = sizeof(local);
    if (getsockname(probe.Get(), reinterpret_cast<sockaddr*>(&local), &length) != 0 ||
        local.sin_addr.s_addr == htonl(INADDR_ANY)) {
        return {};
    }
    return FormatAddress(local.sin_addr);
}

void FillRandom(void* buffer, std::size_t size) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    while (size > 0) {
        ssize_t got = getrandom(bytes, size, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw ESipError("getrandom failed");
        }
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
}

}  // namespace

void TUniqueFd::Reset(int fd) {
    if (Fd_ >= 0) {
        close(Fd_);
    }
    Fd_ = fd;
}

// ---------------------------------------------------------------------------
// Sockets

int CreateUdpSocket(uint16_t port) {
    // Neither SO_REUSEADDR nor small buffers: the first would let a second
    // process share the port and split the traffic, the second would make
    // the kernel drop bursts because it counts its own overhead against it.
    TUniqueFd socketFd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (socketFd.Get() < 0) {
        throw ESipError("WSASocket failed");
    }
    sockaddr_in local = MakeAddress(in_addr{htonl(INADDR_ANY)}, port);
    if (bind(socketFd.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
        throw ESipError("bind failed");
    }
    return socketFd.Release();
}

bool UdpReceiveFrom(int socket, void* buffer, std::size_t size, std::size_t& length,
                    uint16_t& senderPort, std::string& senderAddress) {
    sockaddr_in sender{};
    iovec part{buffer, size};
    msghdr message{};
    message.msg_name = &sender;
    message.msg_namelen = sizeof(sender);
    message.msg_iov = &part;
    message.msg_iovlen = 1;

    ssize_t received = recvmsg(socket, &message, MSG_DONTWAIT);
    if (received < 0) {
        int error = errno;
        int code = WinsockCodeFromErrno(error);
        // An unconnected UDP socket reports here the ICMP "port unreachable"
        // of an earlier send to some other peer. Reading clears it; nothing
        // is wrong with this socket, so it is not an error for the reader.
        if (code == kWouldBlock || code == 0 || code == kConnectionRefused) {
            return false;
        }
        ThrowSocketError(error);
    }
    if (message.msg_flags & MSG_TRUNC) {
        return false;
    }
    length = static_cast<std::size_t>(received);
    senderPort = ntohs(sender.sin_port);
    senderAddress = FormatAddress(sender.sin_addr);
    return true;
}

bool UdpSendTo(int socket, const void* buffer, std::size_t length, uint16_t port,
               const std::string& address) {
    if (address.empty() || address == "0.0.0.0" || socket < 0) {
        return false;
    }
    in_addr target{};
    if (inet_pton(AF_INET, address.c_str(), &target) != 1) {
        throw ESipError("IP address is incorrect");
    }
    sockaddr_in remote = MakeAddress(target, port);
    ssize_t sent = sendto(socket, buffer, length, MSG_NOSIGNAL,
                          reinterpret_cast<const sockaddr*>(&remote), sizeof(remote));
    if (sent >= 0) {
        return true;
    }
    int error = errno;
    int code = WinsockCodeFromErrno(error);
    // A refusal here belongs to an earlier datagram to some destination that
    // had no listener (see UdpReceiveFrom); this datagram was not sent, but
    // the socket is fine, so the caller must not see a failure.
    if (code == kWouldBlock || code == 0 || code == kConnectionRefused) {
        return false;
    }
    ThrowSocketError(error);
}

int WinsockCodeFromErrno(int error) {
    for (const auto& entry : kErrnoCodes) {
        if (entry.Errno == error) {
            return entry.Code;
        }
    }
    return error;
}

std::string WinsockErrorText(int code) {
    for (const auto& entry : kWinsockTexts) {
        if (entry.Code == code) {
            return entry.Text;
        }
    }
    return "Not a WinSock error.";
}

// ---------------------------------------------------------------------------
// Addresses and names

std::string ChooseLocalAddress(const std::vector<std::string>& addresses) {
    for (const auto& address : addresses) {
        if (!address.empty() && !IsLoopback(address)) {
            return address;
        }
    }
    return "127.0.0.1";
}

// The host name is deliberately not looked up: distributions commonly map it
// to 127.0.1.1, which would then be advertised to the peers.
std::string GetLocalAddress() {
    return ChooseLocalAddress(InterfaceAddresses());
}

// A server on this host is reached from 127.0.0.1, and that is the address
// it must be given: an outside address in our Via and Contact would have it
// send the calls where nothing of ours listens.
std::string GetLocalAddressFor(const std::string& destination) {
    std::string local = RouteSourceAddress(destination);
    return local.empty() ? GetLocalAddress() : local;
}

std::string ResolveAddress(const std::string& name) {
    std::string address = FirstIpv4Address(name);
    return address.empty() ? name : address;
}

std::string LookupAddress(const std::string& name) {
    return FirstIpv4Address(name);
}

// ---------------------------------------------------------------------------
// Identifiers

std::string NewHexId() {
    std::array<uint8_t, 16> bytes{};
    FillRandom(bytes.data(), bytes.size());
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t byte : bytes) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

std::string NewTag() {
    return NewHexId().substr(0, 9);
}

std::string NewBranch() {
    return "z9hG4bK" + NewHexId().substr(0, 10);
}

// ---------------------------------------------------------------------------
// TUdpSocket

TUdpSocket::TUdpSocket(uint16_t port, TTimerHandler onTimer, TReceiveHandler onReceive,
                       std::chrono::milliseconds timerPeriod)
    : Socket_(CreateUdpSocket(port)),
      LocalPort_(BoundPort(Socket_.Get())),
      OnTimer_(std::move(onTimer)),
      OnReceive_(std::move(onReceive)),
      TimerPeriod_(timerPeriod) {
    WakeEvent_.Reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (WakeEvent_.Get() < 0) {
        ThrowSocketError(errno);
    }
    Thread_ = std::thread(&TUdpSocket::Run, this);
}

TUdpSocket::~TUdpSocket() {
    Stopping_ = true;
    uint64_t one = 1;
    // A failed write only costs the remainder of the current wait.
    [[maybe_unused]] ssize_t written = write(WakeEvent_.Get(), &one, sizeof(one));
    if (Thread_.joinable()) {
        Thread_.join();
    }
}

bool TUdpSocket::Send(const std::string& address, uint16_t port, const void* buffer,
                      std::size_t length) {
    return UdpSendTo(Socket_.Get(), buffer, length, port, address);
}

std::chrono::milliseconds TUdpSocket::NextWait(TClock::time_point timerDue) const {
    if (!OnTimer_) {
        return kMaxWait;
    }
    auto untilDue = std::chrono::ceil<std::chrono::milliseconds>(timerDue - TClock::now());
    return std::clamp(untilDue, std::chrono::milliseconds{0}, kMaxWait);
}

void TUdpSocket::ReceiveOne(uint8_t* buffer) {
    std::size_t length = 0;
    uint16_t senderPort = 0;
    std::string senderAddress;
    if (UdpReceiveFrom(Socket_.Get(), buffer, kMaxDatagram, length, senderPort, senderAddress) &&
        length > 0 && OnReceive_) {
        OnReceive_(senderAddress, senderPort, buffer, length);
    }
}

void TUdpSocket::DrainWakeEvent() {
    uint64_t count = 0;
    [[maybe_unused]] ssize_t got = read(WakeEvent_.Get(), &count, sizeof(count));
}

// The thread keeps normal priority: it handles whatever anybody on the
// network sends, and a flood of it at real-time priority would starve the
// rest of the machine. The audio threads keep their own pace.
void TUdpSocket::Run() {
    std::array<uint8_t, kMaxDatagram> buffer{};
    TClock::time_point timerDue = TClock::now() + TimerPeriod_;
    std::array<pollfd, 2> watched{};
    watched[0].fd = Socket_.Get();
    watched[0].events = POLLIN;
    watched[1].fd = WakeEvent_.Get();
    watched[1].events = POLLIN;

    while (!Stopping_) {
        try {
            watched[0].revents = 0;
            watched[1].revents = 0;
            int ready = poll(watched.data(), watched.size(),
                             static_cast<int>(NextWait(timerDue).count()));
            if (Stopping_) {
                break;
            }
            if (ready > 0 && (watched[1].revents & POLLIN)) {
                DrainWakeEvent();
            }
            // POLLERR is a pending ICMP error; the receive consumes it.
            if (ready > 0 && (watched[0].revents & (POLLIN | POLLERR))) {
                ReceiveOne(buffer.data());
            }
            if (OnTimer_ && TClock::now() >= timerDue) {
                // Fixed rate, but a long stall does not cause a burst of ticks.
                timerDue += TimerPeriod_;
                if (timerDue <= TClock::now()) {
                    timerDue = TClock::now() + TimerPeriod_;
                }
                OnTimer_();
            }
        } catch (...) {
            // One failed datagram or tick must never stop signalling or media.
        }
    }
}

// ---------------------------------------------------------------------------
// TRtpPortPool

TRtpPortPool::TRtpPortPool(int portMin, int portMax)
    : PortMin_(portMin), PortMax_(portMax), Random_(std::random_device{}()) {}

void TRtpPortPool::SetBounds(int portMin, int portMax) {
    std::lock_guard lock(Lock_);
    PortMin_ = portMin;
    PortMax_ = portMax;
}

int TRtpPortPool::GetMin() const {
    std::lock_guard lock(Lock_);
    return PortMin_;
}

int TRtpPortPool::GetMax() const {
    std::lock_guard lock(Lock_);
    return PortMax_;
}

// Even offsets from the lower bound; the two highest even ports are never
// drawn, only reached by the upward search.
int TRtpPortPool::DrawCandidate() {
    int highest = std::max((PortMax_ - PortMin_) / 2 - 2, 0);
    std::uniform_int_distribution<int> draw(0, highest);
    return PortMin_ + 2 * draw(Random_);
}

bool TRtpPortPool::Taken(int port) const {
    return std::find(InUse_.begin(), InUse_.end(), port) != InUse_.end();
}

int TRtpPortPool::AllocateRtpPort() {
    std::lock_guard lock(Lock_);
    int candidate = DrawCandidate();
    int chosen = -1;
    for (int port = candidate; port <= PortMax_ && chosen < 0; port += 2) {
        if (!Taken(port)) {
            chosen = port;
        }
    }
    for (int port = candidate - 2; port >= PortMin_ && chosen < 0; port -= 2) {
        if (!Taken(port)) {
            chosen = port;
        }
    }
    if (chosen < 0) {
        throw ESipError("No local UDP port numbers available.");
    }
    InUse_.push_back(chosen);
    return chosen;
}

void TRtpPortPool::ReleaseRtpPort(int port) {
    std::lock_guard lock(Lock_);
    auto found = std::find(InUse_.begin(), InUse_.end(), port);
    if (found != InUse_.end()) {
        InUse_.erase(found);
    }
}

bool TRtpPortPool::InUse(int port) const {
    std::lock_guard lock(Lock_);
    return Taken(port);
}

std::size_t TRtpPortPool::InUseCount() const {
    std::lock_guard lock(Lock_);
    return InUse_.size();
}
