// Steps of the INVITE state machine for answers to the agent's INVITEs (the
// first one of a call, and the re-INVITEs of hold and resume). Each runs
// under the call's lock, after the dispatcher has acknowledged a failure.
#include "engine/engine.h"

#include <random>

#include "sip/compose.h"
#include "sip/dialog_parts.h"
#include "sip/message.h"
#include "sip/sdp.h"
#include "sip/text.h"
#include "sip/transaction_key.h"
#include "sip/transport.h"

namespace {

using sip_text::NumberOr;

// The audio port of an SDP answer, 0 when it has none or names no port
// (nothing is sent then, rather than to some other port).
int AnsweredPort(const TSipMessage& message) {
    const TSdpAudio answer = ReadSdpAudio(message.Body);
    return answer.present ? SdpPort(answer.portToken).value_or(0) : 0;
}

// A refused hold or resume: the far end still has the call.
void KeepCallUp(ISipCall& call) {
    call.SetOnHold(false);
    call.SetDirection("sendrecv");
    call.SetState(csConnected);
}

// The call ends here with `statusText` for the host; the status is set
// before the change to idle, which raises the host's Bye.
void EndedWith(ISipCall& call, const std::string& statusText) {
    if (call.GetMediaActive()) call.SetMediaActive(false);
    call.SetStatusText(statusText);
    call.SetState(csIdle);
}

}  // namespace

void TSipEngine::TakeChallenge(ISipCall& call, const TSipMessage& message) {
    call.SetAuthStatus(message.StatusCode);
    call.SetOpaque(message.Opaque);
    call.SetState(csAuthenticating);
    call.SetQop(message.Qop);
    call.SetNonce(message.Nonce);
    call.SetRealm(message.Realm);
    call.SetBranch(NewBranch());
    // The Via an answer to the challenged INVITE brought names its branch: a
    // CANCEL must name the INVITE that follows.
    call.SetViaHeaders("");
}

TSipEngine::TAfterStep TSipEngine::OnInviteProgress(ISipCall& call, const TSipMessage& message) {
    // Gateways and PSTN providers often send only 183 (early media, the
    // ringback tone in it) and never a 180: the first of either tells the
    // host the far end rings, the ones after it tell it nothing new.
    const bool firstProgress = call.GetState() != csRinging;
    call.SetState(csRinging);
    call.SetViaHeaders(message.ViaHeaders);
    call.Dialog().TakeAnswer(message);
    call.SetRemoteRtpPort(AnsweredPort(message));
    call.SetRemoteRtpHost(message.SdpAddress);
    if (!message.PayloadTypes.empty()) ChooseCodec(call, message);
    // Early media under keys that do not fit stays silent: the 2xx decides.
    TakeAnswerKeys(call, ReadSdpAudio(message.Body));
    if (call.GetRemoteRtpPort() != 0 && !call.GetMediaActive()) StartMedia(call);
    return firstProgress ? TAfterStep::kRingback : TAfterStep::kNothing;
}

// `first`: the 2xx that answers the call; otherwise the answer to a
// re-INVITE (or to the INVITE of a call we answered).
TSipEngine::TAfterStep TSipEngine::OnInviteOk(ISipCall& call, const TSipMessage& message, bool first) {
    if (!message.PayloadTypes.empty()) ChooseCodec(call, message);
    // The first 2xx makes the dialog (its tag, Contact and Record-Route,
    // whatever rang before); a later one refreshes the remote target.
    call.Dialog().TakeAnswer(message);
    const TCallState state = call.GetState();
    const bool holding =
        state == csHolding || (state == csAuthenticating && !first && call.GetOnHold());
    call.SetState(holding ? csHolding : csConnected);
    call.SetViaHeaders(message.ViaHeaders);
    call.SetReceivedHost(message.ViaHost);
    call.SetReceivedPort(message.ViaPort);
    if (!TakeAnswerKeys(call, ReadSdpAudio(message.Body))) {
        // The far end answered our SRTP in the clear or with keys we did
        // not offer: the call cannot go on encrypted, so it does not go on.
        SendDialogRequest(call, ComposeAckWithCredentials(call, message));
        call.SetBranch(NewBranch());
        call.Dialog().NextLocalCSeq();
        SendCallText(call, ComposeBye(call));
        EndedWith(call, "488");
        return TAfterStep::kEndCall;
    }

    const int sdpPort = AnsweredPort(message);
    const bool moved = call.GetRemoteRtpPort() != sdpPort || call.GetRemoteRtpHost() != message.SdpAddress;
    // An answer whose address we cannot read (an IPv6 c= line) still starts
    // the media: it is answered where the far end's RTP comes from.
    if (moved && call.GetRemoteRtpHost() != "0.0.0.0" && message.SdpAddress != "0.0.0.0" && sdpPort != 0) {
        if (call.GetMediaActive()) call.SetMediaActive(false);
        call.SetRemoteRtpPort(sdpPort);
        call.SetRemoteRtpHost(message.SdpAddress);
        StartMedia(call);
    }
    SendDialogRequest(call, ComposeAckWithCredentials(call, message));
    return first ? TAfterStep::kAnswered : TAfterStep::kReanswered;
}

// Another fork answered too (RFC 3261 13.2.2.4): its 2xx is acknowledged
// and its dialog ended; the call stays with the fork it has. A copy of that
// 2xx is only acknowledged again.
TSipEngine::TAfterStep TSipEngine::OnForkOk(ISipCall& call, const TSipMessage& message) {
    SendToAnswerer(call, message, ComposeAckForFork(call, message));
    if (!call.Dialog().NoteOtherFork(message.ToTag)) return TAfterStep::kNothing;
    const std::string bye = ComposeByeForFork(call, message, NextCSeq());
    {
        std::lock_guard<std::mutex> notes(CallNotesLock_);
        ForkByes_.insert(WireFactsOfText(bye).Key());
    }
    SendToAnswerer(call, message, bye);
    return TAfterStep::kNothing;
}

// 401 and 407 are answered once with credentials; a 403, or a challenge
// to a request the call has moved past, is a refusal.
TSipEngine::TAfterStep TSipEngine::OnInviteChallenge(ISipCall& call, const TSipMessage& message) {
    const bool established = IsEstablished(call);
    const bool cseqMatches = std::to_string(call.Dialog().LocalCSeq()) == message.CSeqNumber;
    // The INVITE sent again with credentials starts over: whatever rang
    // before is no dialog of it. Inside a dialog nothing changes.
    if (cseqMatches) call.Dialog().ForgetEarly();
    if (!cseqMatches) return TAfterStep::kNothing;
    const TCallState state = call.GetState();
    // A re-INVITE for resume leaves the call connected while it waits, so
    // its challenge arrives in the connected state.
    // A stale nonce only (RFC 7616 3.3) is answered again with the new one;
    // the same nonce again is a refusal.
    const bool stale = state == csAuthenticating && message.Stale && message.Nonce != call.GetNonce();
    const bool retry = state == csCalling || state == csHolding || stale ||
                       (established && state == csConnected);
    if (retry && message.StatusCode != "403") {
        TakeChallenge(call, message);
        SendInvite(call, true);
        return TAfterStep::kNothing;
    }
    if (established) {
        KeepCallUp(call);
        return TAfterStep::kNothing;
    }
    EndedWith(call, message.StatusCode);
    call.GetEndedEvent()->Set();
    return TAfterStep::kEndCall;
}

TSipEngine::TAfterStep TSipEngine::OnInviteFailure(ISipCall& call, const TSipMessage& message) {
    if (IsEstablished(call)) {
        const std::string& status = message.StatusCode;
        if (status == "408" || status == "481") return EndLostDialog(call, status);
        if (status == "491") {
            // Our re-INVITE crossed one of the far end's: the call stays as
            // it was asked to be, and the re-INVITE goes again later.
            ScheduleReInviteRetry(call);
            return TAfterStep::kNothing;
        }
    }
    // A refused re-INVITE of a connected call leaves it connected.
    if (call.GetState() == csConnected) return TAfterStep::kNothing;
    if (IsEstablished(call)) {
        KeepCallUp(call);
        return TAfterStep::kNothing;
    }
    EndedWith(call, message.StatusCode);
    return TAfterStep::kEndCall;
}

TSipEngine::TAfterStep TSipEngine::EndLostDialog(ISipCall& call, const std::string& status) {
    call.SetBranch(NewBranch());
    call.Dialog().NextLocalCSeq();
    SendCallText(call, ComposeBye(call));
    EndedWith(call, status);
    return TAfterStep::kEndCall;
}

// The owner of the Call-ID (the caller) waits 2.1 to 4 s, the other side
// up to 2 s, in steps of 10 ms: the two never retry at once.
void TSipEngine::ScheduleReInviteRetry(ISipCall& call) {
    static thread_local std::mt19937 random{std::random_device{}()};
    const bool owner = !call.GetIncoming();
    const int steps = owner ? std::uniform_int_distribution<int>(210, 400)(random)
                            : std::uniform_int_distribution<int>(0, 200)(random);
    // By Call-ID: the call list is not to be touched under the call's lock.
    std::lock_guard<std::mutex> notes(CallNotesLock_);
    ReInviteRetries_[&call] = {call.GetCallId(), SteadyNow() + std::chrono::milliseconds(steps * 10)};
}

void TSipEngine::RetryReInvites() {
    std::vector<std::string> due;
    {
        std::lock_guard<std::mutex> notes(CallNotesLock_);
        const auto now = SteadyNow();
        for (auto it = ReInviteRetries_.begin(); it != ReInviteRetries_.end();) {
            if (it->second.second > now) {
                ++it;
                continue;
            }
            due.push_back(it->second.first);
            it = ReInviteRetries_.erase(it);
        }
    }
    for (const std::string& callId : due) {
        const ISipCallPtr call = FindCall(callId);
        if (!call) continue;
        std::lock_guard<ISipCall> guard(*call);
        const TCallState state = call->GetState();
        if (state != csConnected && state != csHolding) continue;
        call->SetSdpVersion(call->GetSdpVersion() + 1);
        call->SetBranch(NewBranch());
        SendInvite(*call, !call->GetAuthStatus().empty());
    }
}

// Answers to the INVITE of a call the agent cancelled or ended: the first
// provisional lets a waiting CANCEL go; a 2xx that crossed the CANCEL is
// acknowledged as any 2xx and ended with BYE, so the far end is not left
// connected and billed; a final failure ends the call (or lets an ended one
// go, which would otherwise hold its RTP port for ever).
TSipEngine::TAfterStep TSipEngine::OnEndedCallResponse(ISipCall& call, const TSipMessage& message) {
    const std::string& status = message.StatusCode;
    if (status.starts_with('1')) {
        if (TakeAwaitingCancel(call)) SendCallText(call, ComposeCancel(call));
        return TAfterStep::kNothing;
    }
    if (status.starts_with('2')) {
        call.Dialog().TakeAnswer(message);
        SendCallText(call, ComposeAckWithCredentials(call, message));
        call.SetBranch(NewBranch());
        call.Dialog().NextLocalCSeq();
        SendCallText(call, ComposeBye(call));
    } else if (!IsFinalFailure(status)) {
        return TAfterStep::kNothing;
    }
    const bool keepStatus = call.GetState() == csIdle || status.starts_with('2');
    EndedWith(call, keepStatus ? call.GetStatusText() : status);
    return TAfterStep::kEndCall;
}

// Requests to the fork that sent `answer`: its first route, else its Contact.
// The ACK goes out as it is: kept by the INVITE's transaction it would be
// sent again for the fork the call keeps.
void TSipEngine::SendToAnswerer(ISipCall& call, const TSipMessage& answer, const std::string& text) {
    const std::string next = answer.RecordRouteCount() > 0
                                 ? answer.RecordRouteAt(answer.RecordRouteCount() - 1)
                                 : answer.Contact;
    std::optional<THostPort> target = UriHostPort(next);
    if (!target || !IsDottedAddress(target->host)) {
        const ISipAccountPtr account = call.GetAccount();
        if (!account) return;
        target = THostPort{account->GetServerAddress(), account->GetServerPort()};
    }
    if (text.starts_with("ACK ")) {
        SendRaw(text.data(), text.size(), target->host, static_cast<uint16_t>(target->port));
    } else {
        SendText(text, target->host, target->port);
    }
}
