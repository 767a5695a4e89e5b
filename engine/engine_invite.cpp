// The INVITE state machine of a call: every received INVITE or response to
// one is classified once (ClassifyInvite) and handed to exactly one step.
// The steps are in engine_invite_requests.cpp and engine_invite_responses.cpp.
//
// Locks, in the engine's order (dispatch, then the call list, then one call,
// then the leaf locks of the call notes, codecs and ports, then the
// transaction layer, then the socket):
// - The call list is locked only inside the look-up (FindCall) and the
//   adding of a new call, never around a step, a send, a call's lock or a
//   word to the host.
// - A step holds the call's lock once, from the classification to its end,
//   so the state it acts on is the state it was classified in; it sends
//   under that lock (the transaction layer and the socket come after it).
// - What follows a step (telling the host, letting the call go, which takes
//   the list lock) runs once the call's lock is released.
#include "engine/engine.h"
#include "sip/compose.h"
#include "sip/message.h"
#include "sip/text.h"
#include "sip/transaction_key.h"

namespace {

TInviteFacts FactsWithoutCall(const TSipMessage& message, bool request) {
    TInviteFacts facts;
    facts.request = request;
    facts.toTag = !message.ToTag.empty();
    facts.status = message.StatusCode;
    return facts;
}

}  // namespace

void TSipEngine::OnInvite(const TSipMessage& message) {
    const ISipCallPtr call = FindCall(message.CallId);
    if (!call) return OnInviteWithoutCall(message);
    TAfterStep after = TAfterStep::kNothing;
    {
        std::lock_guard<ISipCall> guard(*call);
        TInviteFacts facts = FactsWithoutCall(message, IsRequest(message));
        facts.callKnown = true;
        facts.state = call->GetState();
        facts.cancelled = IsCancelled(*call);
        facts.established = IsEstablished(*call);
        facts.incoming = call->GetIncoming();
        facts.otherTag = !message.ToTag.empty() && message.ToTag != call->Dialog().RemoteTag();
        after = TakeInviteStep(*call, ClassifyInvite(facts), message);
    }
    FinishInviteStep(call, after);
}

void TSipEngine::OnInviteWithoutCall(const TSipMessage& message) {
    switch (ClassifyInvite(FactsWithoutCall(message, IsRequest(message)))) {
    case TInviteEvent::kNewCall:
        if (const ISipCallPtr call = OnIncomingInvite(message)) FinishInviteStep(call, TAfterStep::kOffer);
        return;
    case TInviteEvent::kNoDialog: {
        const ISipAccountPtr account = FindAccountFor(message.ToUser, message.RequestUser);
        AnswerNoDialog(message, account.get());
        return;
    }
    case TInviteEvent::kUnknownCallFailure: {
        // A call already let go (ended by the set-up limit or the host): its
        // failure is acknowledged all the same, or the far end sends it
        // again for 32 s. The INVITE is known while its transaction lasts;
        // after Timer B it is not, and the ACK is built from the failure
        // alone, to the account's server, where a call's first INVITE goes.
        const ISipAccountPtr account = FindAccountFor(message.FromUser, message.ToUser);
        AcknowledgeFailure(message, account.get());
        return;
    }
    default:
        return;
    }
}

TSipEngine::TAfterStep TSipEngine::TakeInviteStep(ISipCall& call, TInviteEvent event,
                                                  const TSipMessage& message) {
    const bool response = !IsRequest(message);
    if (response && IsFinalFailure(message.StatusCode)) {
        const ISipAccountPtr account = call.GetAccount();
        AcknowledgeFailure(message, account.get());
    }
    // The host reads the status of the last answer the call's INVITE had.
    const TCallState state = call.GetState();
    if (response && event != TInviteEvent::kEndedCallResponse &&
        (InSetUp(state) || state == csConnected || state == csHolding))
        call.SetStatusCode(sip_text::NumberOr(message.StatusCode, 0));

    switch (event) {
    case TInviteEvent::kReInvite:
        return OnReInvite(call, message);
    case TInviteEvent::kRefusedReInvite:
        RefuseReInvite(call, message);
        return TAfterStep::kNothing;
    case TInviteEvent::kEndedCallResponse:
        return OnEndedCallResponse(call, message);
    case TInviteEvent::kTrying:
        call.SetViaHeaders(message.ViaHeaders);
        return TAfterStep::kNothing;
    case TInviteEvent::kProgress:
        return OnInviteProgress(call, message);
    case TInviteEvent::kFirstOk:
        return OnInviteOk(call, message, true);
    case TInviteEvent::kOkAgain:
        return OnInviteOk(call, message, false);
    case TInviteEvent::kForkOk:
        return OnForkOk(call, message);
    case TInviteEvent::kChallenge:
        return OnInviteChallenge(call, message);
    case TInviteEvent::kFailure:
        return OnInviteFailure(call, message);
    case TInviteEvent::kRepeatedInvite:  // its answer covers it already
    case TInviteEvent::kIgnore:
    case TInviteEvent::kNewCall:  // events of messages on no call
    case TInviteEvent::kNoDialog:
    case TInviteEvent::kUnknownCallFailure:
        return TAfterStep::kNothing;
    }
    return TAfterStep::kNothing;
}

void TSipEngine::FinishInviteStep(const ISipCallPtr& call, TAfterStep after) {
    switch (after) {
    case TAfterStep::kNothing:
        return;
    case TAfterStep::kOffer:
        if (!Sink_.Notify([&](ISipEventHandler& sink) { sink.Invite(call); })) Reject(call);
        return;
    case TAfterStep::kRingback:
        Sink_.Notify([&](ISipEventHandler& sink) { sink.Ringback(call); });
        call->GetRingingEvent()->Pulse();
        return;
    case TAfterStep::kAnswered:
    case TAfterStep::kReanswered:
        Sink_.Notify([&](ISipEventHandler& sink) { sink.InviteOk(call); });
        if (after == TAfterStep::kAnswered) ReportTransfer(call, 200);
        call->GetAnsweredEvent()->Set();
        return;
    case TAfterStep::kEndCall:
        EndCall(call);
        return;
    }
}

void TSipEngine::AcknowledgeFailure(const TSipMessage& response, ISipAccount* account) {
    if (const auto invite = Client_.SentRequest(WireFactsOf(response))) {
        // Where the INVITE went, as its transaction's own.
        SendText(ComposeAckForFailure(invite->text, response), invite->destination.address,
                 invite->destination.port);
        return;
    }
    if (account) SendToAccount(*account, ComposeAck(response));
}
