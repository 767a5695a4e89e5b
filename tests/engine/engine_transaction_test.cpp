// The engine over a lossy peer: copies sent and absorbed, timers that end
// calls and registrations, and the CANCEL rules, on the injected clocks.
#include "engine_test_fixture.h"
#include "sip/message.h"

namespace sip_test {
namespace {

class EngineTransactions : public EngineTest {
protected:
    // An INVITE from the fake peer (a fixed branch: copies are the same).
    std::string IncomingInvite(const std::string& callId) {
        const std::string sdp = SdpBody(40000, "0");
        return "INVITE sip:4711@127.0.0.1 SIP/2.0\r\n"
               "Via: SIP/2.0/UDP 127.0.0.1:" + std::to_string(Server.Port()) + ";branch=z9hG4bK" + callId + "\r\n"
               "From: <sip:caller@127.0.0.1>;tag=ct\r\nTo: <sip:4711@127.0.0.1>\r\n"
               "Call-ID: " + callId + "\r\nCSeq: 1 INVITE\r\nContact: <sip:caller@127.0.0.1:" +
               std::to_string(Server.Port()) + ">\r\nContent-Type: application/sdp\r\n"
               "Content-Length: " + std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
    }
};

TEST_F(EngineTransactions, UnansweredInviteIsResentThenEndsWith408) {
    const ISipAccountPtr account = AddAccount();
    const ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
    const std::string first = Server.NextOf("INVITE");
    ASSERT_FALSE(first.empty());
    AdvanceTransactions(600ms);
    EXPECT_EQ(Server.NextOf("INVITE"), first);  // the same datagram again
    AdvanceTransactions(32000ms);
    ASSERT_TRUE(Sink->WaitFor("Bye"));
    EXPECT_EQ(call->GetStatusText(), "408");
    EXPECT_TRUE(WaitUntil([&] { return Engine->Calls().Count() == 0; }));
}

TEST_F(EngineTransactions, HangUpBeforeAnyAnswerSendsCancelOnlyAfterTheFirstProvisional) {
    const ISipAccountPtr account = AddAccount();
    const ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
    const std::string invite = Server.NextOf("INVITE");
    Engine->HangUp(call);
    EXPECT_TRUE(Server.NextOf("CANCEL", "", 300ms).empty());
    Server.Send(Respond(invite, "180 Ringing", "r1"), Port);
    const std::string cancel = Server.NextOf("CANCEL");
    ASSERT_FALSE(cancel.empty());
    const TSipMessage cancelled(cancel), sent(invite);
    EXPECT_EQ(cancelled.ViaBranch(), sent.ViaBranch());
    // A second provisional sends no second CANCEL.
    Server.Send(Respond(invite, "183 Session Progress", "r1"), Port);
    EXPECT_TRUE(Server.NextOf("CANCEL", "", 300ms).empty());
}

// The callee's 200 crosses our CANCEL, in either order with the 200 to the
// CANCEL: the 2xx is acknowledged inside the dialog and ended with BYE, and
// the host never hears of an answer.
TEST_F(EngineTransactions, OkCrossingTheCancelIsAcknowledgedAndEndedWithBye) {
    for (const bool cancelAnsweredFirst : {false, true}) {
        Sink = std::make_shared<TRecordingSink>();
        Engine->SetEventHandler(Sink);
        const ISipAccountPtr account = AddAccount();
        const ISipCallPtr call = Engine->MakeCall(account, "5550100", -1, -1);
        const std::string invite = Server.NextOf("INVITE");
        Server.Send(Respond(invite, "180 Ringing", "callee9"), Port);
        ASSERT_TRUE(Sink->WaitFor("Ringback"));
        Engine->HangUp(call);
        const std::string cancel = Server.NextOf("CANCEL");
        ASSERT_FALSE(cancel.empty());
        const std::string ok = Respond(invite, "200 OK", "callee9",
                                       "Record-Route: <sip:127.0.0.1:" + std::to_string(Server.Port()) +
                                           ";lr>\r\nContact: <sip:5550100@127.0.0.1:4999>\r\n",
                                       SdpBody(FreeUdpPort(), "0"));
        if (cancelAnsweredFirst) Server.Send(Respond(cancel, "200 OK", "callee9"), Port);
        Server.Send(ok, Port);
        if (!cancelAnsweredFirst) Server.Send(Respond(cancel, "200 OK", "callee9"), Port);
        const std::string ack = Server.NextOf("ACK");
        const std::string bye = Server.NextOf("BYE");
        ASSERT_FALSE(ack.empty()) << cancelAnsweredFirst;
        ASSERT_FALSE(bye.empty()) << cancelAnsweredFirst;
        EXPECT_NE(ack.find(";tag=callee9"), std::string::npos);
        EXPECT_NE(bye.find("BYE sip:5550100@127.0.0.1:4999 SIP/2.0"), std::string::npos) << bye;
        EXPECT_NE(bye.find("Route: <sip:127.0.0.1:" + std::to_string(Server.Port()) + ";lr>"), std::string::npos);
        EXPECT_TRUE(WaitUntil([&] { return Engine->Calls().Count() == 0; }));
        EXPECT_EQ(Sink->Count("InviteOk"), 0);
        EXPECT_EQ(Sink->Count("Bye"), 1);
        Sink->ForgetCalls();
    }
}

TEST_F(EngineTransactions, RetransmittedInviteAndByeAreAnsweredAgainNotTakenAsNew) {
    AddAccount();
    const std::string invite = IncomingInvite("dup-1");
    Server.Send(invite, Port);
    ASSERT_TRUE(Sink->WaitFor("Invite"));
    const std::string ringing = Server.NextOf("INVITE", "180");
    ASSERT_FALSE(ringing.empty());
    Server.Send(invite, Port);
    EXPECT_EQ(Server.NextOf("INVITE", "180"), ringing);
    EXPECT_EQ(Engine->Calls().Count(), 1);
    EXPECT_EQ(Sink->Count("Invite"), 1);

    const ISipCallPtr call = Sink->OfferedCall();
    Engine->Answer(call);
    const std::string ok = Server.NextOf("INVITE", "200");
    ASSERT_FALSE(ok.empty());
    // No ACK yet: the 200 goes out again on its own.
    AdvanceTransactions(600ms);
    EXPECT_EQ(Server.NextOf("INVITE", "200"), ok);
    std::string ack = "ACK sip:4711@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" +
                      std::to_string(Server.Port()) + ";branch=z9hG4bKack\r\nFrom: <sip:caller@127.0.0.1>;tag=ct\r\n"
                      "To: <sip:4711@127.0.0.1>;tag=" + call->Dialog().LocalTag() +
                      "\r\nCall-ID: dup-1\r\nCSeq: 1 ACK\r\nContent-Length: 0\r\n\r\n";
    Server.Send(ack, Port);
    // The ACK crosses a real socket to the signalling thread.
    EXPECT_TRUE(Server.Silent(200ms));
    AdvanceTransactions(5000ms);
    EXPECT_TRUE(Server.NextOf("INVITE", "200", 300ms).empty());

    std::string bye = ack;
    bye.replace(0, 3, "BYE");
    bye.replace(bye.find("z9hG4bKack"), 10, "z9hG4bKbye");
    bye.replace(bye.find("CSeq: 1 ACK"), 11, "CSeq: 2 BYE");
    Server.Send(bye, Port);
    ASSERT_FALSE(Server.NextOf("BYE", "200").empty());
    ASSERT_TRUE(Sink->WaitFor("Bye"));
    Server.Send(bye, Port);
    EXPECT_FALSE(Server.NextOf("BYE", "200").empty());
    EXPECT_EQ(Sink->Count("Bye"), 1);
}

TEST_F(EngineTransactions, OkNeverAcknowledgedEndsTheCallWithBye) {
    AddAccount();
    Server.Send(IncomingInvite("noack-1"), Port);
    ASSERT_TRUE(Sink->WaitFor("Invite"));
    Engine->Answer(Sink->OfferedCall());
    ASSERT_FALSE(Server.NextOf("INVITE", "200").empty());
    AdvanceTransactions(31000ms);
    EXPECT_TRUE(Server.NextOf("BYE", "", 200ms).empty());
    AdvanceTransactions(2000ms);
    EXPECT_FALSE(Server.NextOf("BYE").empty());
    ASSERT_TRUE(Sink->WaitFor("Bye"));
    EXPECT_TRUE(WaitUntil([&] { return Engine->Calls().Count() == 0; }));
}

TEST_F(EngineTransactions, AnswerAfterTheCallerCancelledDoesNothing) {
    AddAccount();
    const std::string invite = IncomingInvite("gone-1");
    Server.Send(invite, Port);
    ASSERT_TRUE(Sink->WaitFor("Invite"));
    std::string cancel = invite.substr(0, invite.find("Content-Type"));
    cancel.replace(0, 6, "CANCEL");
    cancel.replace(cancel.find("CSeq: 1 INVITE"), 14, "CSeq: 1 CANCEL");
    cancel += "Content-Length: 0\r\n\r\n";
    Server.Send(cancel, Port);
    ASSERT_FALSE(Server.NextOf("CANCEL", "200").empty());
    ASSERT_TRUE(WaitUntil([&] { return Engine->Calls().Count() == 0; }));
    Engine->Answer(Sink->OfferedCall());
    EXPECT_TRUE(Server.NextOf("INVITE", "200", 300ms).empty());
}

// The set-up limit tells the far end: a CANCEL for a ringing outgoing call
// (whose 487 is still acknowledged), a final response to an incoming one.
TEST_F(EngineTransactions, SetUpLimitCancelsOrAnswersInsteadOfDroppingSilently) {
    const ISipAccountPtr account = AddAccount();
    const ISipCallPtr outgoing = Engine->MakeCall(account, "5550100", -1, -1);
    const std::string invite = Server.NextOf("INVITE");
    Server.Send(Respond(invite, "180 Ringing", "r5"), Port);
    ASSERT_TRUE(Sink->WaitFor("Ringback"));
    Server.Send(IncomingInvite("late-1"), Port);
    ASSERT_TRUE(Sink->WaitFor("Invite"));
    Sink->OfferedCall()->SetState(csRinging);  // offered to the user, as the host does
    ASSERT_FALSE(Server.NextOf("INVITE", "180").empty());

    AdvanceSeconds(121);
    Engine->Tick();
    const std::string cancel = Server.NextOf("CANCEL");
    ASSERT_FALSE(cancel.empty());
    EXPECT_FALSE(Server.NextOf("INVITE", "480").empty());
    ASSERT_TRUE(Sink->WaitFor("Bye", 2));
    EXPECT_EQ(outgoing->GetStatusText(), "408");
    Server.Send(Respond(cancel, "200 OK", "r5"), Port);
    Server.Send(Respond(invite, "487 Request Terminated", "r5"), Port);
    EXPECT_FALSE(Server.NextOf("ACK").empty());
    EXPECT_TRUE(WaitUntil([&] { return Engine->Calls().Count() == 0; }));
    EXPECT_EQ(Sink->Count("Bye"), 2);
}

// A registrar that grants less than asked is refreshed at half of it; when it
// falls silent the loss is reported once, retried with back-off, and the
// recovery reported.
TEST_F(EngineTransactions, RegistrationFollowsTheGrantedExpiryAndRecovers) {
    const ISipAccountPtr account = AddAccount();
    Engine->Register(account);
    std::string reg = Server.NextOf("REGISTER");
    Server.Send(Respond(reg, "200 OK", "r", "Contact: <" + account->GetContactUri() + ">;expires=30\r\n"), Port);
    ASSERT_TRUE(Sink->WaitFor("RegistrationOk"));
    AdvanceSeconds(14);
    Engine->Tick();
    EXPECT_TRUE(Server.NextOf("REGISTER", "", 200ms).empty());
    AdvanceSeconds(2);
    Engine->Tick();
    reg = Server.NextOf("REGISTER");
    ASSERT_FALSE(reg.empty());
    Server.Send(Respond(reg, "200 OK", "r", "Expires: 30\r\n"), Port);
    ASSERT_TRUE(WaitUntil([&] { return account->GetState() == asRegistered; }));
    EXPECT_EQ(Sink->Count("RegistrationOk"), 1);  // a refresh is no news

    // The registrar falls silent: copies go out, then Timer F.
    AdvanceSeconds(16);
    Engine->Tick();
    reg = Server.NextOf("REGISTER");
    ASSERT_FALSE(reg.empty());
    AdvanceTransactions(600ms);
    EXPECT_EQ(Server.NextOf("REGISTER"), reg);
    AdvanceTransactions(32000ms);
    ASSERT_TRUE(Sink->WaitFor("RegistrationBye"));
    EXPECT_EQ(account->GetRenewal().lostReason,
              "no answer from 127.0.0.1:" + std::to_string(Server.Port()));
    const std::string timedOut = reg;

    // Retries after 30 s, then 60 s; the loss is reported only once. The
    // last copies of the timed-out REGISTER may still be on their way to the
    // peer: answering one of those would answer a finished transaction.
    AdvanceSeconds(31);
    Engine->Tick();
    do {
        reg = Server.NextOf("REGISTER");
    } while (reg == timedOut);
    ASSERT_FALSE(reg.empty());
    Server.Send(Respond(reg, "503 Service Unavailable"), Port);
    ASSERT_TRUE(WaitUntil([&] { return account->GetRenewal().lostReason == "503 Service Unavailable"; }));
    AdvanceSeconds(45);
    Engine->Tick();
    EXPECT_TRUE(Server.NextOf("REGISTER", "", 200ms).empty());
    AdvanceSeconds(16);
    Engine->Tick();
    reg = Server.NextOf("REGISTER");
    ASSERT_FALSE(reg.empty());
    EXPECT_EQ(Sink->Count("RegistrationBye"), 1);
    Server.Send(Respond(reg, "200 OK", "r"), Port);
    ASSERT_TRUE(Sink->WaitFor("RegistrationOk", 2));
    EXPECT_EQ(account->GetRenewal().lostReason, "");
}

}  // namespace
}  // namespace sip_test
