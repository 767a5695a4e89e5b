#include "tests/sip/tls_test_peer.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <filesystem>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>

#include "sip/message.h"
#include "tests/sip/sip_test_peer.h"

namespace sip_test {
namespace {

struct TFileClose {
    void operator()(FILE* file) const { std::fclose(file); }
};
struct TKeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct TCertificateFree {
    void operator()(X509* certificate) const { X509_free(certificate); }
};

void AddExtension(X509* certificate, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension) throw std::runtime_error("test certificate: extension");
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

}  // namespace

TTestCertificate::TTestCertificate() {
    char pattern[] = "/tmp/sip_tls_test_XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("test certificate: no folder");
    Folder_ = pattern;
    CertificateFile_ = Folder_ + "/cert.pem";
    KeyFile_ = Folder_ + "/key.pem";

    std::unique_ptr<EVP_PKEY, TKeyFree> key(EVP_EC_gen("P-256"));
    std::unique_ptr<X509, TCertificateFree> certificate(X509_new());
    if (!key || !certificate) throw std::runtime_error("test certificate: no key");
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -60);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 24 * 3600);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("booth test"), -1,
                               -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    X509_set_pubkey(certificate.get(), key.get());
    AddExtension(certificate.get(), NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(certificate.get(), NID_subject_alt_name, "IP:127.0.0.1");
    if (X509_sign(certificate.get(), key.get(), EVP_sha256()) == 0)
        throw std::runtime_error("test certificate: not signed");

    std::unique_ptr<FILE, TFileClose> certificateOut(std::fopen(CertificateFile_.c_str(), "w"));
    std::unique_ptr<FILE, TFileClose> keyOut(std::fopen(KeyFile_.c_str(), "w"));
    if (!certificateOut || !keyOut || PEM_write_X509(certificateOut.get(), certificate.get()) != 1 ||
        PEM_write_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        throw std::runtime_error("test certificate: not written");
}

TTestCertificate::~TTestCertificate() {
    std::error_code ignored;
    std::filesystem::remove_all(Folder_, ignored);
}

TUniqueFd LoopbackConnection(uint16_t port) {
    TUniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    if (connect(fd.Get(), reinterpret_cast<const sockaddr*>(&remote), sizeof(remote)) != 0)
        throw std::runtime_error("no connection to 127.0.0.1:" + std::to_string(port));
    timeval ceiling{static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(kEventCeiling).count()), 0};
    setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &ceiling, sizeof(ceiling));
    return fd;
}

TTlsTestClient::TTlsTestClient(uint16_t port, const std::string& caFile)
    : Fd_(LoopbackConnection(port)), Context_(NewTlsClientContext(caFile)) {
    // The connection's read ceiling also bounds a handshake the agent never
    // answers.
    Ssl_ = NewTlsClientSession(Context_.get(), Fd_.Get(), "127.0.0.1");
}

bool TTlsTestClient::Handshake() {
    const bool done = SSL_connect(Ssl_.get()) == 1;
    ERR_clear_error();
    return done;
}

void TTlsTestClient::Send(const std::string& text) {
    if (SSL_write(Ssl_.get(), text.data(), static_cast<int>(text.size())) != static_cast<int>(text.size()))
        throw std::runtime_error("TLS test client: write failed");
}

std::string TTlsTestClient::Read(std::size_t want, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Buffer_.size() < want && std::chrono::steady_clock::now() < deadline) {
        if (SSL_pending(Ssl_.get()) == 0) {
            pollfd watched{Fd_.Get(), POLLIN, 0};
            if (poll(&watched, 1, 50) <= 0) continue;
        }
        char buffer[4096];
        const int got = SSL_read(Ssl_.get(), buffer, sizeof(buffer));
        if (got <= 0) {
            ERR_clear_error();
            return {};
        }
        Buffer_.append(buffer, static_cast<std::size_t>(got));
    }
    std::string taken = Buffer_.substr(0, std::min(want, Buffer_.size()));
    Buffer_.erase(0, taken.size());
    return taken;
}

std::string TTlsTestClient::ReadMessage(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string text;
    while (text.find("\r\n\r\n") == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left <= std::chrono::milliseconds(0)) return {};
        const std::string one = Read(1, left);
        if (one.empty()) return {};
        text += one;
    }
    const std::size_t length = static_cast<std::size_t>(std::atoi(TSipMessage(text).ContentLength.value_or("0").c_str()));
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (length > 0) text += Read(length, left);
    return text;
}

uint16_t TTlsTestClient::LocalPort() const {
    sockaddr_in local{};
    socklen_t length = sizeof(local);
    getsockname(Fd_.Get(), reinterpret_cast<sockaddr*>(&local), &length);
    return ntohs(local.sin_port);
}

}  // namespace sip_test
