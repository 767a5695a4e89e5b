#include "sip/stream_transport.h"

#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <csignal>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "sip/tls_server_context.h"

namespace {

// Longest single wait of the thread: the bound on noticing a connect or
// handshake that ran out of time.
constexpr int kMaxWaitMs = 100;
// Reads one connection may do in one pass, so a peer that sends without
// pause cannot keep the others waiting.
constexpr int kReadsPerPass = 8;
constexpr std::size_t kReadSize = 16 * 1024;
// A connection a peer opened and sends nothing on is closed after this: idle
// ones would otherwise fill the places the server's own connection needs.
// Servers keep theirs alive with CR LF pairs well within it.
constexpr std::chrono::seconds kIncomingIdle{180};

std::string SocketErrorText(int error) { return WinsockErrorText(WinsockCodeFromErrno(error)); }

std::string PeerText(const std::string& address, uint16_t port) {
    return address + ":" + std::to_string(port);
}

}  // namespace

TStreamTransport::TStreamTransport(std::optional<uint16_t> listenPort, TReceiveHandler onReceive,
                                   TClosedHandler onClosed, TLimits limits)
    : OnReceive_(std::move(onReceive)), OnClosed_(std::move(onClosed)), Limits_(limits) {
    WakeEvent_.Reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (WakeEvent_.Get() < 0) throw ESipError(SocketErrorText(errno));
    if (listenPort) {
        TUniqueFd listener(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        // SO_REUSEADDR lets the port be bound again while old connections
        // linger in TIME_WAIT after a restart; it does not share a listener.
        const int on = 1;
        setsockopt(listener.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        local.sin_port = htons(*listenPort);
        if (listener.Get() >= 0 &&
            bind(listener.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == 0 &&
            listen(listener.Get(), 16) == 0) {
            socklen_t length = sizeof(local);
            getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&local), &length);
            ListenPort_ = ntohs(local.sin_port);
            Listener_ = std::move(listener);
        }
    }
    Thread_ = std::thread(&TStreamTransport::Run, this);
}

TStreamTransport::~TStreamTransport() {
    Stopping_ = true;
    Wake();
    if (Thread_.joinable()) Thread_.join();
}

std::string TStreamTransport::Key(const std::string& address, uint16_t port) {
    return PeerText(address, port);
}

void TStreamTransport::Wake() {
    const uint64_t one = 1;
    // A failed write only costs the rest of the current wait.
    [[maybe_unused]] ssize_t written = write(WakeEvent_.Get(), &one, sizeof(one));
}

bool TStreamTransport::Send(const std::string& address, uint16_t port, const std::string& text,
                            const TTarget& target) {
    in_addr parsed{};
    if (inet_pton(AF_INET, address.c_str(), &parsed) != 1 || port == 0) return false;
    {
        std::lock_guard<std::mutex> guard(Lock_);
        std::unique_ptr<TConnection>& slot = Connections_[Key(address, port)];
        // A connection on its way out is left for the poll thread to close
        // and report: replacing it here would lose why it went (and, for a
        // peer that connected to us, dial its ephemeral port). The next
        // send after that report connects afresh.
        if (slot && !slot->closeReason.empty()) return false;
        if (!slot) slot = Connect(address, port, target);
        TConnection& connection = *slot;
        connection.outgoing += text;
        if (connection.outgoing.size() > Limits_.maxQueuedBytes && connection.closeReason.empty())
            connection.closeReason = "too many bytes waiting for " + PeerText(address, port);
    }
    Wake();
    return true;
}

bool TStreamTransport::SendIfConnected(const std::string& address, uint16_t port, const std::string& text) {
    {
        std::lock_guard<std::mutex> guard(Lock_);
        const auto found = Connections_.find(Key(address, port));
        if (found == Connections_.end() || !found->second->closeReason.empty()) return false;
        found->second->outgoing += text;
    }
    Wake();
    return true;
}

bool TStreamTransport::Connected(const std::string& address, uint16_t port) const {
    std::lock_guard<std::mutex> guard(Lock_);
    const auto found = Connections_.find(Key(address, port));
    return found != Connections_.end() && found->second->phase == TPhase::kOpen &&
           found->second->closeReason.empty();
}

void TStreamTransport::Drop(const std::string& address, uint16_t port) {
    {
        std::lock_guard<std::mutex> guard(Lock_);
        const auto found = Connections_.find(Key(address, port));
        if (found == Connections_.end()) return;
        if (found->second->closeReason.empty())
            found->second->closeReason = "connection to " + PeerText(address, port) + " closed";
    }
    Wake();
}

void TStreamTransport::AcceptTls(std::shared_ptr<SSL_CTX> context) {
    std::lock_guard<std::mutex> guard(Lock_);
    ServerContext_ = std::move(context);
}

std::size_t TStreamTransport::ConnectionCount() const {
    std::lock_guard<std::mutex> guard(Lock_);
    return Connections_.size();
}

SSL_CTX* TStreamTransport::ContextFor(const std::string& caFile) {
    TSslContextPtr& context = Contexts_[caFile];
    if (!context) context = NewTlsClientContext(caFile);
    return context.get();
}

// A failure here is kept as the connection's close reason, so it reaches
// the closed handler from the thread like any later one.
std::unique_ptr<TStreamTransport::TConnection> TStreamTransport::Connect(const std::string& address, uint16_t port,
                                                                         const TTarget& target) {
    auto connection = std::make_unique<TConnection>();
    connection->address = address;
    connection->port = port;
    connection->serverName = target.serverName.empty() ? address : target.serverName;
    connection->deadline = TClock::now() + Limits_.connectTimeout;
    try {
        if (target.transport == TSignallingTransport::kTls) ContextFor(target.caFile);
    } catch (const ESipError& error) {
        connection->closeReason = error.what();
        return connection;
    }
    connection->fd.Reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (connection->fd.Get() < 0) {
        connection->closeReason = SocketErrorText(errno);
        return connection;
    }
    // Signalling is small and latency matters more than packet count.
    const int on = 1;
    setsockopt(connection->fd.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    inet_pton(AF_INET, address.c_str(), &remote.sin_addr);
    remote.sin_port = htons(port);
    if (connect(connection->fd.Get(), reinterpret_cast<const sockaddr*>(&remote), sizeof(remote)) != 0 &&
        errno != EINPROGRESS) {
        connection->closeReason = "cannot connect to " + PeerText(address, port) + ": " + SocketErrorText(errno);
        return connection;
    }
    if (target.transport == TSignallingTransport::kTls)
        connection->ssl = NewTlsClientSession(ContextFor(target.caFile), connection->fd.Get(), connection->serverName);
    return connection;
}

std::vector<pollfd> TStreamTransport::Watched(std::vector<std::string>& keys) {
    std::vector<pollfd> watched;
    watched.push_back({WakeEvent_.Get(), POLLIN, 0});
    watched.push_back({Listener_.Get(), POLLIN, 0});
    for (const auto& [key, connection] : Connections_) {
        if (!connection->closeReason.empty()) continue;
        short events = POLLIN;
        if (connection->phase == TPhase::kConnecting || connection->tlsWantsWrite ||
            (connection->phase == TPhase::kOpen && !connection->outgoing.empty()))
            events |= POLLOUT;
        if (connection->phase == TPhase::kConnecting) events = POLLOUT;
        watched.push_back({connection->fd.Get(), events, 0});
        keys.push_back(key);
    }
    return watched;
}

void TStreamTransport::AcceptAll() {
    for (;;) {
        sockaddr_in remote{};
        socklen_t length = sizeof(remote);
        TUniqueFd accepted(accept4(Listener_.Get(), reinterpret_cast<sockaddr*>(&remote), &length,
                                   SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (accepted.Get() < 0) return;
        std::size_t incoming = 0;
        for (const auto& item : Connections_) incoming += item.second->incoming ? 1 : 0;
        // Past the cap a new connection is closed at once: a flood of them
        // must not use up the descriptors the server's connection needs.
        if (incoming >= Limits_.maxIncoming) continue;
        std::array<char, INET_ADDRSTRLEN> text{};
        inet_ntop(AF_INET, &remote.sin_addr, text.data(), text.size());
        const std::string address = text.data();
        const uint16_t port = ntohs(remote.sin_port);
        std::unique_ptr<TConnection>& slot = Connections_[Key(address, port)];
        if (slot) continue;  // the same four-tuple cannot be open twice
        // As on ours: a 180 must not wait for the peer to acknowledge the
        // 100 before it (Nagle against a delayed ACK costs up to 40 ms).
        const int on = 1;
        setsockopt(accepted.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
        slot = std::make_unique<TConnection>();
        slot->fd = std::move(accepted);
        slot->address = address;
        slot->port = port;
        slot->incoming = true;
        // The first bytes say whether the peer speaks TLS; until its
        // handshake is done the connection carries nothing.
        slot->phase = TPhase::kFirstBytes;
        slot->deadline = TClock::now() + kIncomingIdle;
    }
}

void TStreamTransport::FinishConnect(TConnection& connection) {
    int error = 0;
    socklen_t length = sizeof(error);
    getsockopt(connection.fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) {
        connection.closeReason =
            "cannot connect to " + PeerText(connection.address, connection.port) + ": " + SocketErrorText(error);
        return;
    }
    if (connection.ssl) {
        connection.phase = TPhase::kHandshake;
        Handshake(connection);
        return;
    }
    connection.phase = TPhase::kOpen;
    connection.established = true;
}

// Only a peek: the bytes stay for the framer or for OpenSSL.
void TStreamTransport::TellTlsApart(TConnection& connection) {
    unsigned char first = 0;
    const ssize_t got = recv(connection.fd.Get(), &first, 1, MSG_PEEK);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (got == 1 && OpensTlsHandshake(first) && !ServerContext_) {
        // Closed at once: the client would otherwise wait for an answer to
        // its hello, holding a place, until one of the two gives up.
        connection.closeReason = "TLS from " + PeerText(connection.address, connection.port) +
                                 ", which is not taken without a certificate";
        return;
    }
    if (got == 1 && OpensTlsHandshake(first)) {
        connection.ssl = NewTlsServerSession(ServerContext_.get(), connection.fd.Get());
        connection.phase = TPhase::kHandshake;
        // A handshake gets the time a connect gets, not an idle
        // connection's: half-done ones must not hold the places for long.
        connection.deadline = TClock::now() + Limits_.connectTimeout;
        Handshake(connection);
        return;
    }
    // SIP, a close or an error: reading tells which.
    connection.phase = TPhase::kOpen;
    connection.established = true;
}

void TStreamTransport::Handshake(TConnection& connection) {
    const int result = SSL_do_handshake(connection.ssl.get());
    if (result == 1) {
        connection.phase = TPhase::kOpen;
        connection.established = true;
        connection.tlsWantsWrite = false;
        if (connection.incoming) connection.deadline = TClock::now() + kIncomingIdle;
        return;
    }
    const int error = SSL_get_error(connection.ssl.get(), result);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        connection.tlsWantsWrite = error == SSL_ERROR_WANT_WRITE;
        return;
    }
    if (connection.incoming) {
        // The peer's mistake (a client that refuses our certificate, a
        // scanner): its connection goes, nothing else is touched.
        const unsigned long code = ERR_get_error();
        ERR_clear_error();
        char text[256] = {};
        if (code != 0) ERR_error_string_n(code, text, sizeof(text));
        connection.closeReason = "TLS handshake with " + PeerText(connection.address, connection.port) +
                                 " failed" + (code != 0 ? std::string(" (") + text + ")" : std::string());
        return;
    }
    connection.closeReason = TlsFailureText(connection.ssl.get(), connection.serverName);
}

void TStreamTransport::ReadAll(TConnection& connection, TPass& pass) {
    std::array<char, kReadSize> buffer{};
    for (int i = 0; i < kReadsPerPass && connection.closeReason.empty(); ++i) {
        ssize_t got = 0;
        if (connection.ssl) {
            got = SSL_read(connection.ssl.get(), buffer.data(), static_cast<int>(buffer.size()));
            if (got <= 0) {
                const int error = SSL_get_error(connection.ssl.get(), static_cast<int>(got));
                if (error == SSL_ERROR_WANT_READ) return;
                if (error == SSL_ERROR_WANT_WRITE) {
                    connection.tlsWantsWrite = true;
                    return;
                }
                ERR_clear_error();
                got = 0;
            }
        } else {
            got = recv(connection.fd.Get(), buffer.data(), buffer.size(), 0);
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
            if (got < 0) {
                connection.closeReason = SocketErrorText(errno);
                return;
            }
        }
        if (got == 0) {
            connection.closeReason = "connection to " + PeerText(connection.address, connection.port) +
                                     (connection.framer.Pending() > 0 ? " closed in the middle of a message"
                                                                      : " closed by the peer");
            return;
        }
        if (connection.incoming) connection.deadline = TClock::now() + kIncomingIdle;
        TFramedInput input = connection.framer.Feed(buffer.data(), static_cast<std::size_t>(got));
        for (std::string& message : input.messages)
            pass.deliveries.push_back(
                {connection.address, connection.port, std::move(message), connection.ssl != nullptr});
        // Keep-alives of a peer that connected to us are answered (RFC 5626
        // 4.4.1); those we sent are answered by the server.
        if (connection.incoming)
            for (int ping = 0; ping < input.pings; ++ping) connection.outgoing += "\r\n";
        if (connection.framer.Broken())
            connection.closeReason = "unreadable stream from " + PeerText(connection.address, connection.port) +
                                     ": " + connection.framer.Error();
    }
}

void TStreamTransport::Flush(TConnection& connection) {
    while (!connection.outgoing.empty() && connection.closeReason.empty()) {
        ssize_t sent = 0;
        if (connection.ssl) {
            sent = SSL_write(connection.ssl.get(), connection.outgoing.data(),
                             static_cast<int>(connection.outgoing.size()));
            if (sent <= 0) {
                const int error = SSL_get_error(connection.ssl.get(), static_cast<int>(sent));
                connection.tlsWantsWrite = error == SSL_ERROR_WANT_WRITE;
                if (error == SSL_ERROR_WANT_WRITE || error == SSL_ERROR_WANT_READ) return;
                ERR_clear_error();
                connection.closeReason = "TLS write to " + PeerText(connection.address, connection.port) + " failed";
                return;
            }
            connection.tlsWantsWrite = false;
        } else {
            sent = send(connection.fd.Get(), connection.outgoing.data(), connection.outgoing.size(), MSG_NOSIGNAL);
            if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
            if (sent < 0) {
                connection.closeReason = SocketErrorText(errno);
                return;
            }
        }
        connection.outgoing.erase(0, static_cast<std::size_t>(sent));
    }
}

void TStreamTransport::Service(TConnection& connection, short events, TPass& pass) {
    if (connection.phase == TPhase::kConnecting) {
        if (events & (POLLOUT | POLLERR | POLLHUP)) FinishConnect(connection);
        if (connection.phase == TPhase::kConnecting || !connection.closeReason.empty()) return;
    } else if (connection.phase == TPhase::kFirstBytes) {
        if (events & (POLLIN | POLLERR | POLLHUP)) TellTlsApart(connection);
    } else if (connection.phase == TPhase::kHandshake) {
        if (events & (POLLIN | POLLOUT | POLLERR | POLLHUP)) Handshake(connection);
    }
    if (connection.phase != TPhase::kOpen) return;
    // Reading first: bytes that came with the peer's close still count.
    if (events & (POLLIN | POLLERR | POLLHUP) || (connection.ssl && SSL_pending(connection.ssl.get()) > 0))
        ReadAll(connection, pass);
    Flush(connection);
}

void TStreamTransport::Reap(TPass& pass) {
    const auto now = TClock::now();
    for (auto it = Connections_.begin(); it != Connections_.end();) {
        TConnection& connection = *it->second;
        if (connection.phase != TPhase::kOpen && connection.closeReason.empty() && now >= connection.deadline)
            connection.closeReason = (connection.phase == TPhase::kConnecting   ? "no connection to "
                                      : connection.phase == TPhase::kFirstBytes ? "nothing from "
                                                                                : "no TLS handshake with ") +
                                     PeerText(connection.address, connection.port);
        if (connection.incoming && connection.closeReason.empty() && now >= connection.deadline)
            connection.closeReason = "connection from " + PeerText(connection.address, connection.port) + " idle";
        if (connection.closeReason.empty()) {
            ++it;
            continue;
        }
        pass.closures.push_back({connection.address, connection.port, connection.closeReason, connection.established});
        it = Connections_.erase(it);
    }
}

void TStreamTransport::Run() {
    // OpenSSL writes with plain write(): to a peer that reset its end (a
    // client that gave up on its handshake) that raises SIGPIPE, which
    // would end the whole program. Blocked on this thread, the one that
    // does all the writing, it only makes the write fail.
    sigset_t brokenPipe;
    sigemptyset(&brokenPipe);
    sigaddset(&brokenPipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &brokenPipe, nullptr);
    while (!Stopping_) {
        std::vector<std::string> keys;
        std::vector<pollfd> watched;
        {
            std::lock_guard<std::mutex> guard(Lock_);
            watched = Watched(keys);
        }
        poll(watched.data(), watched.size(), kMaxWaitMs);
        if (Stopping_) break;
        if (watched[0].revents & POLLIN) {
            uint64_t count = 0;
            [[maybe_unused]] ssize_t got = read(WakeEvent_.Get(), &count, sizeof(count));
        }
        TPass pass;
        try {
            std::lock_guard<std::mutex> guard(Lock_);
            if (watched[1].revents & POLLIN) AcceptAll();
            for (std::size_t i = 0; i < keys.size(); ++i) {
                const auto found = Connections_.find(keys[i]);
                if (found != Connections_.end()) Service(*found->second, watched[i + 2].revents, pass);
            }
            // Bytes queued since the wait began go out now rather than a
            // wait later.
            for (auto& item : Connections_)
                if (item.second->phase == TPhase::kOpen) Flush(*item.second);
            Reap(pass);
        } catch (...) {
            // One connection's failure must not stop the others.
        }
        for (const TDelivery& delivery : pass.deliveries) {
            try {
                if (OnReceive_) OnReceive_(delivery.address, delivery.port, delivery.message, delivery.overTls);
            } catch (...) {
                // As for a datagram: one message that fails is dropped.
            }
        }
        for (const TClosure& closure : pass.closures) {
            try {
                if (OnClosed_) OnClosed_(closure.address, closure.port, closure.reason, closure.established);
            } catch (...) {
            }
        }
    }
}
