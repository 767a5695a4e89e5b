// REFER both ways (RFC 3515): the answer to the agent's REFER of a call, and
// a REFER of the far end, which the agent carries out by calling the target
// only when the host consents.
#include "engine/engine.h"
#include "sip/compose.h"
#include "sip/dialog_parts.h"
#include "sip/message.h"
#include "sip/text.h"

namespace {

using sip_text::NumberOr;

}  // namespace

// The answer to our REFER: 202 means the outcome comes by NOTIFY; a
// challenge is answered once; any other refusal gives the call back.
void TSipEngine::OnRefer(const TSipMessage& message) {
    const ISipCallPtr call = FindCall(message.CallId);
    if (!call) return;
    const int status = NumberOr(message.StatusCode, 0);
    if (status < 300) return;
    {
        std::lock_guard<ISipCall> guard(*call);
        const TCallState state = call->GetState();
        if (state != csTransferring && state != csTransferAuth) return;
        const bool challenge =
            status == 401 || status == 407 || (status == 403 && !message.Nonce.empty());
        if (challenge && state == csTransferring) {
            TakeChallenge(*call, message);
            call->SetState(csTransferAuth);
            RequireActive();
            call->Dialog().NextLocalCSeq();
            SendCallText(*call, ComposeReferWithCredentials(*call));
            return;
        }
        call->SetState(csConnected);
    }
    Sink_.Notify([&](ISipEventHandler& sink) { sink.TransferStatus(call, status); });
}

// A REFER of the far end (RFC 3515): the host is asked, and the REFER waits
// for its word (AcceptTransfer, RefuseTransfer) unanswered; its
// retransmissions are taken by its server transaction meanwhile.
void TSipEngine::OnReferRequest(const TSipMessage& message) {
    const ISipCallPtr call = FindCall(message.CallId);
    if (!call) return AnswerNoDialog(message);
    call->Dialog().TakeRequest(message);
    const std::string target = DialableTarget(ReferToUri(message.RawText));
    if (target.empty()) {
        SendToVia(message, nullptr, ComposeResponse(message, "400 Bad Request"));
        return;
    }
    const TCallState state = call->GetState();
    if ((state != csConnected && state != csHolding) || !Active_) {
        SendToVia(message, nullptr, ComposeResponse(message, "603 Decline"));
        return;
    }
    {
        std::lock_guard<std::mutex> notes(CallNotesLock_);
        // One transfer at a time: the first is still being decided.
        if (TransferRequests_.count(call.get()) != 0 || TransferredAway_.count(call.get()) != 0) {
            SendToVia(message, nullptr, ComposeResponse(message, "491 Request Pending"));
            return;
        }
        TransferRequests_[call.get()] =
            TTransferRequest{call, std::make_shared<const TSipMessage>(message), target, Now()};
    }
    if (!Sink_.Notify([&](ISipEventHandler& sink) { sink.TransferRequest(call, target); }))
        RefuseTransfer(call);
}

std::optional<TSipEngine::TTransferRequest> TSipEngine::TakeTransferRequest(const ISipCall& call) {
    std::lock_guard<std::mutex> notes(CallNotesLock_);
    const auto found = TransferRequests_.find(&call);
    if (found == TransferRequests_.end()) return std::nullopt;
    TTransferRequest request = std::move(found->second);
    TransferRequests_.erase(found);
    return request;
}

void TSipEngine::AcceptTransfer(ISipCallPtr call) {
    std::lock_guard<std::recursive_mutex> dispatch(DispatchLock_);
    if (const std::optional<TTransferRequest> request = TakeTransferRequest(*call))
        CarryOutTransfer(*request);
}

void TSipEngine::RefuseTransfer(ISipCallPtr call) {
    std::lock_guard<std::recursive_mutex> dispatch(DispatchLock_);
    if (const std::optional<TTransferRequest> request = TakeTransferRequest(*call))
        SendToVia(*request->refer, nullptr, ComposeResponse(*request->refer, "603 Decline"));
}

// Accepted with 202, reported with a first NOTIFY at once, then carried out
// by calling the target; the placed call reports its outcome
// (ReportTransfer).
void TSipEngine::CarryOutTransfer(const TTransferRequest& request) {
    const ISipCallPtr& call = request.call;
    const TSipMessage& refer = *request.refer;
    const TCallState state = call->GetState();
    if ((state != csConnected && state != csHolding) || !Active_) {
        SendToVia(refer, nullptr, ComposeResponse(refer, "603 Decline"));
        return;
    }
    SendToVia(refer, nullptr, ComposeResponse(refer, "202 Accepted"));
    {
        std::lock_guard<ISipCall> guard(*call);
        call->SetBranch(NewBranch());
        call->Dialog().NextLocalCSeq();
        SendCallText(*call, ComposeReferNotify(*call, "SIP/2.0 100 Trying", false));
    }
    ISipCallPtr placed;
    try {
        placed = MakeCall(call->GetAccount(), request.target, call->GetMicrophoneDevice(),
                          call->GetSpeakerDevice());
    } catch (const std::exception&) {
        std::lock_guard<ISipCall> guard(*call);
        call->SetBranch(NewBranch());
        call->Dialog().NextLocalCSeq();
        SendCallText(*call, ComposeReferNotify(*call, "SIP/2.0 503 Service Unavailable", true));
        return;
    }
    std::lock_guard<std::mutex> notes(CallNotesLock_);
    TransferOrigins_[placed.get()] = call;
}

void TSipEngine::TickTransfers() {
    const double now = Now();
    std::vector<ISipCallPtr> undecided;
    std::vector<ISipCallPtr> abandoned;
    {
        std::lock_guard<TSipCalls> list(Calls_);
        std::lock_guard<std::mutex> notes(CallNotesLock_);
        for (const auto& [key, request] : TransferRequests_)
            if (SecondsBetween(request.since, now) > kTransferDecisionSeconds) undecided.push_back(request.call);
        for (int i = 0; i < Calls_.Count(); ++i) {
            ISipCallPtr call = Calls_.Get(i);
            const auto found = TransferredAway_.find(call.get());
            if (found != TransferredAway_.end() && SecondsBetween(found->second, now) > kTransferorByeSeconds)
                abandoned.push_back(call);
        }
    }
    for (const ISipCallPtr& call : undecided) RefuseTransfer(call);
    for (const ISipCallPtr& call : abandoned) {
        HangUp(call);
        FailCall(call, "");
    }
}
