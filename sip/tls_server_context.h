// The OpenSSL server side of SIP over TLS: the agent's own certificate and
// key for the connections peers open to it, and how such a connection is
// told apart from plain TCP on the same port.
#pragma once

#include <memory>
#include <string>

#include <openssl/ssl.h>

#include "sip/tls_client_context.h"

// A server context with the certificate chain of `certificateFile` (PEM, our
// certificate first) and the private key of `keyFile`: TLS 1.2 at least.
// Peers are not asked for a certificate of their own, as SIP user agents
// seldom have one. Raises ESipError naming the file when either cannot be
// read or the key is not the certificate's: a listener without a usable
// certificate would fail every handshake for a reason nobody sees.
std::shared_ptr<SSL_CTX> NewTlsServerContext(const std::string& certificateFile, const std::string& keyFile);

// A session on `fd` that answers a client's handshake.
TSslPtr NewTlsServerSession(SSL_CTX* context, int fd);

// Whether the first byte a peer sent opens a TLS record of the handshake
// (content type 22). No SIP message or keep-alive starts with it: a request
// starts with a method's letter, a response with "SIP/", a keep-alive with
// CR.
inline bool OpensTlsHandshake(unsigned char firstByte) { return firstByte == 0x16; }
