// SIP over TCP and TLS: the connections of one agent, kept open and reused
// for every message to the same peer (RFC 3261 18), and the listener that
// takes the connections peers open to us, over TCP and, once given a
// certificate, over TLS on the same port.
//
// Threading: one thread, owned here and joined by the destructor, waits on
// every connection at once (poll) and does all their reading, writing,
// connecting and TLS handshakes. Send may be called from any thread; it only
// queues bytes and wakes that thread. The handlers run on that thread, with
// no lock of this class held, so they may call Send.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <poll.h>
#include <string>
#include <thread>
#include <vector>

#include "sip/signalling_transport.h"
#include "sip/stream_framer.h"
#include "sip/tls_client_context.h"
#include "sip/transport.h"

class TStreamTransport {
public:
    // `overTls`: the message came over a connection TLS protects, whoever
    // opened it.
    using TReceiveHandler = std::function<void(const std::string& address, uint16_t port,
                                               const std::string& message, bool overTls)>;
    // A connection is gone. `established` is false when it never carried a
    // message: the connect or the TLS handshake failed, and `reason` says why.
    using TClosedHandler = std::function<void(const std::string& address, uint16_t port,
                                              const std::string& reason, bool established)>;

    // What a flood may take: connections peers open to us, bytes queued
    // toward a peer that does not read them, and how long a connect and a
    // handshake may take.
    struct TLimits {
        std::size_t maxIncoming = 32;
        std::size_t maxQueuedBytes = 256 * 1024;
        std::chrono::milliseconds connectTimeout{10000};
    };

    // How a new connection to a peer is made.
    struct TTarget {
        TSignallingTransport transport = TSignallingTransport::kTcp;
        std::string serverName;  // TLS: the name the certificate must carry
        std::string caFile;      // TLS: trusted beside the system's store
    };

    // Listens for TCP on `listenPort` (0: a port of the system's choice)
    // unless it is empty; a port that is taken leaves the agent without a
    // listener rather than without signalling.
    TStreamTransport(std::optional<uint16_t> listenPort, TReceiveHandler onReceive,
                     TClosedHandler onClosed, TLimits limits);
    TStreamTransport(std::optional<uint16_t> listenPort, TReceiveHandler onReceive,
                     TClosedHandler onClosed)
        : TStreamTransport(listenPort, std::move(onReceive), std::move(onClosed), TLimits{}) {}
    ~TStreamTransport();
    TStreamTransport(const TStreamTransport&) = delete;
    TStreamTransport& operator=(const TStreamTransport&) = delete;

    // Queues `text` on the connection with address:port, opening one as
    // `target` says when there is none. False when the address is no dotted
    // IPv4 address, or while the peer's connection is closing (its end is
    // reported first). A failure to connect reaches the closed handler.
    bool Send(const std::string& address, uint16_t port, const std::string& text, const TTarget& target);
    // Queues `text` only on a connection that exists (a keep-alive must not
    // open one); false when there is none.
    bool SendIfConnected(const std::string& address, uint16_t port, const std::string& text);
    bool Connected(const std::string& address, uint16_t port) const;
    // Closes the connection with address:port as if the peer had.
    void Drop(const std::string& address, uint16_t port);
    // From now on a connection a peer opens with a TLS handshake is answered
    // with `context` (our certificate and key); one that starts with SIP is
    // plain TCP as before. Without a context a connection that opens with a
    // handshake is closed at once.
    void AcceptTls(std::shared_ptr<SSL_CTX> context);
    // The listener's port; 0 without one.
    uint16_t ListenPort() const { return ListenPort_; }
    std::size_t ConnectionCount() const;

private:
    using TClock = std::chrono::steady_clock;
    // kFirstBytes: a connection a peer opened to us, TLS or not yet known.
    enum class TPhase { kConnecting, kFirstBytes, kHandshake, kOpen };
    struct TConnection {
        TUniqueFd fd;
        TSslPtr ssl;
        std::string address;
        uint16_t port = 0;
        std::string serverName;
        bool incoming = false;
        TPhase phase = TPhase::kConnecting;
        bool established = false;
        bool tlsWantsWrite = false;
        TClock::time_point deadline;  // of the connect and handshake
        std::string outgoing;
        TSipStreamFramer framer;
        std::string closeReason;  // set: to be closed by the thread
    };
    struct TDelivery {
        std::string address;
        uint16_t port = 0;
        std::string message;
        bool overTls = false;
    };
    struct TClosure {
        std::string address;
        uint16_t port = 0;
        std::string reason;
        bool established = false;
    };
    struct TPass {
        std::vector<TDelivery> deliveries;
        std::vector<TClosure> closures;
    };

    static std::string Key(const std::string& address, uint16_t port);
    void Run();
    void Wake();
    // The steps below run on the thread with Lock_ held.
    std::vector<pollfd> Watched(std::vector<std::string>& keys);
    void AcceptAll();
    void Service(TConnection& connection, short events, TPass& pass);
    void FinishConnect(TConnection& connection);
    void TellTlsApart(TConnection& connection);
    void Handshake(TConnection& connection);
    void ReadAll(TConnection& connection, TPass& pass);
    void Flush(TConnection& connection);
    void Reap(TPass& pass);
    SSL_CTX* ContextFor(const std::string& caFile);
    std::unique_ptr<TConnection> Connect(const std::string& address, uint16_t port, const TTarget& target);

    const TReceiveHandler OnReceive_;
    const TClosedHandler OnClosed_;
    const TLimits Limits_;
    TUniqueFd Listener_;
    uint16_t ListenPort_ = 0;
    TUniqueFd WakeEvent_;

    mutable std::mutex Lock_;
    std::map<std::string, std::unique_ptr<TConnection>> Connections_;  // by Key; guarded by Lock_
    std::map<std::string, TSslContextPtr> Contexts_;                   // by CA file; guarded by Lock_
    std::shared_ptr<SSL_CTX> ServerContext_;                           // guarded by Lock_

    std::atomic<bool> Stopping_{false};
    std::thread Thread_;  // last: starts after every other member is ready
};
