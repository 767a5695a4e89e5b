// The OpenSSL client side of SIP over TLS: one context per set of trusted
// CAs, and the checks every connection makes of the server's certificate.
#pragma once

#include <memory>
#include <string>

#include <openssl/ssl.h>

struct TSslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
using TSslPtr = std::unique_ptr<SSL, TSslFree>;
using TSslContextPtr = std::unique_ptr<SSL_CTX, TSslFree>;

// A client context: TLS 1.2 at least, the peer's certificate verified
// against the system's trust store and, when `caFile` is not empty, the
// certificates of that file as well. Raises ESipError when the file cannot
// be read: a CA the user named and that is not used would leave the server
// unverifiable for a reason nobody sees.
TSslContextPtr NewTlsClientContext(const std::string& caFile);

// A session on `fd` that verifies the certificate against `serverName` (a
// host name, or a dotted address matched against the certificate's IP
// entries) and names it in SNI.
TSslPtr NewTlsClientSession(SSL_CTX* context, int fd, const std::string& serverName);

// The reason a handshake failed, in words a booth owner can act on.
std::string TlsFailureText(SSL* ssl, const std::string& serverName);
