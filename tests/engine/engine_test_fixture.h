// An engine on a free loopback port with a recording sink, a fake clock and
// one fake server peer; its accounts register at that peer.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "engine/engine.h"
#include "tests/sip/sip_test_peer.h"

namespace sip_test {

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        TSipEngineOptions options;
        options.autoTick = false;
        options.clock.now = [this] { return Days.load(); };
        options.steadyClock = [this] {
            return sip_transaction::TTime(std::chrono::milliseconds(SteadyMs.load()));
        };
        options.keepAlivePeriod = KeepAlivePeriod();
        options.timerPeriod = KeepAlivePeriod();
        // Most tests leave calls and registrations up that nobody answers
        // the end of: their switch-off must not wait long.
        options.switchOffLimit = 500ms;
        Configure(options);
        Port = FreeUdpPort();
        Engine = std::make_shared<TSipEngine>(Port, options);
        Sink = std::make_shared<TRecordingSink>();
        Engine->SetEventHandler(Sink);
        // No RTP flows in these calls: tests that move the clock by minutes
        // would otherwise see their calls ended by the media timeout, whose
        // own tests switch it on.
        Engine->SetMediaTimeout(0);
        Engine->SetActive(true);
    }

    void TearDown() override {
        Engine.reset();
        Sink->ForgetCalls();
    }

    virtual std::chrono::milliseconds KeepAlivePeriod() const { return std::chrono::minutes(10); }
    virtual void Configure(TSipEngineOptions&) {}

    void AdvanceSeconds(double seconds) { Days = Days.load() + seconds / 86400.0; }
    // Moves the transaction clock in 100 ms steps, polling at each.
    void AdvanceTransactions(std::chrono::milliseconds by) {
        for (auto moved = 0ms; moved < by; moved += 100ms) {
            SteadyMs += 100;
            Engine->PollTransactions();
        }
    }

    ISipAccountPtr AddAccount(const std::string& user = "4711", const std::string& password = "secret") {
        return Engine->AddAccount("", "127.0.0.1:" + std::to_string(Server.Port()), user, password, "");
    }

    // An INVITE from the server peer to 4711 offering `sdp`, its branch
    // made from `callId` so each call's transaction stands apart.
    std::string IncomingInvite(const std::string& callId, const std::string& sdp) const {
        return "INVITE sip:4711@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + std::to_string(Server.Port()) +
               ";branch=z9hG4bK" + callId + "\r\nFrom: <sip:caller@127.0.0.1>;tag=ct\r\nTo: <sip:4711@127.0.0.1>\r\n"
               "Call-ID: " + callId + "\r\nCSeq: 1 INVITE\r\nContact: <sip:caller@127.0.0.1:" +
               std::to_string(Server.Port()) + ">\r\nContent-Type: application/sdp\r\nContent-Length: " +
               std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
    }

    // Registers `account` through a 401 challenge; returns when registered.
    void RegisterWithChallenge(const ISipAccountPtr& account) {
        Engine->Register(account);
        const std::string first = Server.NextOf("REGISTER");
        ASSERT_FALSE(first.empty());
        Server.Send(Respond(first, "401 Unauthorized", "",
                            "WWW-Authenticate: Digest realm=\"test\", nonce=\"n1\", qop=\"auth\"\r\n"),
                    Port);
        const std::string second = Server.NextOf("REGISTER");
        ASSERT_FALSE(second.empty());
        Server.Send(Respond(second, "200 OK", "reg1"), Port);
        ASSERT_TRUE(Sink->WaitFor("RegistrationOk"));
    }

    // Places a call and answers it 200 with SDP; returns the call.
    ISipCallPtr ConnectedCall(const ISipAccountPtr& account, std::string* invite = nullptr) {
        ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
        const std::string offer = Server.NextOf("INVITE");
        EXPECT_FALSE(offer.empty());
        Server.Send(Respond(offer, "200 OK", "callee1", "Contact: <sip:5550100@127.0.0.1:" +
                                                           std::to_string(Server.Port()) + ">\r\n",
                           SdpBody(FreeUdpPort(), "0 101")),
                    Port);
        EXPECT_FALSE(Server.NextOf("ACK").empty());
        EXPECT_TRUE(Sink->WaitFor("InviteOk"));
        if (invite) *invite = offer;
        return call;
    }

    std::atomic<double> Days{46000.5};
    std::atomic<int64_t> SteadyMs{1000000};
    uint16_t Port = 0;
    TFakePeer Server;
    std::shared_ptr<TRecordingSink> Sink;
    std::shared_ptr<TSipEngine> Engine;
};

}  // namespace sip_test
