// REFER both ways (RFC 3515): the answer to the agent's REFER of a call, and
// a REFER of the far end, which the agent carries out by calling the target.
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
            call->SetCSeq(NextCSeq());
            SendCallText(*call, ComposeReferWithCredentials(*call));
            return;
        }
        call->SetState(csConnected);
    }
    Sink_.Notify([&](ISipEventHandler& sink) { sink.TransferStatus(call, status); });
}

// A REFER of the far end (RFC 3515): accepted with 202, reported with a
// first NOTIFY at once, then carried out by calling the target; the placed
// call reports its outcome (ReportTransfer).
void TSipEngine::OnReferRequest(const TSipMessage& message) {
    const ISipCallPtr call = FindCall(message.CallId);
    if (!call) return AnswerNoDialog(message);
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
    SendToVia(message, nullptr, ComposeResponse(message, "202 Accepted"));
    {
        std::lock_guard<ISipCall> guard(*call);
        call->SetBranch(NewBranch());
        call->SetCSeq(NextCSeq());
        SendCallText(*call, ComposeReferNotify(*call, "SIP/2.0 100 Trying", false));
    }
    ISipCallPtr placed;
    try {
        placed = MakeCall(call->GetAccount(), target, call->GetMicrophoneDevice(),
                          call->GetSpeakerDevice());
    } catch (const std::exception&) {
        std::lock_guard<ISipCall> guard(*call);
        call->SetBranch(NewBranch());
        call->SetCSeq(NextCSeq());
        SendCallText(*call, ComposeReferNotify(*call, "SIP/2.0 503 Service Unavailable", true));
        return;
    }
    std::lock_guard<std::mutex> notes(CallNotesLock_);
    TransferOrigins_[placed.get()] = call;
}
