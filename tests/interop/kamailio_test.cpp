// The engine against Kamailio as registrar and proxy with digest
// authentication: what Kamailio holds (ul.dump) and passed on (its log) is
// checked along with the engine's events and states.
#include <thread>

#include "interop_support.h"

namespace interop {
namespace {

using sip_test::WaitUntil;

class KamailioProxy : public ::testing::Test {
protected:
    void SetUp() override {
        INTEROP_REQUIRE("kamailio");
        INTEROP_REQUIRE("kamcmd");
        Proxy = std::make_unique<TKamailio>();
        ASSERT_TRUE(Proxy->Ready()) << Proxy->Log();
    }

    ISipAccountPtr AddAccount(TTestEngine& engine, const std::string& user,
                              const std::string& password) {
        return engine.AddAccount("", Proxy->Server(), user, password);
    }

    // Registers `user` and waits for the registrar's 200.
    ISipAccountPtr Registered(TTestEngine& engine, const std::string& user) {
        const ISipAccountPtr account = AddAccount(engine, user, user + "pw");
        engine.Engine->Register(account);
        EXPECT_TRUE(engine.Sink->WaitFor("RegistrationOk"));
        EXPECT_EQ(account->GetState(), asRegistered);
        return account;
    }

    std::string ContactOf(const TTestEngine& engine) const {
        return "127.0.0.1:" + std::to_string(engine.Port);
    }

    std::unique_ptr<TKamailio> Proxy;
};

TEST_F(KamailioProxy, RegistersRefreshesAndUnregisters) {
    TTestEngine alice;
    const ISipAccountPtr account = Registered(alice, "alice");
    std::string locations = Proxy->Locations();
    EXPECT_NE(locations.find("alice"), std::string::npos) << locations;
    EXPECT_NE(locations.find(ContactOf(alice)), std::string::npos) << locations;

    // The refresh falls due after ten minutes, counted on the engine's clock.
    alice.AdvanceSeconds(601);
    alice.Engine->Tick();
    EXPECT_TRUE(WaitUntil([&] {
        return CountOf(Proxy->Log(), "REQ REGISTER") >= 4 && account->GetState() == asRegistered;
    })) << "challenge and answer, twice";
    // A refresh is no news to the host.
    EXPECT_EQ(alice.Sink->Count("RegistrationOk"), 1);

    alice.Engine->Unregister(account);
    EXPECT_TRUE(alice.Sink->WaitFor("RegistrationBye"));
    EXPECT_TRUE(WaitUntil([&] { return account->GetState() == asIdle; }));
    locations = Proxy->Locations();
    EXPECT_EQ(locations.find(ContactOf(alice)), std::string::npos) << locations;

    // Ticks after the un-REGISTER was answered raise nothing more.
    alice.AdvanceSeconds(30);
    alice.Engine->Tick();
    EXPECT_EQ(alice.Sink->Count("RegistrationBye"), 1);
}

TEST_F(KamailioProxy, WrongPasswordEndsUnregisteredWithRegistrationBye) {
    TTestEngine alice;
    const ISipAccountPtr account = AddAccount(alice, "alice", "not-the-password");
    alice.Engine->Register(account);
    EXPECT_TRUE(alice.Sink->WaitFor("RegistrationBye"));
    EXPECT_TRUE(WaitUntil([&] { return account->GetState() == asIdle; }));
    EXPECT_EQ(alice.Sink->Count("RegistrationOk"), 0);
    EXPECT_EQ(Proxy->Locations().find(ContactOf(alice)), std::string::npos);
    // One REGISTER and one retry with credentials; no loop of retries.
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(CountOf(Proxy->Log(), "REQ REGISTER"), 2) << Proxy->Log();
}

TEST_F(KamailioProxy, TwoRegisteredEnginesCallEachOtherThroughTheProxy) {
    TTestEngine alice;
    TTestEngine bob;
    const ISipAccountPtr aliceAccount = Registered(alice, "alice");
    Registered(bob, "bob");

    // Kamailio challenges the INVITE with 407; the retry reaches bob.
    const ISipCallPtr outgoing = alice.Engine->MakeCall(aliceAccount, "bob", -1, -1);
    ASSERT_TRUE(bob.Sink->WaitFor("Invite")) << Proxy->Log();
    const ISipCallPtr incoming = bob.Sink->OfferedCall();
    ASSERT_TRUE(alice.Sink->WaitFor("Ringback"));
    bob.Engine->Answer(incoming);
    ASSERT_TRUE(alice.Sink->WaitFor("InviteOk")) << Proxy->Log();
    EXPECT_EQ(outgoing->GetState(), csConnected);
    EXPECT_EQ(incoming->GetState(), csConnected);

    std::string log = Proxy->Log();
    EXPECT_EQ(CountOf(log, "REQ INVITE sip:bob@127.0.0.1"), 2) << log;
    EXPECT_NE(log.find("RELAY INVITE sip:bob@" + ContactOf(bob)), std::string::npos) << log;
    // The ACK of the 200 must be passed on to bob, not dropped.
    EXPECT_TRUE(WaitUntil([&] { return Proxy->Log().find("RELAY ACK sip:bob@" + ContactOf(bob)) != std::string::npos; }))
        << Proxy->Log();

    alice.Engine->HangUp(outgoing);
    EXPECT_TRUE(bob.Sink->WaitFor("Bye")) << Proxy->Log();
    EXPECT_TRUE(alice.Sink->WaitFor("Bye")) << Proxy->Log();
    EXPECT_NE(Proxy->Log().find("RELAY BYE sip:bob@" + ContactOf(bob)), std::string::npos);
    EXPECT_TRUE(alice.WaitIdle());
    EXPECT_TRUE(bob.WaitIdle());

    // Again, and this time the callee hangs up: its BYE takes the route set
    // the other way.
    alice.Engine->MakeCall(aliceAccount, "bob", -1, -1);
    ASSERT_TRUE(bob.Sink->WaitFor("Invite", 2)) << Proxy->Log();
    const ISipCallPtr second = bob.Sink->OfferedCall();
    bob.Engine->Answer(second);
    ASSERT_TRUE(alice.Sink->WaitFor("InviteOk", 2)) << Proxy->Log();
    bob.Engine->HangUp(second);
    EXPECT_TRUE(alice.Sink->WaitFor("Bye", 2)) << Proxy->Log();
    EXPECT_TRUE(bob.Sink->WaitFor("Bye", 2)) << Proxy->Log();
    EXPECT_NE(Proxy->Log().find("RELAY BYE sip:alice@" + ContactOf(alice)), std::string::npos)
        << Proxy->Log();
    EXPECT_TRUE(alice.WaitIdle());
    EXPECT_TRUE(bob.WaitIdle());
    bob.Sink->ForgetCalls();
}

// Switching off in the middle of a call: the far end gets its BYE, and the
// un-REGISTER, which Kamailio challenges, is answered with credentials so the
// binding is gone, all within a few seconds.
TEST_F(KamailioProxy, SwitchingOffDuringACallEndsItAndRemovesTheBinding) {
    TTestEngine alice;
    TTestEngine bob;
    const ISipAccountPtr aliceAccount = Registered(alice, "alice");
    Registered(bob, "bob");
    alice.Engine->MakeCall(aliceAccount, "bob", -1, -1);
    ASSERT_TRUE(bob.Sink->WaitFor("Invite", 1, 5s)) << Proxy->Log();
    bob.Engine->Answer(bob.Sink->OfferedCall());
    ASSERT_TRUE(alice.Sink->WaitFor("InviteOk", 1, 5s)) << Proxy->Log();
    ASSERT_NE(Proxy->Locations().find(ContactOf(alice)), std::string::npos);

    const auto start = std::chrono::steady_clock::now();
    alice.Engine->SetActive(false);
    const auto took = std::chrono::steady_clock::now() - start;

    EXPECT_TRUE(bob.Sink->WaitFor("Bye", 1, 5s)) << Proxy->Log();
    const std::string locations = Proxy->Locations();
    EXPECT_EQ(locations.find(ContactOf(alice)), std::string::npos) << locations << Proxy->Log();
    EXPECT_LT(took, 3s) << "waited out its limit: something went unanswered";
    bob.Sink->ForgetCalls();
}

}  // namespace
}  // namespace interop
