#include "sip/tls_client_context.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include "sip/transport.h"

namespace {

bool IsIpv4Literal(const std::string& name) {
    in_addr parsed{};
    return inet_pton(AF_INET, name.c_str(), &parsed) == 1;
}

std::string LastOpenSslError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return {};
    char text[256] = {};
    ERR_error_string_n(code, text, sizeof(text));
    return text;
}

}  // namespace

TSslContextPtr NewTlsClientContext(const std::string& caFile) {
    TSslContextPtr context(SSL_CTX_new(TLS_client_method()));
    if (!context) throw ESipError("TLS: " + LastOpenSslError());
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_default_verify_paths(context.get());
    if (!caFile.empty() && SSL_CTX_load_verify_locations(context.get(), caFile.c_str(), nullptr) != 1) {
        ERR_clear_error();
        throw ESipError("TLS: cannot read the CA file " + caFile);
    }
    SSL_CTX_set_mode(context.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    return context;
}

TSslPtr NewTlsClientSession(SSL_CTX* context, int fd, const std::string& serverName) {
    TSslPtr ssl(SSL_new(context));
    if (!ssl) throw ESipError("TLS: " + LastOpenSslError());
    SSL_set_fd(ssl.get(), fd);
    if (IsIpv4Literal(serverName)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), serverName.c_str());
    } else {
        SSL_set1_host(ssl.get(), serverName.c_str());
        SSL_set_tlsext_host_name(ssl.get(), serverName.c_str());
    }
    SSL_set_connect_state(ssl.get());
    return ssl;
}

std::string TlsFailureText(SSL* ssl, const std::string& serverName) {
    const long verdict = SSL_get_verify_result(ssl);
    switch (verdict) {
    case X509_V_OK:
        break;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        ERR_clear_error();
        return "TLS: the server's certificate is not for " + serverName;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        ERR_clear_error();
        return "TLS: the server's certificate is from an unknown authority";
    case X509_V_ERR_CERT_HAS_EXPIRED:
        ERR_clear_error();
        return "TLS: the server's certificate has expired";
    default:
        ERR_clear_error();
        return std::string("TLS: the server's certificate was refused (") +
               X509_verify_cert_error_string(verdict) + ")";
    }
    const std::string error = LastOpenSslError();
    return error.empty() ? "TLS: the handshake failed" : "TLS: the handshake failed (" + error + ")";
}
