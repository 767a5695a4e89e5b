// The handling of every received message that is not about placing or
// answering a call: CANCEL, BYE, INFO, OPTIONS, MESSAGE and NOTIFY.
#include "sip/compose.h"
#include "engine/engine.h"
#include "sip/message.h"
#include "sip/text.h"

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
    if (method == "REFER") return OnRefer(message);
    if (method == "INVITE") return OnInvite(message);
    if (method == "BYE") return OnBye(message);
    if (method == "INFO") return OnInfo(message);
    if (method == "OPTIONS") return OnOptions(message);
    if (method == "MESSAGE") return OnMessage(message);
    if (method == "NOTIFY") return OnNotify(message);
    if (method == "REGISTER") return OnRegister(message);
}

void TSipEngine::OnCancel(const TSipMessage& message) {
    const ISipCallPtr call = FindCall(message.CallId);
    if (!call) return;
    const ISipAccountPtr account = call->GetAccount();
    if (message.StatusCode == "487") SendToAccount(*account, ComposeAck(message));
    if (message.StatusCode == "200") {
        // Our own CANCEL was accepted; the INVITE's final answer ends the call.
        std::lock_guard<ISipCall> guard(*call);
        call->SetState(csIdle);
        return;
    }
    if (!message.StatusCode.empty() && message.StatusCode != "487") return;
    {
        std::lock_guard<ISipCall> guard(*call);
        call->SetState(csIdle);
        call->SetStatusText(message.StatusCode);
    }
    EndCall(call);
    {
        std::lock_guard<ISipCall> guard(*call);
        if (call->GetMediaActive()) call->SetMediaActive(false);
    }
    if (!message.StatusCode.empty()) return;
    SendToAccount(*account, ComposeOk(message));
    SendToAccount(*account, ComposeCallResponse(*call, "487 Request terminated"));
}

void TSipEngine::OnBye(const TSipMessage& message) {
    const ISipCallPtr call = FindCall(message.CallId);
    if (!call) return;
    const ISipAccountPtr account = call->GetAccount();
    {
        std::lock_guard<ISipCall> guard(*call);
        call->SetRemoteCSeq(NumberOr(message.CSeqNumber, 0));
        if (!message.ViaHeaders.empty()) call->SetViaHeaders(message.ViaHeaders);
        call->SetState(csIdle);
        if (message.StatusCode.empty()) SendToVia(message, *account, ComposeOk(message));
    }
    call->SetStatusText(message.StatusCode);
    EndCall(call);
}

void TSipEngine::OnInfo(const TSipMessage& message) {
    if (!message.StatusCode.empty()) return;
    const ISipCallPtr call = FindCall(message.CallId);
    if (!call) return;
    const ISipAccountPtr account = call->GetAccount();
    if (!account || account->GetState() != asRegistered) return;

    std::lock_guard<ISipCall> guard(*call);
    call->SetRemoteCSeq(NumberOr(message.CSeqNumber, 0));
    SendToAccount(*account, ComposeOk(message));
    const std::string key = KeyOfSignal(message.DtmfSignal);
    if (key.size() != 1) return;
    Sink_.Notify([&](ISipEventHandler& sink) { sink.Dtmf(call, key[0]); });
    if (key.find_first_of("0123456789*#") == 0) {
        call->SetDtmfReceived(call->GetDtmfReceived() + key);
        call->GetDtmfEvent()->Pulse();
    }
}

void TSipEngine::OnOptions(const TSipMessage& message) {
    if (!message.StatusCode.empty()) return;
    const ISipAccountPtr account = FindAccountFor(message.ToUser, message.RequestUser);
    if (account) SendToAccount(*account, ComposeOptionsOk(message));
}

void TSipEngine::OnMessage(const TSipMessage& message) {
    if (message.StatusCode.empty()) {
        if (message.RequestUser.empty()) return;
        const ISipAccountPtr account = FindAccountFor(message.RequestUser, message.ToUser);
        if (account) SendToAccount(*account, ComposeOk(message));
        return;
    }
    const ISipAccountPtr account = FindAccountFor(message.FromUser, message.ToUser);
    if (!account) return;
    if (message.StatusCode == "401" || message.StatusCode == "407") {
        if (!account->GetPendingMessage().empty()) SendMessageWithCredentials(*account, message);
        return;
    }
    std::lock_guard<ISipAccount> guard(*account);
    account->SetPendingMessage("");
}

void TSipEngine::OnNotify(const TSipMessage& message) {
    // A transfer's NOTIFY carries a "SIP/2.0 200 OK" sipfrag body, which the
    // parser also reads as a status line: a request is told by its URI.
    if (!message.StatusCode.empty() && message.RequestUri.empty()) return;
    const ISipAccountPtr account = FindAccountFor(message.ToUser, message.RequestUser);
    if (!account) return;
    const ISipCallPtr call = FindCall(message.CallId);
    SendToAccount(*account, ComposeOk(message));
    if (!call) return;
    const TCallState state = call->GetState();
    if (state != csTransferring && state != csTransferAuth) return;
    // The far end took the transfer: leave the call.
    call->SetState(csConnected);
    HangUp(call);
    call->SetState(csIdle);
    call->SetStatusText(message.StatusCode);
    EndCall(call);
}
