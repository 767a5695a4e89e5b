#include "engine/invite_event.h"

namespace {

TInviteEvent ClassifyWithoutCall(const TInviteFacts& facts) {
    if (facts.request) return facts.toTag ? TInviteEvent::kNoDialog : TInviteEvent::kNewCall;
    return IsFinalFailure(facts.status) ? TInviteEvent::kUnknownCallFailure : TInviteEvent::kIgnore;
}

// Requests on a listed call: a copy of the INVITE that made it (no To tag;
// a re-INVITE has passed the dialog checks), or a re-INVITE, which only a
// call that is up takes; any other is refused, never left unanswered.
TInviteEvent ClassifyRequest(const TInviteFacts& facts) {
    if (!facts.toTag) return TInviteEvent::kRepeatedInvite;
    const bool up = facts.state == csConnected || facts.state == csHolding;
    return up ? TInviteEvent::kReInvite : TInviteEvent::kRefusedReInvite;
}

bool IsChallenge(std::string_view status) {
    return status == "401" || status == "403" || status == "407";
}

}  // namespace

TInviteEvent ClassifyInvite(const TInviteFacts& facts) {
    if (!facts.callKnown) return ClassifyWithoutCall(facts);
    if (facts.request) return ClassifyRequest(facts);
    if (facts.cancelled || facts.state == csIdle) return TInviteEvent::kEndedCallResponse;
    const bool setUp = InSetUp(facts.state);
    if (!setUp && facts.state != csConnected && facts.state != csHolding) return TInviteEvent::kIgnore;

    const std::string_view status = facts.status;
    if (IsChallenge(status)) return TInviteEvent::kChallenge;
    if (status == "100") {
        const bool unanswered = facts.state == csCalling || facts.state == csAuthenticating;
        return unanswered ? TInviteEvent::kTrying : TInviteEvent::kIgnore;
    }
    if (status == "180" || status == "183") return setUp ? TInviteEvent::kProgress : TInviteEvent::kIgnore;
    if (status.starts_with('2')) {
        if (!facts.established) return TInviteEvent::kFirstOk;
        // Our INVITE forked and a second callee answered (RFC 3261 13.2.2.4).
        if (!facts.incoming && facts.otherTag) return TInviteEvent::kForkOk;
        return TInviteEvent::kOkAgain;
    }
    return IsFinalFailure(status) ? TInviteEvent::kFailure : TInviteEvent::kIgnore;
}

bool IsFinalFailure(std::string_view status) {
    if (status.size() != 3) return false;
    const char first = status[0];
    return first < '0' || first > '9' || first > '2';
}

bool InSetUp(TCallState state) {
    return state == csCalling || state == csAuthenticating || state == csRinging;
}
