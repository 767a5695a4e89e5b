// The connection set's listener with a certificate: TLS and plain TCP on one
// port, told apart by their first bytes, and what a peer that fails the
// handshake leaves behind (nothing).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "sip/stream_transport.h"
#include "sip/tls_server_context.h"
#include "tests/sip/sip_test_peer.h"
#include "tests/sip/tls_test_peer.h"

namespace {

using namespace std::chrono_literals;
using sip_test::kEventCeiling;
using sip_test::LoopbackConnection;
using sip_test::TTestCertificate;
using sip_test::TTlsTestClient;

const std::string kOptions =
    "OPTIONS sip:a@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/TLS 127.0.0.1;branch=z9hG4bK1\r\nContent-Length: 0\r\n\r\n";
const std::string kAnswer = "SIP/2.0 200 OK\r\nVia: SIP/2.0/TLS 127.0.0.1;branch=z9hG4bK1\r\nContent-Length: 0\r\n\r\n";

class StreamTlsListenerTest : public ::testing::Test {
protected:
    struct TDelivered {
        std::string message;
        bool overTls = false;
    };

    void Make(bool withCertificate) {
        TStreamTransport::TLimits limits;
        limits.connectTimeout = 500ms;  // a stalled handshake goes after this
        Transport = std::make_unique<TStreamTransport>(
            std::optional<uint16_t>(0),
            [this](const std::string&, uint16_t, const std::string& message, bool overTls) {
                std::lock_guard<std::mutex> guard(Lock);
                Delivered.push_back({message, overTls});
                Changed.notify_all();
            },
            [this](const std::string&, uint16_t, const std::string& reason, bool) {
                std::lock_guard<std::mutex> guard(Lock);
                Closures.push_back(reason);
                Changed.notify_all();
            },
            limits);
        if (withCertificate)
            Transport->AcceptTls(NewTlsServerContext(Certificate.CertificateFile(), Certificate.KeyFile()));
    }

    template <typename TPredicate>
    bool Wait(TPredicate done) {
        std::unique_lock<std::mutex> guard(Lock);
        return Changed.wait_for(guard, kEventCeiling, done);
    }
    bool ClosedFor(const std::string& reason) {
        return Wait([&] {
            return std::any_of(Closures.begin(), Closures.end(),
                               [&](const std::string& closure) { return closure.find(reason) != std::string::npos; });
        });
    }
    bool NoConnectionLeft() {
        const auto deadline = std::chrono::steady_clock::now() + kEventCeiling;
        while (Transport->ConnectionCount() != 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        return Transport->ConnectionCount() == 0;
    }

    // A TLS client that trusts our certificate: its request arrives marked
    // as protected and the answer comes back on its connection.
    void ServeTlsClient() {
        TTlsTestClient client(Transport->ListenPort(), Certificate.CertificateFile());
        ASSERT_TRUE(client.Handshake());
        const std::size_t before = Delivered.size();
        client.Send(kOptions);
        ASSERT_TRUE(Wait([&] { return Delivered.size() == before + 1; }));
        EXPECT_TRUE(Delivered.back().overTls);
        EXPECT_EQ(Delivered.back().message, kOptions);
        Transport->Send("127.0.0.1", client.LocalPort(), kAnswer, {});
        EXPECT_EQ(client.ReadMessage(kEventCeiling), kAnswer);
    }

    TTestCertificate Certificate;
    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<TDelivered> Delivered;
    std::vector<std::string> Closures;
    std::unique_ptr<TStreamTransport> Transport;  // last: its thread uses the members above
};

TEST_F(StreamTlsListenerTest, TlsAndPlainSipShareThePort) {
    Make(true);
    ServeTlsClient();
    TUniqueFd plain = LoopbackConnection(Transport->ListenPort());
    ASSERT_EQ(send(plain.Get(), kOptions.data(), kOptions.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(kOptions.size()));
    ASSERT_TRUE(Wait([&] { return Delivered.size() == 2; }));
    EXPECT_FALSE(Delivered.back().overTls);
}

// Each peer that fails its handshake loses its own connection and nothing
// else: the next client is served as the first was.
TEST_F(StreamTlsListenerTest, FailedHandshakesAreDroppedWithoutHarm) {
    struct TCase {
        const char* name;
        std::function<void(uint16_t port)> peer;
        const char* reason;
    };
    const std::vector<TCase> cases = {
        {"client that does not trust our certificate",
         [](uint16_t port) {
             TTlsTestClient client(port, "");
             EXPECT_FALSE(client.Handshake());
         },
         "TLS handshake with 127.0.0.1"},
        {"a handshake's first byte and garbage after it",
         [](uint16_t port) {
             TUniqueFd fd = LoopbackConnection(port);
             const std::string garbage = "\x16GET / HTTP/1.1\r\nHost: booth\r\n\r\n";
             send(fd.Get(), garbage.data(), garbage.size(), MSG_NOSIGNAL);
             char byte = 0;
             recv(fd.Get(), &byte, 1, 0);  // returns when the agent closes
         },
         "TLS handshake with 127.0.0.1"},
        {"a handshake begun and never finished",
         [this](uint16_t port) {
             TUniqueFd fd = LoopbackConnection(port);
             const std::string start = "\x16\x03\x01";
             send(fd.Get(), start.data(), start.size(), MSG_NOSIGNAL);
             EXPECT_TRUE(ClosedFor("no TLS handshake with 127.0.0.1"));
         },
         "no TLS handshake with 127.0.0.1"},
    };
    Make(true);
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        c.peer(Transport->ListenPort());
        EXPECT_TRUE(ClosedFor(c.reason)) << (Closures.empty() ? std::string("no closure") : Closures.back());
        EXPECT_TRUE(NoConnectionLeft());
        {
            std::lock_guard<std::mutex> guard(Lock);
            Closures.clear();
        }
        ServeTlsClient();
    }
    EXPECT_TRUE(std::none_of(Delivered.begin(), Delivered.end(), [](const TDelivered& d) { return !d.overTls; }));
}

// Without a certificate a handshake is refused at once, not left waiting
// for an answer that never comes.
TEST_F(StreamTlsListenerTest, WithoutCertificateTlsIsNotTaken) {
    Make(false);
    TTlsTestClient client(Transport->ListenPort(), Certificate.CertificateFile());
    EXPECT_FALSE(client.Handshake());
    EXPECT_TRUE(ClosedFor("not taken without a certificate"));
    EXPECT_TRUE(Delivered.empty());
}

// The files a user names are checked when given, with the reason in words.
TEST(TlsServerContextTest, UnusableFilesAreRefusedNamingThem) {
    TTestCertificate certificate;
    TTestCertificate other;
    struct TCase {
        std::string certificateFile;
        std::string keyFile;
        const char* reason;
    };
    const std::vector<TCase> cases = {
        {"/nonexistent/cert.pem", certificate.KeyFile(), "cannot read the certificate file /nonexistent/cert.pem"},
        {certificate.CertificateFile(), "/nonexistent/key.pem", "cannot read the key file /nonexistent/key.pem"},
        {certificate.CertificateFile(), other.KeyFile(), "is not the key of"},
        {certificate.CertificateFile(), "", "needs both"},
    };
    for (const TCase& c : cases) {
        try {
            NewTlsServerContext(c.certificateFile, c.keyFile);
            ADD_FAILURE() << "taken: " << c.certificateFile << " " << c.keyFile;
        } catch (const ESipError& error) {
            EXPECT_NE(std::string(error.what()).find(c.reason), std::string::npos) << error.what();
        }
    }
    EXPECT_NE(NewTlsServerContext(certificate.CertificateFile(), certificate.KeyFile()), nullptr);
}

}  // namespace
