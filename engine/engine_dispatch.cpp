// The handling of every received message that is not about placing or
// answering a call: CANCEL, BYE, INFO, OPTIONS, MESSAGE and NOTIFY. Every
// request is answered, registered or not, to the sender of the request.
#include "sip/compose.h"
#include "engine/engine.h"
#include "sip/dialog_parts.h"
#include "sip/message.h"
#include "sip/text.h"
#include "sip/transport.h"

namespace {

using sip_text::NumberOr;

// INFO bodies carry 10 to 15 for the keys beyond the digits.
std::string KeyOfSignal(const std::string& signal) {
    static const char* const kKeys[] = {"*", "#", "A", "B", "C", "D"};
    const int number = NumberOr(signal, -1);
    if (number >= 10 && number <= 15) return kKeys[number - 10];
    return signal;
}

}  // namespace

void TSipEngine::Dispatch(const TSipMessage& message) {
    const std::string& method = message.CSeqMethod;
    if (method.empty()) return OnStunAnswer(message);
    if (method == "CANCEL") return OnCancel(message);
    if (method == "REFER") return IsRequest(message) ? OnReferRequest(message) : OnRefer(message);
    if (method == "INVITE") return OnInvite(message);
    if (method == "ACK") return OnAck(message);
    if (method == "BYE") return OnBye(message);
    if (method == "INFO") return OnInfo(message);
    if (method == "OPTIONS") return OnOptions(message);
    if (method == "MESSAGE") return OnMessage(message);
    if (method == "NOTIFY") return OnNotify(message);
    if (method == "REGISTER") return OnRegister(message);
    // Every request gets an answer (RFC 3261 8.2.1).
    if (IsRequest(message)) SendToVia(message, nullptr, ComposeMethodNotAllowed(message, NewTag()));
}

bool TSipEngine::IsRequest(const TSipMessage& message) { return !message.RequestUri.empty(); }

// A request for a dialog the agent does not have (RFC 3261 12.2.2).
// Refusals are not kept as the answer of a server transaction: a forged
// request with the branch of a real one (a CANCEL carries its INVITE's)
// must not leave an answer behind that the real one would be given.
void TSipEngine::AnswerNoDialog(const TSipMessage& request, ISipAccount* account) {
    SendToVia(request, account,
              ComposeResponseWithTag(request, "481 Call/Transaction Does Not Exist", NewTag()),
              false);
}

void TSipEngine::OnCancel(const TSipMessage& message) {
    const ISipCallPtr call = FindCall(message.CallId);
    if (!IsRequest(message)) {
        // Only a final answer to an INVITE takes an ACK; a refused CANCEL
        // leaves the INVITE's own answer to end the call.
        if (!call) return;
        if (message.StatusCode == "200") {
            // Our own CANCEL was accepted; the INVITE's final answer ends the call.
            std::lock_guard<ISipCall> guard(*call);
            call->SetState(csIdle);
        }
        return;
    }
    if (!call) return AnswerNoDialog(message);
    SendToVia(message, nullptr, ComposeOk(message));
    // A call already answered is not cancelled: only its ringing is.
    if (!IsRingingIncoming(*call)) return;
    {
        std::lock_guard<ISipCall> guard(*call);
        call->SetState(csIdle);
        call->SetStatusText("");
        SendCallResponse(*call, ComposeCallResponse(*call, "487 Request terminated"));
    }
    EndCall(call);
    {
        std::lock_guard<ISipCall> guard(*call);
        if (call->GetMediaActive()) call->SetMediaActive(false);
    }
}

void TSipEngine::OnBye(const TSipMessage& message) {
    const ISipCallPtr call = FindCall(message.CallId);
    if (!call) {
        if (IsRequest(message)) AnswerNoDialog(message);
        return;
    }
    // The answer to a BYE that ended another fork's dialog leaves ours be.
    if (!IsRequest(message) && !call->GetIncoming() && message.ToTag != call->Dialog().RemoteTag()) return;
    {
        std::lock_guard<ISipCall> guard(*call);
        if (IsRequest(message)) call->Dialog().TakeRequest(message);
        // The answer to the BYE of a call ended for its silent far end keeps
        // that reason.
        if (IsRequest(message) || call->GetStatusText() != kMediaTimeoutStatus)
            call->SetStatusText(IsRequest(message) ? std::string() : message.StatusCode);
        call->SetState(csIdle);
        if (IsRequest(message)) SendToVia(message, nullptr, ComposeOk(message));
    }
    EndCall(call);
}

void TSipEngine::OnInfo(const TSipMessage& message) {
    if (!IsRequest(message)) return;
    const ISipCallPtr call = FindCall(message.CallId);
    if (!call) return AnswerNoDialog(message);

    std::lock_guard<ISipCall> guard(*call);
    call->Dialog().TakeRequest(message);
    SendToVia(message, nullptr, ComposeOk(message));
    const std::string key = KeyOfSignal(message.DtmfSignal);
    if (key.size() != 1) return;
    // Stored before the host hears of it, so the host finds the digit there.
    const bool stored = key.find_first_of("0123456789*#") == 0;
    if (stored) call->SetDtmfReceived(call->GetDtmfReceived() + key);
    Sink_.Notify([&](ISipEventHandler& sink) { sink.Dtmf(call, key[0]); });
    if (stored) call->GetDtmfEvent()->Pulse();
}

void TSipEngine::OnOptions(const TSipMessage& message) {
    if (!IsRequest(message)) return;
    SendToVia(message, nullptr, ComposeOptionsOk(message, NewTag()));
}

void TSipEngine::OnMessage(const TSipMessage& message) {
    if (IsRequest(message)) {
        const ISipAccountPtr account = FindAccountFor(message.RequestUser, message.ToUser);
        SendToVia(message, nullptr, ComposeResponseWithTag(message, "200 OK", NewTag()));
        Sink_.Notify([&](ISipEventHandler& sink) {
            sink.MessageReceived(account, message.FromUser, message.Body);
        });
        return;
    }
    const ISipAccountPtr account = FindAccountFor(message.FromUser, message.ToUser);
    if (!account) return;
    const int status = NumberOr(message.StatusCode, 0);
    if (status < 200) return;
    if (status == 401 || status == 407) {
        if (!account->GetPendingMessage().empty()) {
            SendMessageWithCredentials(*account, message);
            return;
        }
    }
    {
        std::lock_guard<ISipAccount> guard(*account);
        account->SetPendingMessage("");
    }
    Sink_.Notify([&](ISipEventHandler& sink) { sink.MessageStatus(account, message.ToUser, status); });
}

void TSipEngine::OnNotify(const TSipMessage& message) {
    // A transfer's NOTIFY carries a "SIP/2.0 200 OK" sipfrag body, which the
    // parser also reads as a status line: a request is told by its URI.
    if (!IsRequest(message)) return;
    const ISipCallPtr call = FindCall(message.CallId);
    if (!call) return AnswerNoDialog(message);
    call->Dialog().TakeRequest(message);
    SendToVia(message, nullptr, ComposeOk(message));
    const TCallState state = call->GetState();
    if (state != csTransferring && state != csTransferAuth) return;
    const std::optional<int> progress = SipfragStatus(message.Body);
    if (!progress || *progress < 200) return;
    if (*progress >= 300) {
        // The transfer failed: the call is ours again, before the host hears
        // of it and looks at the call.
        {
            std::lock_guard<ISipCall> guard(*call);
            call->SetState(csConnected);
        }
        Sink_.Notify([&](ISipEventHandler& sink) { sink.TransferStatus(call, *progress); });
        return;
    }
    Sink_.Notify([&](ISipEventHandler& sink) { sink.TransferStatus(call, *progress); });
    // The far end took the transfer: leave the call.
    HangUp(call);
    call->SetState(csIdle);
    call->SetStatusText("");
    EndCall(call);
}
