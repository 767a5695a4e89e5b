// Switching off sees its last requests through, and name look-ups never
// hold up the handling of received messages.
#include <condition_variable>
#include <mutex>

#include "engine_test_fixture.h"
#include "sip/message.h"

namespace sip_test {
namespace {

const std::string kChallenge = "WWW-Authenticate: Digest realm=\"test\", nonce=\"n2\", qop=\"auth\"\r\n";

// A BYE from the far end in the dialog of the call that `invite` set up.
std::string FarEndBye(const std::string& invite, uint16_t serverPort) {
    const TSipMessage m(invite);
    return "BYE sip:4711@127.0.0.1 SIP/2.0\r\n"
           "Via: SIP/2.0/UDP 127.0.0.1:" + std::to_string(serverPort) + ";branch=z9hG4bKfarbye\r\n"
           "From: <sip:5550100@127.0.0.1>;tag=callee1\r\n" + m.FromHeader.substr(6).insert(0, "To: ") + "\r\n"
           "Call-ID: " + m.CallId + "\r\nCSeq: 9 BYE\r\nContent-Length: 0\r\n\r\n";
}

class EngineSwitchOff : public EngineTest {
protected:
    void Configure(TSipEngineOptions& options) override { options.switchOffLimit = 10s; }
};

// The registrar challenges the un-REGISTER and the first BYE is lost: both
// are seen through, and switching off ends as soon as both are answered,
// well before its limit.
TEST_F(EngineSwitchOff, AnswersTheUnregisterChallengeAndResendsALostBye) {
    const ISipAccountPtr account = AddAccount();
    RegisterWithChallenge(account);
    ConnectedCall(account);
    std::atomic<bool> off{false};
    std::thread switcher([&] {
        Engine->SetActive(false);
        off = true;
    });
    const std::string bye = Server.NextOf("BYE");  // lost: not answered
    const std::string unregister = Server.NextOf("REGISTER");
    ASSERT_FALSE(unregister.empty());
    Server.Send(Respond(unregister, "401 Unauthorized", "", kChallenge), Port);
    const std::string withCredentials = Server.NextOf("REGISTER");
    SteadyMs += 600;  // past T1: the BYE is due again
    const std::string again = Server.NextOf("BYE");
    if (!again.empty()) Server.Send(Respond(again, "200 OK"), Port);
    if (!withCredentials.empty()) Server.Send(Respond(withCredentials, "200 OK"), Port);
    const bool quick = WaitUntil([&] { return off.load(); }, 4000ms);
    switcher.join();

    EXPECT_FALSE(bye.empty());
    EXPECT_EQ(again, bye);
    EXPECT_NE(withCredentials.find("Authorization: Digest"), std::string::npos) << withCredentials;
    EXPECT_NE(withCredentials.find("nonce=\"n2\""), std::string::npos);
    EXPECT_NE(withCredentials.find("Expires: 0"), std::string::npos);
    EXPECT_TRUE(quick) << "switching off waited out its limit";
    EXPECT_EQ(Sink->Count("Bye"), 1);
    EXPECT_EQ(Engine->Calls().Count(), 0);
}

// A resolver that holds every look-up until released, as a DNS server that
// does not answer would.
class EngineResolver : public EngineTest {
protected:
    void Configure(TSipEngineOptions& options) override {
        options.autoTick = true;
        options.timerPeriod = 50ms;
        options.lookup = [this](const std::string& name) {
            std::unique_lock<std::mutex> guard(Lock_);
            Asked_.push_back(name);
            Changed_.notify_all();
            Changed_.wait(guard, [this] { return Released_; });
            return std::string("127.0.0.1");
        };
    }
    void TearDown() override {
        Release();
        EngineTest::TearDown();
    }
    void Release() {
        std::lock_guard<std::mutex> guard(Lock_);
        Released_ = true;
        Changed_.notify_all();
    }
    bool WaitForLookup() {
        std::unique_lock<std::mutex> guard(Lock_);
        return Changed_.wait_for(guard, 3s, [this] { return !Asked_.empty(); });
    }

    std::mutex Lock_;
    std::condition_variable Changed_;
    std::vector<std::string> Asked_;
    bool Released_ = false;
};

TEST_F(EngineResolver, BlockedLookupForARetryLeavesTheCallAnswered) {
    const ISipAccountPtr account = AddAccount();
    RegisterWithChallenge(account);
    std::string invite;
    ConnectedCall(account, &invite);
    // The refresh is refused: the registration is lost and retried later.
    AdvanceSeconds(2 * 3600);  // past any refresh time
    const std::string refresh = Server.NextOf("REGISTER");
    ASSERT_FALSE(refresh.empty());
    Server.Send(Respond(refresh, "503 Service Unavailable"), Port);
    ASSERT_TRUE(Sink->WaitFor("RegistrationBye"));
    AdvanceSeconds(TSipEngine::kFirstRetrySeconds + 1);
    ASSERT_TRUE(WaitForLookup());

    // DNS does not answer; the far end hangs up meanwhile.
    Server.Send(FarEndBye(invite, Server.Port()), Port);
    EXPECT_FALSE(Server.NextOf("BYE", "200").empty());
    EXPECT_TRUE(Sink->WaitFor("Bye"));
    EXPECT_TRUE(Server.NextOf("REGISTER", "", 300ms).empty()) << "retried before its look-up";

    Release();
    EXPECT_FALSE(Server.NextOf("REGISTER").empty());
    std::lock_guard<std::mutex> guard(Lock_);
    EXPECT_EQ(Asked_.size(), 1u) << "one look-up per retry";
}

}  // namespace
}  // namespace sip_test
