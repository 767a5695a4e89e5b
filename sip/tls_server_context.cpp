#include "sip/tls_server_context.h"

#include <cstdio>
#include <openssl/err.h>
#include <openssl/pem.h>

#include "sip/transport.h"

namespace {

struct TFileClose {
    void operator()(FILE* file) const { std::fclose(file); }
};
struct TKeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

std::string OpenSslReason() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return {};
    char text[256] = {};
    ERR_error_string_n(code, text, sizeof(text));
    return std::string(" (") + text + ")";
}

}  // namespace

std::shared_ptr<SSL_CTX> NewTlsServerContext(const std::string& certificateFile, const std::string& keyFile) {
    if (certificateFile.empty() || keyFile.empty())
        throw ESipError("TLS: a certificate needs both its file and its key file");
    std::shared_ptr<SSL_CTX> context(SSL_CTX_new(TLS_server_method()), [](SSL_CTX* made) { SSL_CTX_free(made); });
    if (!context) throw ESipError("TLS:" + OpenSslReason());
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    if (SSL_CTX_use_certificate_chain_file(context.get(), certificateFile.c_str()) != 1)
        throw ESipError("TLS: cannot read the certificate file " + certificateFile + OpenSslReason());
    // Read apart from taking it: a key that is not the certificate's is told
    // from one that cannot be read.
    std::unique_ptr<FILE, TFileClose> file(std::fopen(keyFile.c_str(), "r"));
    std::unique_ptr<EVP_PKEY, TKeyFree> key(file ? PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr)
                                                 : nullptr);
    if (!key) throw ESipError("TLS: cannot read the key file " + keyFile + OpenSslReason());
    if (SSL_CTX_use_PrivateKey(context.get(), key.get()) != 1 || SSL_CTX_check_private_key(context.get()) != 1)
        throw ESipError("TLS: the key in " + keyFile + " is not the key of " + certificateFile + OpenSslReason());
    SSL_CTX_set_mode(context.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    return context;
}

TSslPtr NewTlsServerSession(SSL_CTX* context, int fd) {
    TSslPtr ssl(SSL_new(context));
    if (!ssl) throw ESipError("TLS:" + OpenSslReason());
    SSL_set_fd(ssl.get(), fd);
    SSL_set_accept_state(ssl.get());
    return ssl;
}
