// The engine's signalling over TCP: one connection to the server carries
// everything, nothing is retransmitted on it, and a connection that drops
// is rebuilt by registering again.
#include <condition_variable>
#include <deque>

#include "engine_test_fixture.h"
#include "sip/stream_transport.h"

namespace sip_test {
namespace {

// A SIP server on a TCP port of its own, built on the agent's own connection
// set; it records every message with the connection it came on.
class TStreamServer {
public:
    struct TReceived {
        std::string text;
        uint16_t port = 0;  // the far port of its connection
    };

    // Listens on `port`: a UDP server's own port makes it one that takes
    // both transports.
    explicit TStreamServer(uint16_t port = 0)
        : Transport_(std::optional<uint16_t>(port),
                     [this](const std::string&, uint16_t port, const std::string& text, bool) {
                         std::lock_guard<std::mutex> guard(Lock_);
                         Received_.push_back({text, port});
                         Arrived_.notify_all();
                     },
                     [this](const std::string&, uint16_t, const std::string&, bool) {
                         std::lock_guard<std::mutex> guard(Lock_);
                         ++Closed_;
                         Arrived_.notify_all();
                     }) {}

    uint16_t Port() const { return Transport_.ListenPort(); }

    TReceived NextOf(const std::string& method, std::chrono::milliseconds timeout = kEventCeiling) {
        std::unique_lock<std::mutex> guard(Lock_);
        TReceived found;
        Arrived_.wait_for(guard, timeout, [&] {
            while (!Received_.empty()) {
                TReceived next = std::move(Received_.front());
                Received_.pop_front();
                if (TSipMessage(next.text).CSeqMethod == method) {
                    found = std::move(next);
                    return true;
                }
            }
            return false;
        });
        return found;
    }

    bool Silent(std::chrono::milliseconds quiet) {
        std::unique_lock<std::mutex> guard(Lock_);
        return !Arrived_.wait_for(guard, quiet, [&] { return !Received_.empty(); });
    }

    void Reply(const TReceived& to, const std::string& text) {
        Transport_.Send("127.0.0.1", to.port, text, {});
    }
    void Drop(uint16_t port) { Transport_.Drop("127.0.0.1", port); }
    std::size_t Connections() const { return Transport_.ConnectionCount(); }

    // Opens a connection of its own to `port` and sends `text` on it.
    void SendTo(uint16_t port, const std::string& text) { Transport_.Send("127.0.0.1", port, text, {}); }

private:
    std::mutex Lock_;
    std::condition_variable Arrived_;
    std::deque<TReceived> Received_;
    int Closed_ = 0;
    TStreamTransport Transport_;  // last: its thread uses the members above
};

class EngineStreamTest : public EngineTest {
protected:
    ISipAccountPtr TcpAccount() {
        const ISipAccountPtr account =
            Engine->AddAccount("", "127.0.0.1:" + std::to_string(Tcp.Port()), "4711", "secret", "");
        account->SetTransport(TSignallingTransport::kTcp);
        return account;
    }

    // Registers through a challenge; returns the 200's connection port.
    uint16_t Register(const ISipAccountPtr& account) {
        Engine->Register(account);
        const TStreamServer::TReceived first = Tcp.NextOf("REGISTER");
        EXPECT_FALSE(first.text.empty());
        Tcp.Reply(first, Respond(first.text, "401 Unauthorized", "",
                                 "WWW-Authenticate: Digest realm=\"test\", nonce=\"n1\"\r\n"));
        const TStreamServer::TReceived second = Tcp.NextOf("REGISTER");
        EXPECT_FALSE(second.text.empty());
        // Both on the one connection the account keeps.
        EXPECT_EQ(second.port, first.port);
        Tcp.Reply(second, Respond(second.text, "200 OK", "reg1",
                                  "Contact: <" + account->GetContactUri() + ">;expires=3600\r\n"));
        EXPECT_TRUE(Sink->WaitFor("RegistrationOk"));
        return second.port;
    }

    TStreamServer Tcp;
};

TEST_F(EngineStreamTest, RegistersOverOneConnectionWithTcpInViaAndContact) {
    const ISipAccountPtr account = TcpAccount();
    Engine->Register(account);
    const TStreamServer::TReceived first = Tcp.NextOf("REGISTER");
    const TSipMessage request(first.text);
    EXPECT_NE(request.ViaHeaders.find("SIP/2.0/TCP "), std::string::npos) << first.text;
    EXPECT_NE(first.text.find(";transport=tcp>"), std::string::npos) << first.text;
    EXPECT_EQ(Tcp.Connections(), 1u);
    Tcp.Reply(first, Respond(first.text, "200 OK", "reg1",
                             "Contact: <" + account->GetContactUri() + ">;expires=3600\r\n"));
    EXPECT_TRUE(Sink->WaitFor("RegistrationOk"));
    EXPECT_EQ(Tcp.Connections(), 1u);
}

// No Timer E on a connection; Timer F still ends the transaction.
TEST_F(EngineStreamTest, UnansweredRegisterIsNotResentButTimesOut) {
    const ISipAccountPtr account = TcpAccount();
    Engine->Register(account);
    ASSERT_FALSE(Tcp.NextOf("REGISTER").text.empty());
    AdvanceTransactions(8000ms);
    EXPECT_TRUE(Tcp.Silent(300ms));
    AdvanceTransactions(25000ms);
    ASSERT_TRUE(Sink->WaitFor("RegistrationBye"));
    EXPECT_EQ(account->GetRenewal().lostReason.rfind("no answer from", 0), 0u);
}

TEST_F(EngineStreamTest, DroppedConnectionIsRebuiltAndRegisteredAgain) {
    const ISipAccountPtr account = TcpAccount();
    const uint16_t before = Register(account);
    Tcp.Drop(before);
    const TStreamServer::TReceived again = Tcp.NextOf("REGISTER");
    ASSERT_FALSE(again.text.empty());
    EXPECT_NE(again.port, before);
    // The host was never told of a loss: the registration carried on.
    EXPECT_EQ(Sink->Count("RegistrationBye"), 0);
}

TEST_F(EngineStreamTest, RefusedConnectionFailsTheRegistrationAtOnceWithItsReason) {
    const uint16_t closedPort = FreeUdpPort();  // nothing listens on TCP there either
    const ISipAccountPtr account =
        Engine->AddAccount("", "127.0.0.1:" + std::to_string(closedPort), "4711", "secret", "");
    account->SetTransport(TSignallingTransport::kTcp);
    Engine->Register(account);
    ASSERT_TRUE(Sink->WaitFor("RegistrationBye"));
    EXPECT_NE(account->GetRenewal().lostReason.find("Connection refused"), std::string::npos)
        << account->GetRenewal().lostReason;
}

// A server that takes the connection and drops it before answering: the
// registration fails with the reason and waits for its back-off, rather than
// reconnecting in a loop.
TEST_F(EngineStreamTest, ConnectionLostWhileRegisteringFailsWithoutALoop) {
    const ISipAccountPtr account = TcpAccount();
    Engine->Register(account);
    const TStreamServer::TReceived first = Tcp.NextOf("REGISTER");
    ASSERT_FALSE(first.text.empty());
    Tcp.Drop(first.port);
    ASSERT_TRUE(Sink->WaitFor("RegistrationBye"));
    EXPECT_NE(account->GetRenewal().lostReason.find("closed"), std::string::npos)
        << account->GetRenewal().lostReason;
    EXPECT_TRUE(Tcp.Silent(500ms));
}

// A request on a connection the server opened is answered on that
// connection, and its far port is no reason to refuse it.
TEST_F(EngineStreamTest, RequestOnIncomingConnectionIsAnsweredOnIt) {
    ASSERT_NE(Engine->StreamPort(), 0);
    Tcp.SendTo(Engine->StreamPort(),
               "OPTIONS sip:4711@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/TCP 127.0.0.1:5999;branch=z9hG4bKo1\r\n"
               "From: <sip:srv@127.0.0.1>;tag=f1\r\nTo: <sip:4711@127.0.0.1>\r\nCall-ID: opt1\r\n"
               "CSeq: 1 OPTIONS\r\nMax-Forwards: 70\r\nContent-Length: 0\r\n\r\n");
    const TStreamServer::TReceived answer = Tcp.NextOf("OPTIONS");
    ASSERT_FALSE(answer.text.empty());
    EXPECT_EQ(TSipMessage(answer.text).StatusCode, "200");
    EXPECT_EQ(answer.port, Engine->StreamPort());
}

// An account on UDP whose request would not fit one datagram: it goes over
// TCP to the same server port, and falls back to UDP when the server takes
// no connection.
class EngineLargeRequestTest : public EngineTest {
protected:
    ISipAccountPtr UdpAccount() { return AddAccount(); }
    static std::string Body(std::size_t size) { return std::string(size, 'x'); }
    static bool ViaSays(const std::string& text, const std::string& transport) {
        return TSipMessage(text).ViaHeaders.rfind("Via: SIP/2.0/" + transport + " ", 0) == 0;
    }
};

TEST_F(EngineLargeRequestTest, LargeRequestGoesOverTcpWithItsViaAndIsNotResent) {
    TStreamServer tcp(Server.Port());
    ASSERT_EQ(tcp.Port(), Server.Port());
    const ISipAccountPtr account = UdpAccount();
    Engine->SendMessage(account, "5550100", Body(1400));
    const TStreamServer::TReceived large = tcp.NextOf("MESSAGE");
    ASSERT_FALSE(large.text.empty());
    EXPECT_TRUE(ViaSays(large.text, "TCP")) << large.text;
    EXPECT_NE(large.text.find(Body(1400)), std::string::npos);
    // No Timer E on the connection, and no copy over UDP either.
    AdvanceTransactions(2000ms);
    EXPECT_TRUE(tcp.Silent(300ms));
    EXPECT_TRUE(Server.NextOf("MESSAGE", "", 300ms).empty());
    tcp.Reply(large, Respond(large.text, "200 OK", "m1"));

    // A small one still goes as a datagram.
    Engine->SendMessage(account, "5550100", Body(100));
    const std::string small = Server.NextOf("MESSAGE");
    ASSERT_FALSE(small.empty());
    EXPECT_TRUE(ViaSays(small, "UDP")) << small;
}

TEST_F(EngineLargeRequestTest, RefusedConnectionSendsTheRequestOverUdpAfterAll) {
    // Nothing listens on TCP at the server's port.
    const ISipAccountPtr account = UdpAccount();
    Engine->SendMessage(account, "5550100", Body(1400));
    const std::string fallen = Server.NextOf("MESSAGE");
    ASSERT_FALSE(fallen.empty());
    EXPECT_TRUE(ViaSays(fallen, "UDP")) << fallen;
    EXPECT_NE(fallen.find(Body(1400)), std::string::npos);
    // Over UDP it is a datagram like any other: resent until answered.
    AdvanceTransactions(700ms);
    EXPECT_FALSE(Server.NextOf("MESSAGE").empty());
}

// The CANCEL of an INVITE that went over TCP takes the same way, though it
// is small itself.
TEST_F(EngineLargeRequestTest, CancelFollowsItsLargeInviteOverTcp) {
    TStreamServer tcp(Server.Port());
    // Long names make the INVITE too large for one datagram.
    const ISipAccountPtr account = AddAccount(std::string(400, '4'));
    account->SetDisplayName(std::string(120, 'B'));
    const ISipCallPtr call = Engine->MakeCall(account, std::string(120, '5'), -1, -1);
    const TStreamServer::TReceived invite = tcp.NextOf("INVITE");
    ASSERT_FALSE(invite.text.empty());
    EXPECT_TRUE(ViaSays(invite.text, "TCP")) << invite.text;
    tcp.Reply(invite, Respond(invite.text, "180 Ringing", "callee1"));
    ASSERT_TRUE(Sink->WaitFor("Ringback"));
    Engine->HangUp(call);
    const TStreamServer::TReceived cancel = tcp.NextOf("CANCEL");
    ASSERT_FALSE(cancel.text.empty());
    EXPECT_LT(cancel.text.size(), kLargestUdpRequest);
    EXPECT_TRUE(ViaSays(cancel.text, "TCP")) << cancel.text;
    EXPECT_EQ(cancel.port, invite.port);
}

// A sips: address asks for TLS on every hop: an account on UDP or TCP
// refuses to call it rather than send its INVITE in the clear.
TEST_F(EngineTest, SipsTargetIsRefusedOnAnAccountWithoutTls) {
    for (const TSignallingTransport transport : {TSignallingTransport::kUdp, TSignallingTransport::kTcp}) {
        const ISipAccountPtr account = AddAccount();
        account->SetTransport(transport);
        EXPECT_THROW(Engine->MakeCall(account, "sips:5550100@127.0.0.1", -1, -1), ESipError);
    }
    EXPECT_EQ(Engine->Calls().Count(), 0);
    EXPECT_TRUE(Server.NextOf("INVITE", "", 300ms).empty());
}

}  // namespace
}  // namespace sip_test
