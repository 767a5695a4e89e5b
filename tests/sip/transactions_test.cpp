// The transaction layer on a hand-moved clock with a recording sender.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sip/client_transactions.h"
#include "sip/message.h"
#include "sip/server_transactions.h"

namespace {

using namespace sip_transaction;
using std::chrono::milliseconds;

std::string Request(const std::string& method, const std::string& branch,
                    const std::string& cseq = "1") {
    return method + " sip:bob@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:5075;rport;branch=" +
           branch + "\r\nCall-ID: call-1\r\nCSeq: " + cseq + " " + method +
           "\r\nContent-Length: 0\r\n\r\n";
}

std::string Response(int status, const std::string& method, const std::string& branch,
                     const std::string& cseq = "1") {
    return "SIP/2.0 " + std::to_string(status) + " X\r\nVia: SIP/2.0/UDP 127.0.0.1:5075;branch=" +
           branch + "\r\nCall-ID: call-1\r\nCSeq: " + cseq + " " + method +
           "\r\nContent-Length: 0\r\n\r\n";
}

TWireFacts Received(const std::string& text) { return WireFactsOf(TSipMessage(text)); }

struct Wire {
    std::vector<std::pair<milliseconds, std::string>> sent;
    TTime start{};
    TTime now{};
    TSend Sender() {
        return [this](const std::string& text, const std::string&, uint16_t) {
            sent.emplace_back(std::chrono::duration_cast<milliseconds>(now - start), text);
        };
    }
    // Moves the clock in 50 ms steps up to `until`, polling at each step.
    template <typename Layer>
    auto RunTo(Layer& layer, milliseconds until) {
        decltype(layer.Poll(now)) ended;
        while (now - start < until) {
            now += milliseconds(50);
            for (auto& item : layer.Poll(now)) ended.push_back(item);
        }
        return ended;
    }
    std::vector<long> SendTimes() const {
        std::vector<long> times;
        for (const auto& item : sent) times.push_back(static_cast<long>(item.first.count()));
        return times;
    }
};

// What switching off still waits for: an unanswered BYE, a BYE with only a
// provisional, an INVITE that rings (its CANCEL's 487 is due); not an INVITE
// nobody answered at all, nor anything with a final answer.
TEST(ClientTransactions, AwaitedCountsWhatAFinalAnswerIsStillDueFor) {
    struct Case {
        std::string method;
        int answer;  // 0: none
        std::size_t awaited;
    };
    const Case cases[] = {
        {"BYE", 0, 1}, {"BYE", 100, 1}, {"BYE", 200, 0}, {"REGISTER", 401, 0},
        {"INVITE", 0, 0}, {"INVITE", 180, 1}, {"INVITE", 487, 0},
    };
    for (const Case& c : cases) {
        Wire wire;
        TClientTransactions client(wire.Sender());
        client.OnSent(Request(c.method, "z9hG4bKw"), {"127.0.0.1", 5060}, wire.now);
        if (c.answer) client.OnResponse(Received(Response(c.answer, c.method, "z9hG4bKw")), wire.now);
        EXPECT_EQ(client.Awaited(), c.awaited) << c.method << " " << c.answer;
    }
}

TEST(WireFacts, KeyIsBranchAndCSeqMethodWithFallbackForBranchlessPeers) {
    struct Case {
        std::string text;
        bool request;
        int status;
        std::string key;
    };
    const Case cases[] = {
        {Request("INVITE", "z9hG4bKa"), true, 0, "INVITE z9hG4bKa call-1"},
        {Response(180, "INVITE", "z9hG4bKa"), false, 180, "INVITE z9hG4bKa call-1"},
        {Request("CANCEL", "z9hG4bKa"), true, 0, "CANCEL z9hG4bKa call-1"},
        // An ACK to a failure belongs to its INVITE.
        {Request("ACK", "z9hG4bKa"), true, 0, "INVITE z9hG4bKa call-1"},
        {"BYE sip:a@b SIP/2.0\r\nVia: SIP/2.0/UDP h\r\nCall-ID: c9\r\nCSeq: 4 BYE\r\n\r\n", true, 0,
         "BYE c9/4 c9"},
        {"\r\n\r\n", false, 0, ""},
        {std::string("\x00\x01\x00\x08", 4), false, 0, ""},
    };
    for (const Case& c : cases) {
        const TWireFacts facts = WireFactsOfText(c.text);
        EXPECT_EQ(facts.request, c.request) << c.text;
        EXPECT_EQ(facts.status, c.status) << c.text;
        if (!c.key.empty()) {
            EXPECT_EQ(facts.Key(), c.key) << c.text;
            EXPECT_EQ(Received(c.text).Key(), c.key) << "parsed: " << c.text;
        } else {
            EXPECT_FALSE(facts.IsSip()) << c.text;
        }
    }
}

// Every timer's schedule: when copies go out and when the transaction gives
// up, for a request left unanswered or answered only provisionally.
TEST(ClientTransactions, RetransmissionScheduleAndTimeout) {
    struct Case {
        std::string method;
        int provisionalAtMs;  // -1: none
        std::vector<long> copiesAtMs;
        bool timesOut;
        bool reliable;  // over TCP or TLS
    };
    const Case cases[] = {
        // Timer A doubles without cap; Timer B at 32 s.
        {"INVITE", -1, {500, 1500, 3500, 7500, 15500, 31500}, true, false},
        // A provisional response stops INVITE copies and Timer B.
        {"INVITE", 1000, {500}, false, false},
        // Timer E doubles up to T2; Timer F at 32 s.
        {"REGISTER", -1, {500, 1500, 3500, 7500, 11500, 15500, 19500, 23500, 27500, 31500}, true, false},
        // After a provisional, copies go on every T2, and Timer F still ends it.
        {"BYE", 1000, {500, 5000, 9000, 13000, 17000, 21000, 25000, 29000}, true, false},
        // Over a connection no copies at all (no Timer A or E), yet Timers B
        // and F still end what is never answered.
        {"INVITE", -1, {}, true, true},
        {"REGISTER", -1, {}, true, true},
        {"BYE", 1000, {}, true, true},
    };
    for (const Case& c : cases) {
        Wire wire;
        TClientTransactions layer(wire.Sender());
        layer.OnSent(Request(c.method, "z9hG4bK1"), {"127.0.0.1", 5060, c.reliable}, wire.now);
        std::vector<TTimedOut> ended;
        if (c.provisionalAtMs >= 0) {
            ended = wire.RunTo(layer, milliseconds(c.provisionalAtMs));
            const TResponseMatch match = layer.OnResponse(Received(Response(100, c.method, "z9hG4bK1")), wire.now);
            EXPECT_EQ(match.kind, TResponseKind::kProvisional);
            EXPECT_TRUE(match.first);
        }
        for (auto& item : wire.RunTo(layer, milliseconds(40000))) ended.push_back(item);
        EXPECT_EQ(wire.SendTimes(), c.copiesAtMs) << c.method;
        ASSERT_EQ(ended.size(), c.timesOut ? 1u : 0u) << c.method;
        if (c.timesOut) {
            EXPECT_EQ(ended[0].request.method, c.method);
        }
        EXPECT_EQ(layer.Count(), c.timesOut ? 0u : 1u) << c.method;
    }
}

TEST(ClientTransactions, FinalResponseStopsCopiesAndItsRetransmissionsAreAbsorbed) {
    Wire wire;
    TClientTransactions layer(wire.Sender());
    layer.OnSent(Request("REGISTER", "z9hG4bKr"), {"127.0.0.1", 5060}, wire.now);
    wire.RunTo(layer, milliseconds(600));
    const TWireFacts challenge = Received(Response(401, "REGISTER", "z9hG4bKr"));
    EXPECT_EQ(layer.OnResponse(challenge, wire.now).kind, TResponseKind::kFinal);
    // The same 401 once more must not restart authentication.
    EXPECT_EQ(layer.OnResponse(challenge, wire.now).kind, TResponseKind::kRetransmission);
    EXPECT_EQ(layer.OnResponse(Received(Response(401, "REGISTER", "z9hG4bKother")), wire.now).kind,
              TResponseKind::kUnmatched);
    EXPECT_TRUE(wire.RunTo(layer, milliseconds(40000)).empty());
    EXPECT_EQ(wire.sent.size(), 1u);  // the one copy at 500 ms
    EXPECT_EQ(layer.Count(), 0u);
}

TEST(ClientTransactions, RetransmittedFinalAnswerToInviteGetsTheSameAckAgain) {
    struct Case {
        int status;
        std::string ackBranch;  // a failure's ACK shares the branch, a 2xx's does not
    };
    for (const Case& c : {Case{486, "z9hG4bKi"}, Case{200, "z9hG4bKack"}}) {
        Wire wire;
        TClientTransactions layer(wire.Sender());
        layer.OnSent(Request("INVITE", "z9hG4bKi", "7"), {"127.0.0.1", 5060}, wire.now);
        const TWireFacts final = Received(Response(c.status, "INVITE", "z9hG4bKi", "7"));
        EXPECT_EQ(layer.OnResponse(final, wire.now).kind, TResponseKind::kFinal);
        const std::string ack = Request("ACK", c.ackBranch, "7");
        layer.OnSent(ack, {"127.0.0.1", 5060}, wire.now);
        EXPECT_EQ(layer.OnResponse(final, wire.now).kind, TResponseKind::kRetransmission);
        ASSERT_EQ(wire.sent.size(), 1u) << c.status;
        EXPECT_EQ(wire.sent[0].second, ack);
    }
}

TEST(ClientTransactions, CancelWaitsUntilTheInviteHasAnyResponse) {
    Wire wire;
    TClientTransactions layer(wire.Sender());
    layer.OnSent(Request("INVITE", "z9hG4bKc"), {"127.0.0.1", 5060}, wire.now);
    EXPECT_TRUE(layer.AwaitsFirstResponse("z9hG4bKc", "call-1"));
    EXPECT_FALSE(layer.AwaitsFirstResponse("z9hG4bKunknown", "call-1"));
    EXPECT_FALSE(layer.AwaitsFirstResponse("z9hG4bKc", "call-2"));
    layer.OnResponse(Received(Response(100, "INVITE", "z9hG4bKc")), wire.now);
    EXPECT_FALSE(layer.AwaitsFirstResponse("z9hG4bKc", "call-1"));
    // A second provisional is not the first.
    EXPECT_FALSE(layer.OnResponse(Received(Response(180, "INVITE", "z9hG4bKc")), wire.now).first);
}

TEST(ServerTransactions, RetransmittedRequestGetsTheLastResponseNotANewTransaction) {
    Wire wire;
    TServerTransactions layer(wire.Sender());
    const TWireFacts invite = Received(Request("INVITE", "z9hG4bKin"));
    EXPECT_EQ(layer.OnRequest(invite, wire.now), TRequestKind::kNew);
    // A copy before any answer is absorbed in silence.
    EXPECT_EQ(layer.OnRequest(invite, wire.now), TRequestKind::kRetransmission);
    EXPECT_TRUE(wire.sent.empty());
    layer.OnSent(Response(180, "INVITE", "z9hG4bKin"), {"127.0.0.1", 5070}, wire.now);
    EXPECT_EQ(layer.OnRequest(invite, wire.now), TRequestKind::kRetransmission);
    ASSERT_EQ(wire.sent.size(), 1u);
    EXPECT_EQ(wire.sent.back().second, Response(180, "INVITE", "z9hG4bKin"));

    const TWireFacts bye = Received(Request("BYE", "z9hG4bKbye", "2"));
    EXPECT_EQ(layer.OnRequest(bye, wire.now), TRequestKind::kNew);
    layer.OnSent(Response(200, "BYE", "z9hG4bKbye", "2"), {"127.0.0.1", 5070}, wire.now);
    EXPECT_EQ(layer.OnRequest(bye, wire.now), TRequestKind::kRetransmission);
    EXPECT_EQ(wire.sent.back().second, Response(200, "BYE", "z9hG4bKbye", "2"));
    // Non-INVITE finals are not resent by themselves, and the entry goes
    // after 64*T1.
    const std::size_t before = wire.sent.size();
    wire.RunTo(layer, milliseconds(33000));
    EXPECT_EQ(wire.sent.size(), before);
    EXPECT_EQ(layer.Count(), 1u);  // the INVITE still waits for its answer
}

// 2xx and failures to INVITE are resent until the ACK; a 2xx never
// acknowledged is reported so the call can be ended with BYE.
TEST(ServerTransactions, InviteFinalResponseResentUntilAck) {
    struct Case {
        int status;
        std::string ackBranch;
        int ackAtMs;  // -1: never
        std::vector<long> copiesAtMs;
        bool reported;
        bool reliable;  // over TCP or TLS
    };
    const Case cases[] = {
        {200, "z9hG4bKack", 2000, {500, 1500}, false, false},
        {200, "", -1, {500, 1500, 3500, 7500, 11500, 15500, 19500, 23500, 27500, 31500}, true, false},
        {486, "z9hG4bKin", 600, {500}, false, false},
        // Over a connection a failure is not resent (no Timer G); a 2xx is,
        // end to end, until its ACK (RFC 3261 13.3.1.4).
        {486, "", -1, {}, false, true},
        {200, "z9hG4bKack", 2000, {500, 1500}, false, true},
    };
    for (const Case& c : cases) {
        Wire wire;
        TServerTransactions layer(wire.Sender());
        layer.OnRequest(Received(Request("INVITE", "z9hG4bKin", "5")), wire.now);
        layer.OnSent(Response(c.status, "INVITE", "z9hG4bKin", "5"), {"127.0.0.1", 5070, c.reliable}, wire.now);
        std::vector<TUnacknowledged> reported;
        if (c.ackAtMs >= 0) {
            reported = wire.RunTo(layer, milliseconds(c.ackAtMs));
            EXPECT_TRUE(layer.OnAck(Received(Request("ACK", c.ackBranch, "5"))));
            EXPECT_FALSE(layer.OnAck(Received(Request("ACK", c.ackBranch, "5"))));  // a copy
        }
        for (auto& item : wire.RunTo(layer, milliseconds(40000))) reported.push_back(item);
        EXPECT_EQ(wire.SendTimes(), c.copiesAtMs) << c.status;
        ASSERT_EQ(reported.size(), c.reported ? 1u : 0u) << c.status;
        if (c.reported) {
            EXPECT_EQ(reported[0].callId, "call-1");
            EXPECT_EQ(reported[0].status, 200);
        }
        EXPECT_EQ(layer.Count(), 0u);
    }
}

TEST(ServerTransactions, AckOfAnotherInviteStopsNothing) {
    Wire wire;
    TServerTransactions layer(wire.Sender());
    layer.OnRequest(Received(Request("INVITE", "z9hG4bKin", "5")), wire.now);
    layer.OnSent(Response(200, "INVITE", "z9hG4bKin", "5"), {"127.0.0.1", 5070}, wire.now);
    EXPECT_FALSE(layer.OnAck(Received(Request("ACK", "z9hG4bKx", "4"))));
    wire.RunTo(layer, milliseconds(1000));
    EXPECT_EQ(wire.sent.size(), 1u);
}

// A flood of requests never answered or answered once (BYEs for dialogs
// nobody has) holds a bounded table; finished transactions make room
// before a call that still waits for its answer, whose copy keeps being
// recognised.
TEST(ServerTransactions, TableIsBoundedAndDropsFinishedOnesFirst) {
    Wire wire;
    TServerTransactions layer(wire.Sender());
    const TDestination peer{"127.0.0.1", 5075};
    const std::string ringing = Request("INVITE", "z9hG4bKcall");
    ASSERT_EQ(layer.OnRequest(Received(ringing), wire.now), TRequestKind::kNew);
    for (int i = 0; i < 3000; ++i) {
        const std::string bye = Request("BYE", "z9hG4bKflood" + std::to_string(i));
        ASSERT_EQ(layer.OnRequest(Received(bye), wire.now), TRequestKind::kNew);
        layer.OnSent(Response(481, "BYE", "z9hG4bKflood" + std::to_string(i)), peer, wire.now);
    }
    EXPECT_LE(layer.Count(), kMaxServerTransactions);
    EXPECT_EQ(layer.OnRequest(Received(ringing), wire.now), TRequestKind::kRetransmission);
    // The newest finished ones are still there to absorb their copies.
    EXPECT_EQ(layer.OnRequest(Received(Request("BYE", "z9hG4bKflood2999")), wire.now),
              TRequestKind::kRetransmission);
}

// An INVITE answered only with a provisional response has no Timer B, but
// it does not stay for ever; going, it reports no timeout (the call's own
// set-up limit ended the call long before).
TEST(ClientTransactions, InviteLeftRingingIsForgottenWithoutATimeout) {
    Wire wire;
    TClientTransactions layer(wire.Sender());
    const std::string invite = Request("INVITE", "z9hG4bKring");
    layer.OnSent(invite, {"127.0.0.1", 5060}, wire.now);
    layer.OnResponse(Received(Response(180, "INVITE", "z9hG4bKring")), wire.now);
    const auto ended = wire.RunTo(layer, milliseconds(181000));
    EXPECT_TRUE(ended.empty());
    EXPECT_EQ(layer.Count(), 0u);
}

}  // namespace
