// Connections for tests on 127.0.0.1: a plain blocking one, a self-signed
// certificate made on the spot, and a blocking TLS client that speaks to the
// agent's listener.
#pragma once

#include <chrono>
#include <string>

#include "sip/tls_client_context.h"
#include "sip/transport.h"

namespace sip_test {

// A blocking TCP connection to 127.0.0.1:port whose reads give up at the
// event ceiling, so that a peer that never answers cannot hang a test.
// Throws when nothing listens there.
TUniqueFd LoopbackConnection(uint16_t port);

// A key and a self-signed certificate for 127.0.0.1 in PEM files of a fresh
// folder, removed with the object.
class TTestCertificate {
public:
    TTestCertificate();
    ~TTestCertificate();
    TTestCertificate(const TTestCertificate&) = delete;
    TTestCertificate& operator=(const TTestCertificate&) = delete;

    const std::string& CertificateFile() const { return CertificateFile_; }
    const std::string& KeyFile() const { return KeyFile_; }

private:
    std::string Folder_;
    std::string CertificateFile_;
    std::string KeyFile_;
};

// One TLS connection to 127.0.0.1:port. `caFile` empty: the system's store
// only, which does not know a test certificate, so the handshake fails.
class TTlsTestClient {
public:
    TTlsTestClient(uint16_t port, const std::string& caFile);

    // Whether the handshake succeeded, within the event ceiling.
    bool Handshake();
    void Send(const std::string& text);
    // The bytes read until `want` are in or `timeout` passes; empty when the
    // connection was closed first.
    std::string Read(std::size_t want, std::chrono::milliseconds timeout);
    // The next whole message (headers and a body of its Content-Length).
    std::string ReadMessage(std::chrono::milliseconds timeout);
    uint16_t LocalPort() const;

private:
    TUniqueFd Fd_;
    TSslContextPtr Context_;
    TSslPtr Ssl_;
    std::string Buffer_;
};

}  // namespace sip_test
