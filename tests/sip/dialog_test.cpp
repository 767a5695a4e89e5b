// The dialog's transitions, each step as a real peer's message would drive
// it, and what composers and routing then read from it.
#include "sip/dialog.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "sip/message.h"

namespace {

const std::string kCallId = "c0ffee@192.0.2.20";
const std::string kLocalUri = "sip:1001@sip.telvira.example";
const std::string kRemoteUri = "sip:2001@sip.telvira.example";
// linphone's registration: a GRUU with transport and outbound parameters.
const std::string kGruuContact =
    "sip:2001@198.51.100.7:5062;transport=udp;gr=urn:uuid:5b7c3a2e-0d1f-4e2a-9c44-2e8f3b6d1a10;ob";

// An answer to our INVITE from the fork tagged `tag`.
std::string Answer(const std::string& status, const std::string& tag, const std::string& contact,
                   const std::string& recordRoutes = "") {
    std::string text = "SIP/2.0 " + status + "\r\nVia: SIP/2.0/UDP 192.0.2.20:5060;branch=z9hG4bKa\r\n" +
                       recordRoutes + "From: <" + kLocalUri + ">;tag=local1\r\nTo: <" + kRemoteUri + ">";
    if (!tag.empty()) text += ";tag=" + tag;
    text += "\r\nCall-ID: " + kCallId + "\r\nCSeq: 5 INVITE\r\n";
    if (!contact.empty()) text += "Contact: <" + contact + ">\r\n";
    return text + "Content-Length: 0\r\n\r\n";
}

// A request from the far end inside the dialog.
std::string Request(const std::string& method, const std::string& cseq, const std::string& contact,
                    const std::string& recordRoutes = "") {
    std::string text = method + " sip:1001@192.0.2.20 SIP/2.0\r\nVia: SIP/2.0/UDP 198.51.100.7;branch=z9hG4bKr\r\n" +
                       recordRoutes + "From: <" + kRemoteUri + ">;tag=far1\r\nTo: <" + kLocalUri +
                       ">;tag=local1\r\nCall-ID: " + kCallId + "\r\nCSeq: " + cseq + " " + method + "\r\n";
    if (!contact.empty()) text += "Contact: <" + contact + ">\r\n";
    return text + "Content-Length: 0\r\n\r\n";
}

const std::string kTwoProxies = "Record-Route: <sip:10.0.0.1;lr>, <sip:10.0.0.2;lr>\r\n";
const std::string kOneProxy = "Record-Route: <sip:10.0.0.9;lr>\r\n";

enum class TStep { kAnswer, kChallenge, kConfirm, kRequest, kTerminate };

struct TTransitionRow {
    const char* name;
    bool incoming;
    std::vector<std::pair<TStep, std::string>> steps;
    TDialogState state;
    bool established;
    std::string remoteTag;
    std::string remoteTarget;
    std::string routeLines;
};

class DialogTransitions : public ::testing::TestWithParam<TTransitionRow> {};

TEST_P(DialogTransitions, EndsAsTheRowSays) {
    const TTransitionRow& row = GetParam();
    TDialog dialog(kCallId, "local1");
    if (row.incoming) {
        dialog.StartIncoming(TSipMessage(Request("INVITE", "1234567890", "sip:2001@198.51.100.7", kTwoProxies)), 7);
    } else {
        dialog.StartOutgoing(kLocalUri, kRemoteUri, 5);
    }
    for (const auto& [step, text] : row.steps) {
        switch (step) {
        case TStep::kAnswer: dialog.TakeAnswer(TSipMessage(text)); break;
        case TStep::kChallenge: dialog.ForgetEarly(); break;
        case TStep::kConfirm: dialog.Confirm(); break;
        case TStep::kRequest: dialog.TakeRequest(TSipMessage(text)); break;
        case TStep::kTerminate: dialog.Terminate(); break;
        }
    }
    EXPECT_EQ(DialogStateName(dialog.State()), std::string(DialogStateName(row.state)));
    EXPECT_EQ(dialog.Established(), row.established);
    EXPECT_EQ(dialog.RemoteTag(), row.remoteTag);
    EXPECT_EQ(dialog.RemoteTarget(), row.remoteTarget);
    EXPECT_EQ(dialog.RouteLines(), row.routeLines);
}

const std::string kRoutesBackwards = "Route: <sip:10.0.0.2;lr>\r\nRoute: <sip:10.0.0.1;lr>\r\n";
const std::string kRoutesForwards = "Route: <sip:10.0.0.1;lr>\r\nRoute: <sip:10.0.0.2;lr>\r\n";

INSTANTIATE_TEST_SUITE_P(
    Rows, DialogTransitions,
    ::testing::Values(
        TTransitionRow{"NothingYet", false, {}, TDialogState::kNone, false, "", kRemoteUri, ""},
        TTransitionRow{"TryingMakesNoDialog", false,
                       {{TStep::kAnswer, Answer("100 Trying", "", "")}},
                       TDialogState::kNone, false, "", kRemoteUri, ""},
        // The caller's route set is the Record-Route list backwards.
        TTransitionRow{"RingingMakesItEarly", false,
                       {{TStep::kAnswer, Answer("180 Ringing", "a", "sip:2001@198.51.100.7", kTwoProxies)}},
                       TDialogState::kEarly, false, "a", "sip:2001@198.51.100.7", kRoutesBackwards},
        // Another fork rang, this one answered: the 2xx's tag, Contact and routes.
        TTransitionRow{"OkFromAnotherForkConfirmsThatFork", false,
                       {{TStep::kAnswer, Answer("180 Ringing", "a", "sip:2001@198.51.100.7", kTwoProxies)},
                        {TStep::kAnswer, Answer("200 OK", "b", kGruuContact, kOneProxy)}},
                       TDialogState::kConfirmed, true, "b", kGruuContact, "Route: <sip:10.0.0.9;lr>\r\n"},
        TTransitionRow{"OkWithoutRecordRouteLeavesNoRoutes", false,
                       {{TStep::kAnswer, Answer("183 Session Progress", "a", "", kTwoProxies)},
                        {TStep::kAnswer, Answer("200 OK", "a", kGruuContact)}},
                       TDialogState::kConfirmed, true, "a", kGruuContact, ""},
        TTransitionRow{"LateProvisionalChangesNothing", false,
                       {{TStep::kAnswer, Answer("200 OK", "a", kGruuContact, kTwoProxies)},
                        {TStep::kAnswer, Answer("180 Ringing", "c", "sip:other@10.9.9.9", kOneProxy)}},
                       TDialogState::kConfirmed, true, "a", kGruuContact, kRoutesBackwards},
        // A second fork's 2xx is that fork's dialog, to be ended apart.
        TTransitionRow{"SecondForkOkLeavesTheConfirmedDialog", false,
                       {{TStep::kAnswer, Answer("200 OK", "a", kGruuContact, kTwoProxies)},
                        {TStep::kAnswer, Answer("200 OK", "b", "sip:2001@10.9.9.9", kOneProxy)}},
                       TDialogState::kConfirmed, true, "a", kGruuContact, kRoutesBackwards},
        // The answer to our re-INVITE refreshes the target, never the routes.
        TTransitionRow{"ReInviteAnswerRefreshesTheTarget", false,
                       {{TStep::kAnswer, Answer("200 OK", "a", "sip:2001@198.51.100.7", kTwoProxies)},
                        {TStep::kAnswer, Answer("200 OK", "a", kGruuContact, kOneProxy)}},
                       TDialogState::kConfirmed, true, "a", kGruuContact, kRoutesBackwards},
        // The INVITE sent again with credentials is a new request: what rang
        // before it is no dialog of it.
        TTransitionRow{"ChallengeForgetsTheEarlyDialog", false,
                       {{TStep::kAnswer, Answer("183 Session Progress", "a", "sip:2001@198.51.100.7", kTwoProxies)},
                        {TStep::kChallenge, ""}},
                       TDialogState::kNone, false, "", kRemoteUri, ""},
        TTransitionRow{"ChallengeInsideTheDialogChangesNothing", false,
                       {{TStep::kAnswer, Answer("200 OK", "a", kGruuContact)}, {TStep::kChallenge, ""}},
                       TDialogState::kConfirmed, true, "a", kGruuContact, ""},
        // A 2xx that crossed our CANCEL: the dialog its BYE must end.
        TTransitionRow{"OkAfterTerminationStillNamesTheDialog", false,
                       {{TStep::kAnswer, Answer("180 Ringing", "a", "")},
                        {TStep::kTerminate, ""},
                        {TStep::kAnswer, Answer("200 OK", "b", kGruuContact)}},
                       TDialogState::kTerminated, true, "b", kGruuContact, ""},
        TTransitionRow{"FailureAfterTerminationChangesNothing", false,
                       {{TStep::kAnswer, Answer("180 Ringing", "a", "")},
                        {TStep::kTerminate, ""},
                        {TStep::kAnswer, Answer("487 Request Terminated", "a", "")}},
                       TDialogState::kTerminated, false, "a", kRemoteUri, ""},
        // The callee's route set keeps the Record-Route order.
        TTransitionRow{"IncomingIsEarlyUntilAnswered", true, {},
                       TDialogState::kEarly, false, "far1", "sip:2001@198.51.100.7", kRoutesForwards},
        TTransitionRow{"IncomingConfirmedByOurOk", true, {{TStep::kConfirm, ""}},
                       TDialogState::kConfirmed, true, "far1", "sip:2001@198.51.100.7", kRoutesForwards},
        TTransitionRow{"ReInviteRefreshesTargetNotRoutes", true,
                       {{TStep::kConfirm, ""},
                        {TStep::kRequest, Request("INVITE", "1234567891", kGruuContact, kOneProxy)}},
                       TDialogState::kConfirmed, true, "far1", kGruuContact, kRoutesForwards},
        // Only a target refresh request moves the target.
        TTransitionRow{"NotifyContactIsNoTargetRefresh", true,
                       {{TStep::kConfirm, ""},
                        {TStep::kRequest, Request("NOTIFY", "1234567891", "sip:elsewhere@10.9.9.9")}},
                       TDialogState::kConfirmed, true, "far1", "sip:2001@198.51.100.7", kRoutesForwards},
        TTransitionRow{"ConfirmAfterCancelIsTooLate", true,
                       {{TStep::kTerminate, ""}, {TStep::kConfirm, ""}},
                       TDialogState::kTerminated, false, "far1", "sip:2001@198.51.100.7", kRoutesForwards}),
    [](const ::testing::TestParamInfo<TTransitionRow>& info) { return std::string(info.param.name); });

TEST(Dialog, IncomingTakesBothSidesFromTheInvite) {
    TDialog dialog(kCallId, "local1");
    const TSipMessage invite(Request("INVITE", "1234567890", kGruuContact, kTwoProxies));
    dialog.StartIncoming(invite, 7);
    EXPECT_EQ(dialog.LocalUri(), kLocalUri);
    EXPECT_EQ(dialog.RemoteUri(), kRemoteUri);
    EXPECT_EQ(dialog.RemoteCSeq(), 1234567890u);
    EXPECT_EQ(dialog.LocalCSeq(), 7u);
    // Our answers repeat the Record-Route lines as the INVITE listed them.
    EXPECT_EQ(dialog.RecordRouteLines(), invite.RecordRouteHeaders);
    EXPECT_EQ(dialog.FirstRoute(), "<sip:10.0.0.1;lr>");
}

// Which incoming INVITEs make a dialog whose Contact must be sips: the
// Request-URI, else the first Record-Route, else the Contact decides.
TEST(Dialog, IncomingDialogIsSecureAsItsInviteSays) {
    const struct {
        const char* name;
        std::string invite;
        bool secure;
    } rows[] = {
        {"plain", Request("INVITE", "1", "sip:2001@198.51.100.7"), false},
        {"sips request uri",
         "INVITE sips:1001@192.0.2.20 SIP/2.0\r\nFrom: <sip:2001@x>;tag=far1\r\nCall-ID: c\r\n"
         "CSeq: 1 INVITE\r\nContact: <sip:2001@198.51.100.7>\r\n\r\n",
         true},
        {"sips first record-route",
         Request("INVITE", "1", "sip:2001@198.51.100.7",
                 "Record-Route: <sips:10.0.0.1;lr>\r\nRecord-Route: <sip:10.0.0.2;lr>\r\n"),
         true},
        {"sips contact, plain record-route",
         Request("INVITE", "1", "sips:2001@198.51.100.7", "Record-Route: <sip:10.0.0.1;lr>\r\n"), false},
        {"sips contact, no record-route", Request("INVITE", "1", "sips:2001@198.51.100.7"), true},
    };
    for (const auto& row : rows) {
        TDialog dialog(kCallId, "local1");
        dialog.StartIncoming(TSipMessage(row.invite), 7);
        EXPECT_EQ(dialog.Secure(), row.secure) << row.name;
    }
    TDialog outgoing(kCallId, "local1");
    outgoing.StartOutgoing(kLocalUri, "sips:2001@sip.telvira.example", 5);
    EXPECT_TRUE(outgoing.Secure());
}

TEST(Dialog, OutgoingRecordRouteLinesAreTheAnswersOrder) {
    TDialog dialog(kCallId, "local1");
    dialog.StartOutgoing(kLocalUri, kRemoteUri, 5);
    const TSipMessage ringing(Answer("180 Ringing", "a", "", kTwoProxies + kOneProxy));
    dialog.TakeAnswer(ringing);
    EXPECT_EQ(dialog.RecordRouteLines(), ringing.RecordRouteHeaders);
    EXPECT_EQ(dialog.FirstRoute(), "<sip:10.0.0.9;lr>");
}

// Ten-digit CSeq numbers are ordinary (RFC 3261 allows anything below 2^31).
TEST(Dialog, CSeqParsesUpToThirtyOneBits) {
    const std::vector<std::pair<std::string, std::optional<uint32_t>>> rows = {
        {"0", 0u},          {"1", 1u},           {"1234567890", 1234567890u},
        {"2147483647", 2147483647u}, {"2147483648", std::nullopt}, {"4294967296", std::nullopt},
        {"", std::nullopt}, {"12a", std::nullopt}, {"-1", std::nullopt}, {"00000000001", std::nullopt},
    };
    for (const auto& [text, expected] : rows) EXPECT_EQ(ParseCSeq(text), expected) << text;
}

TEST(Dialog, LocalCSeqStopsAtTheLargestValue) {
    TDialog dialog(kCallId, "local1");
    dialog.StartOutgoing(kLocalUri, kRemoteUri, TDialog::kMaxCSeq - 1);
    EXPECT_EQ(dialog.NextLocalCSeq(), TDialog::kMaxCSeq);
    EXPECT_THROW(dialog.NextLocalCSeq(), std::overflow_error);
    EXPECT_EQ(dialog.LocalCSeq(), TDialog::kMaxCSeq);
}

TEST(Dialog, OrderedRequestsMoveTheRemoteCSeq) {
    TDialog dialog(kCallId, "local1");
    dialog.StartOutgoing(kLocalUri, kRemoteUri, 5);
    EXPECT_FALSE(dialog.RemoteCSeq().has_value());
    dialog.TakeAnswer(TSipMessage(Answer("200 OK", "far1", kGruuContact)));
    dialog.TakeRequest(TSipMessage(Request("INFO", "2000000000", "")));
    EXPECT_EQ(dialog.RemoteCSeq(), 2000000000u);
}

// Requests name the dialog by Call-ID and both tags, seen from the far end.
TEST(Dialog, NamesOnlyItsOwnRequests) {
    TDialog dialog(kCallId, "local1");
    dialog.StartOutgoing(kLocalUri, kRemoteUri, 5);
    const std::string bye = Request("BYE", "9", "");
    EXPECT_FALSE(dialog.Names(TSipMessage(bye))) << "no remote tag yet";
    dialog.TakeAnswer(TSipMessage(Answer("200 OK", "far1", kGruuContact)));
    struct TRow {
        std::string from, to;
        bool named;
    };
    const std::vector<TRow> rows = {
        {";tag=far1", ";tag=local1", true},
        {";tag=far2", ";tag=local1", false},
        {";tag=far1", ";tag=local2", false},
        {";tag=far1", "", false},
        {"", ";tag=local1", false},
    };
    for (const TRow& row : rows) {
        std::string text = bye;
        text.replace(text.find(";tag=far1"), 9, row.from);
        text.replace(text.find(";tag=local1"), 11, row.to);
        EXPECT_EQ(dialog.Names(TSipMessage(text)), row.named) << row.from << " " << row.to;
    }
    std::string otherCall = bye;
    otherCall.replace(otherCall.find(kCallId), kCallId.size(), "other@192.0.2.20");
    EXPECT_FALSE(dialog.Names(TSipMessage(otherCall)));
}

TEST(Dialog, EachOtherForkIsEndedOnce) {
    TDialog dialog(kCallId, "local1");
    EXPECT_TRUE(dialog.NoteOtherFork("b"));
    EXPECT_FALSE(dialog.NoteOtherFork("b"));
    EXPECT_TRUE(dialog.NoteOtherFork("c"));
}

}  // namespace
