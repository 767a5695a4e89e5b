// Requests that ask for TLS on every hop: taken over our TLS listener, with a
// secure dialog, and refused when their last hop was UDP or plain TCP.
#include <condition_variable>
#include <deque>

#include "engine_test_fixture.h"
#include "sip/stream_transport.h"
#include "tests/sip/tls_test_peer.h"

namespace sip_test {
namespace {

enum class THop { kUdp, kTcp, kTls };

// A caller on a connection of its own, over TCP or TLS.
class TStreamCaller {
public:
    TStreamCaller()
        : Transport_(std::nullopt,
                     [this](const std::string&, uint16_t, const std::string& text, bool) {
                         std::lock_guard<std::mutex> guard(Lock_);
                         Received_.push_back(text);
                         Arrived_.notify_all();
                     },
                     [](const std::string&, uint16_t, const std::string&, bool) {}) {}

    void Send(uint16_t port, const std::string& text, const TStreamTransport::TTarget& target) {
        Transport_.Send("127.0.0.1", port, text, target);
    }

    // The first response that is not 100 Trying; empty when none comes.
    std::string NextAnswer() {
        std::unique_lock<std::mutex> guard(Lock_);
        std::string found;
        Arrived_.wait_for(guard, kEventCeiling, [&] {
            while (!Received_.empty() && found.empty()) {
                std::string next = std::move(Received_.front());
                Received_.pop_front();
                if (TSipMessage(next).StatusCode != "100") found = std::move(next);
            }
            return !found.empty();
        });
        return found;
    }

private:
    std::mutex Lock_;
    std::condition_variable Arrived_;
    std::deque<std::string> Received_;
    TStreamTransport Transport_;  // last: its thread uses the members above
};

class EngineSecureRequestTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        Engine->SetTlsCertificate(Certificate.CertificateFile(), Certificate.KeyFile());
    }

    static std::string Invite(const std::string& scheme, THop hop, uint16_t viaPort, const std::string& callId) {
        const std::string sdp = SdpBody(40000, "0 101");
        const std::string via = hop == THop::kUdp ? "UDP" : hop == THop::kTcp ? "TCP" : "TLS";
        return "INVITE " + scheme + ":4711@127.0.0.1 SIP/2.0\r\n"
               "Via: SIP/2.0/" + via + " 127.0.0.1:" + std::to_string(viaPort) + ";branch=z9hG4bK" + callId + "\r\n"
               "From: <" + scheme + ":caller@127.0.0.1>;tag=ct\r\nTo: <" + scheme + ":4711@127.0.0.1>\r\n"
               "Call-ID: " + callId + "\r\nCSeq: 1 INVITE\r\nMax-Forwards: 70\r\n"
               "Contact: <" + scheme + ":caller@127.0.0.1:" + std::to_string(viaPort) + ">\r\n"
               "Content-Type: application/sdp\r\nContent-Length: " + std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
    }

    // Sends the INVITE over `hop` and returns the first answer beyond 100.
    std::string Call(THop hop, const std::string& scheme, const std::string& callId) {
        if (hop == THop::kUdp) {
            TFakePeer caller;
            caller.Send(Invite(scheme, hop, caller.Port(), callId), Port);
            for (;;) {
                const std::string answer = caller.Next();
                if (answer.empty() || TSipMessage(answer).StatusCode != "100") return answer;
            }
        }
        TStreamTransport::TTarget target;
        if (hop == THop::kTls) target = {TSignallingTransport::kTls, "127.0.0.1", Certificate.CertificateFile()};
        Callers.push_back(std::make_unique<TStreamCaller>());
        Callers.back()->Send(Engine->StreamPort(), Invite(scheme, hop, 5999, callId), target);
        return Callers.back()->NextAnswer();
    }

    // Calls over TLS are an account on TLS's: its Contact and its requests
    // in the dialog keep to TLS.
    ISipAccountPtr TlsAccount() {
        const ISipAccountPtr account = AddAccount();
        account->SetTransport(TSignallingTransport::kTls);
        return account;
    }

    TTestCertificate Certificate;
    std::vector<std::unique_ptr<TStreamCaller>> Callers;
};

// The last hop decides: sips: only over TLS, where its dialog is secure;
// sip: on any transport.
TEST_F(EngineSecureRequestTest, SipsIsTakenOnlyOverTls) {
    struct TCase {
        THop hop;
        const char* scheme;
        const char* status;
        bool secure;
    };
    const TCase cases[] = {
        {THop::kUdp, "sips", "480", false}, {THop::kTcp, "sips", "480", false}, {THop::kTls, "sips", "180", true},
        {THop::kUdp, "sip", "180", false},  {THop::kTls, "sip", "180", false},
    };
    TlsAccount();
    int rang = 0;
    for (const TCase& c : cases) {
        const std::string callId = std::string(c.scheme) + "-over-" + std::to_string(static_cast<int>(c.hop));
        SCOPED_TRACE(callId);
        const TSipMessage answer(Call(c.hop, c.scheme, callId));
        ASSERT_EQ(answer.StatusCode, c.status) << answer.RawText;
        if (answer.StatusCode == "480") {
            EXPECT_NE(answer.RawText.find("\r\nWarning: 380 127.0.0.1 \"SIPS Not Allowed\"\r\n"), std::string::npos)
                << answer.RawText;
            continue;
        }
        ASSERT_TRUE(Sink->WaitFor("Invite", ++rang));
        const ISipCallPtr call = Sink->OfferedCall();
        EXPECT_EQ(call->GetCallId(), callId);
        EXPECT_EQ(call->Dialog().Secure(), c.secure);
    }
    // The refused ones rang nothing and left no call behind.
    EXPECT_EQ(Sink->Count("Invite"), rang);
    EXPECT_EQ(Engine->Calls().Count(), rang);
}

// A secure dialog needs an account that can keep it on TLS: one on UDP
// would have to send its BYE in clear, which it never does for sips:.
TEST_F(EngineSecureRequestTest, SipsOverTlsForAnAccountOnUdpIsRefused) {
    AddAccount();
    EXPECT_EQ(TSipMessage(Call(THop::kTls, "sips", "tls-udp-account")).StatusCode, "480");
    EXPECT_EQ(TSipMessage(Call(THop::kTls, "sip", "tls-udp-account-sip")).StatusCode, "180");
    EXPECT_EQ(Engine->Calls().Count(), 1);
}

// The answer to a call taken over TLS travels back on the caller's
// connection, protected: the caller hears it though it has no listener.
TEST_F(EngineSecureRequestTest, AnswerOfACallOverTlsComesBackOnItsConnection) {
    TlsAccount();
    ASSERT_EQ(TSipMessage(Call(THop::kTls, "sips", "tls-answer")).StatusCode, "180");
    ASSERT_TRUE(Sink->WaitFor("Invite"));
    Engine->Answer(Sink->OfferedCall());
    const TSipMessage ok(Callers.back()->NextAnswer());
    EXPECT_EQ(ok.StatusCode, "200") << ok.RawText;
    // Our Contact keeps the dialog on TLS.
    EXPECT_EQ(ok.Contact.rfind("sips:", 0), 0u) << ok.RawText;
}

}  // namespace
}  // namespace sip_test
