#include <regex>

#include "engine_test_fixture.h"
#include "sip/auth.h"

namespace sip_test {
namespace {

class EngineLifecycle : public EngineTest {};

TEST_F(EngineLifecycle, SwitchingOnTwiceAndSendingWhileOffAreRefused) {
    EXPECT_THROW(
        {
            try {
                Engine->SetActive(true);
            } catch (const ESipError& error) {
                EXPECT_STREQ(error.what(), "Already active");
                throw;
            }
        },
        ESipError);
    const ISipAccountPtr account = AddAccount();
    Engine->SetActive(false);
    EXPECT_FALSE(Engine->GetActive());
    try {
        Engine->SendRegister(account);
        FAIL() << "SendRegister on an engine that is off must raise";
    } catch (const ESipError& error) {
        EXPECT_STREQ(error.what(), "not active");
    }
}

TEST_F(EngineLifecycle, TakenPortLeavesEngineMarkedActiveUntilSwitchedOff) {
    TSipEngine second(Port);
    try {
        second.SetActive(true);
        FAIL() << "binding a taken port must fail";
    } catch (const ESipError& error) {
        EXPECT_STREQ(error.what(), "bind failed");
    }
    EXPECT_TRUE(second.GetActive());
    EXPECT_THROW(second.SetActive(true), ESipError);
    second.SetActive(false);
    EXPECT_FALSE(second.GetActive());
}

TEST_F(EngineLifecycle, CSeqCountsAcrossAccountsAndCalls) {
    const ISipAccountPtr a = AddAccount("100");
    const ISipAccountPtr b = AddAccount("200");
    Engine->SendRegister(a);
    Engine->SendRegister(b);
    const ISipCallPtr call = Engine->MakeCall(a, "300", -1, -1);
    EXPECT_EQ(TSipMessage(Server.NextOf("REGISTER")).CSeqNumber, "1");
    EXPECT_EQ(TSipMessage(Server.NextOf("REGISTER")).CSeqNumber, "2");
    EXPECT_EQ(TSipMessage(Server.NextOf("INVITE")).CSeqNumber, "3");
    EXPECT_EQ(call->Dialog().LocalCSeq(), 3u);
}

TEST_F(EngineLifecycle, CodecListKeepsRegisteredTypesInGivenOrder) {
    EXPECT_EQ(Engine->GetCodecList().substr(0, 5), "0 8 3");
    Engine->SetCodecs({97, 8, 0});  // nothing is registered as 97
    EXPECT_EQ(Engine->GetCodecList(), "8 0");
    EXPECT_EQ(Engine->GetCodecCount(), 2);
    EXPECT_EQ(Engine->GetCodecAt(1), 0);
}

TEST_F(EngineLifecycle, AddAccountSplitsServerPort) {
    const ISipAccountPtr account = Engine->AddAccount("", "127.0.0.1:7060", "u", "p", "");
    EXPECT_EQ(account->GetServerPort(), 7060);
    EXPECT_EQ(account->GetLocalPort(), Port);
    EXPECT_EQ(Engine->AddAccount("", "127.0.0.1", "u", "p", "")->GetServerPort(), 5060);
    EXPECT_EQ(Engine->AddAccount("", "127.0.0.1:x", "u", "p", "")->GetServerPort(), 5060);
}

TEST_F(EngineLifecycle, SwitchingOffUnregistersAndHangsUp) {
    const ISipAccountPtr account = AddAccount();
    RegisterWithChallenge(account);
    const ISipCallPtr call = ConnectedCall(account);
    Engine->SetActive(false);
    EXPECT_FALSE(Server.NextOf("BYE").empty());
    const TSipMessage unregister(Server.NextOf("REGISTER"));
    EXPECT_NE(unregister.RawText.find("Expires: 0"), std::string::npos);
    EXPECT_EQ(Engine->Calls().Count(), 0);
    EXPECT_EQ(Engine->Ports().InUseCount(), 0u);
}

class KeepAliveTest : public EngineTest {
protected:
    std::chrono::milliseconds KeepAlivePeriod() const override { return std::chrono::milliseconds(100); }
};

TEST_F(KeepAliveTest, EveryAccountServerGetsFourBytes) {
    AddAccount("a");
    AddAccount("b");
    int keepAlives = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    while (keepAlives < 4 && std::chrono::steady_clock::now() < deadline) {
        const std::string text = Server.Next(std::chrono::milliseconds(300), true);
        if (text.empty()) continue;
        EXPECT_EQ(text, "\r\n\r\n");
        ++keepAlives;
    }
    EXPECT_GE(keepAlives, 4);
}

class EngineRegistration : public EngineTest {};

TEST_F(EngineRegistration, ChallengeAnsweredWithCredentialsThenRegistered) {
    const ISipAccountPtr account = AddAccount("4711", "secret");
    Engine->Register(account);
    const std::string first = Server.NextOf("REGISTER");
    EXPECT_EQ(account->GetState(), asRegistering);
    Server.Send(Respond(first, "401 Unauthorized", "",
                        "WWW-Authenticate: Digest realm=\"test\", nonce=\"n1\", qop=\"auth\"\r\n"),
                Port);
    const std::string second = Server.NextOf("REGISTER");
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(account->GetState(), asAuthenticating);

    // The response in the line is the one a registrar computes from what the
    // line shows.
    std::smatch found;
    ASSERT_TRUE(std::regex_search(second, found, std::regex("Authorization: Digest username=\"4711\","
                                                            "realm=\"test\",nonce=\"n1\",uri=\"([^\"]*)\","
                                                            "response=\"([0-9a-f]{32})\".*cnonce=\"([0-9a-f]{32})\"")));
    EXPECT_EQ(found[2].str(), DigestResponseForUri("REGISTER", found[1].str(), "4711", "test", "secret",
                                                   "auth", "n1", found[3].str(), ""));
    EXPECT_GT(std::stoi(TSipMessage(second).CSeqNumber), std::stoi(TSipMessage(first).CSeqNumber));

    Server.Send(Respond(second, "200 OK", "reg1"), Port);
    ASSERT_TRUE(Sink->WaitFor("RegistrationOk"));
    EXPECT_EQ(account->GetState(), asRegistered);
    EXPECT_EQ(account->GetRegistrarTag(), "reg1");
}

TEST_F(EngineRegistration, RefusedCredentialsEndIdleAndReported) {
    const ISipAccountPtr account = AddAccount();
    Engine->Register(account);
    const std::string challenge =
        "WWW-Authenticate: Digest realm=\"test\", nonce=\"n1\", qop=\"auth\"\r\n";
    Server.Send(Respond(Server.NextOf("REGISTER"), "401 Unauthorized", "", challenge), Port);
    Server.Send(Respond(Server.NextOf("REGISTER"), "401 Unauthorized", "", challenge), Port);
    ASSERT_TRUE(Sink->WaitFor("RegistrationBye"));
    EXPECT_EQ(account->GetState(), asIdle);
    EXPECT_TRUE(Server.Silent());  // no third REGISTER
}

TEST_F(EngineRegistration, UnregisterAnsweredOnceReportsOnceEvenAfterTicks) {
    const ISipAccountPtr account = AddAccount();
    RegisterWithChallenge(account);
    Engine->Unregister(account);
    const std::string unregister = Server.NextOf("REGISTER");
    EXPECT_EQ(account->GetState(), asUnregistering);
    Server.Send(Respond(unregister, "200 OK"), Port);
    ASSERT_TRUE(Sink->WaitFor("RegistrationBye"));
    EXPECT_EQ(account->GetState(), asIdle);
    AdvanceSeconds(30);
    Engine->Tick();
    EXPECT_EQ(Sink->Count("RegistrationBye"), 1);
}

TEST_F(EngineRegistration, TickRefreshesAfterTenMinutesAndTimesOutUnanswered) {
    const ISipAccountPtr account = AddAccount();
    RegisterWithChallenge(account);
    Server.Clear();
    AdvanceSeconds(590);
    Engine->Tick();
    EXPECT_TRUE(Server.Silent(std::chrono::milliseconds(200)));
    AdvanceSeconds(20);
    Engine->Tick();
    EXPECT_FALSE(Server.NextOf("REGISTER").empty());
    EXPECT_EQ(account->GetState(), asRegistering);
    // The registrar never answers the refresh (Timer F, 32 s).
    AdvanceSeconds(33);
    Engine->Tick();
    EXPECT_EQ(account->GetState(), asIdle);
    EXPECT_TRUE(Sink->WaitFor("RegistrationBye"));
}

TEST_F(EngineRegistration, ProvisionalChangesNothingServerErrorEndsRegistration) {
    const ISipAccountPtr account = AddAccount();
    Engine->Register(account);
    const std::string reg = Server.NextOf("REGISTER");
    Server.Send(Respond(reg, "100 Trying"), Port);
    Server.Send(Respond(reg, "503 Service Unavailable"), Port);
    ASSERT_TRUE(Sink->WaitFor("RegistrationBye"));
    EXPECT_EQ(account->GetState(), asIdle);
    EXPECT_EQ(Sink->Count("RegistrationOk"), 0);
}

class EngineStun : public EngineTest {
protected:
    ISipAccountPtr StunAccount() {
        return Engine->AddAccount("127.0.0.1", "127.0.0.1:" + std::to_string(Server.Port()), "4711", "pw", "");
    }
    static std::string StunAnswer(const std::string& transactionId, bool mapped, std::size_t length = 32) {
        std::string answer("\x01\x01\x00\x0C", 4);
        answer += transactionId;
        answer += mapped ? std::string("\x00\x01\x00\x08\x00\x01\x13\x88", 8)
                         : std::string("\x80\x20\x00\x08\x00\x01\x13\x88", 8);
        answer += std::string("\xCB\x00\x71\x07", 4);  // 203.0.113.7
        return answer.substr(0, length);
    }
    static std::string TransactionIdOf(const ISipAccountPtr& account) {
        const std::string callId = account->GetCallId();
        return callId.substr(callId.size() - 17, 16);
    }
};

TEST_F(EngineStun, MappedAddressGoesIntoTheRegister) {
    const ISipAccountPtr account = StunAccount();
    // The STUN server is this machine's port 3478; nothing needs to listen
    // there since the answer is injected.
    Engine->Register(account);
    EXPECT_EQ(account->GetState(), asStunQuery);
    Server.Send(StunAnswer(TransactionIdOf(account), true), Port);
    const TSipMessage reg(Server.NextOf("REGISTER"));
    EXPECT_NE(reg.Contact.find("203.0.113.7"), std::string::npos) << reg.RawText;
}

TEST_F(EngineStun, OtherFirstAttributeOrShortAnswerRegistersWithoutChange) {
    const ISipAccountPtr account = StunAccount();
    Engine->Register(account);
    Server.Send(StunAnswer(TransactionIdOf(account), true, 24), Port);  // cut short
    const TSipMessage reg(Server.NextOf("REGISTER"));
    ASSERT_FALSE(reg.RawText.empty());
    EXPECT_EQ(reg.Contact.find("203.0.113.7"), std::string::npos);

    const ISipAccountPtr other = StunAccount();
    Engine->Register(other);
    Server.Send(StunAnswer(TransactionIdOf(other), false), Port);
    const TSipMessage second(Server.NextOf("REGISTER"));
    ASSERT_FALSE(second.RawText.empty());
    EXPECT_EQ(second.Contact.find("203.0.113.7"), std::string::npos);
}

TEST_F(EngineStun, SilentStunServerFallsBackAfterThreeSeconds) {
    const ISipAccountPtr account = StunAccount();
    Engine->Register(account);
    AdvanceSeconds(2);
    Engine->Tick();
    EXPECT_EQ(account->GetState(), asStunQuery);
    AdvanceSeconds(2);
    Engine->Tick();
    EXPECT_FALSE(Server.NextOf("REGISTER").empty());
    EXPECT_EQ(account->GetState(), asRegistering);
}

}  // namespace
}  // namespace sip_test
