// Received messages about INVITE transactions (new incoming calls, answers to
// the engine's INVITEs, re-INVITEs of the far end) and answers to REFER.
#include "media/codecs.h"
#include "sip/compose.h"
#include "engine/engine.h"
#include "sip/dialog_parts.h"
#include "sip/message.h"
#include "sip/sdp.h"
#include "sip/text.h"
#include "sip/transport.h"

namespace {

using sip_text::NumberOr;

// The call keeps the challenge for its retry, and a fresh branch for the new
// transaction.
void TakeChallenge(ISipCall& call, const TSipMessage& message) {
    call.SetAuthStatus(message.StatusCode);
    call.SetOpaque(message.Opaque);
    call.SetState(csAuthenticating);
    call.SetQop(message.Qop);
    call.SetNonce(message.Nonce);
    call.SetRealm(message.Realm);
    call.SetBranch(NewBranch());
}

bool InSetUp(TCallState state) {
    return state == csCalling || state == csAuthenticating || state == csRinging;
}

// The audio port of an SDP answer, 0 when it has none or names no port
// (nothing is sent then, rather than to some other port).
int AnsweredPort(const TSipMessage& message) {
    const TSdpAudio answer = ReadSdpAudio(message.Body);
    return answer.present ? SdpPort(answer.portToken).value_or(0) : 0;
}

bool IsFinal(const std::string& status) { return !status.empty() && status[0] != '1'; }

// A final failure of three characters: a first digit above 2 (a non-digit
// counts as one).
bool IsFinalFailure(const std::string& status) {
    if (status.size() != 3) return false;
    const char first = status[0];
    return first < '0' || first > '9' || first > '2';
}

}  // namespace

void TSipEngine::OnInvite(const TSipMessage& message) {
    std::lock_guard<TSipCalls> list(Calls_);
    const ISipCallPtr call = FindCall(message.CallId);
    if (!call) {
        if (message.StatusCode.empty()) {
            // A To tag names a dialog, and no call here has this Call-ID.
            if (message.ToTag.empty()) return OnIncomingInvite(message);
            const ISipAccountPtr account = FindAccountFor(message.ToUser, message.RequestUser);
            AnswerNoDialog(message, account.get());
            return;
        }
        // A failure for a call already let go (ended by the set-up limit or
        // the host) still gets its ACK, or the far end sends it for 32 s.
        if (IsFinalFailure(message.StatusCode)) {
            const ISipAccountPtr account = FindAccountFor(message.FromUser, message.ToUser);
            if (account) SendToAccount(*account, ComposeAck(message));
        }
        return;
    }
    // Without a To tag, a copy of the INVITE that made the call, which its
    // answer covers already (a re-INVITE has passed the dialog checks).
    if (message.StatusCode.empty() && message.ToTag.empty()) return;
    if (!message.StatusCode.empty() && IsCancelled(*call)) return OnCancelledInviteResponse(call, message);
    const ISipAccountPtr account = call->GetAccount();
    if (message.StatusCode == "487") SendToAccount(*account, ComposeAck(message));

    const TCallState state = call->GetState();
    if (InSetUp(state) || state == csConnected || state == csHolding) {
        OnInviteResponse(call, message);
        return;
    }
    if (state == csIdle && IsFinal(message.StatusCode)) {
        // The final answer of a call already ended (a cancelled call whose
        // 487 follows the 200 to the CANCEL): acknowledge it and let the call
        // go, or it would hold its RTP port for ever.
        if (message.StatusCode != "487") SendToAccount(*account, ComposeAck(message));
        EndCall(call);
    }
}

void TSipEngine::OnIncomingInvite(const TSipMessage& message) {
    const ISipAccountPtr account = FindAccountFor(message.ToUser, message.RequestUser);
    if (message.RequestUser.empty() || !account) {
        SendToVia(message, nullptr, ComposeResponseWithTag(message, "404 Not Found", NewTag()));
        return;
    }

    // An offer whose port is no port is refused, not read as another port.
    const TSdpAudio offer = ReadSdpAudio(message.Body);
    const std::optional<int> offeredPort = offer.present ? SdpPort(offer.portToken) : std::nullopt;
    int payloadType = ChoosePayload(message.PayloadTypes);
    if (payloadType < 0 && message.PayloadTypes.empty() && GetCodecCount() > 0)
        payloadType = GetCodecAt(0);
    if (payloadType < 0 || (offer.present && !offeredPort)) {
        SendToVia(message, nullptr, ComposeNotAcceptable(message));
        return;
    }
    // Unanswered calls cost a call object each and nothing more (the RTP port
    // is taken when answering); a flood of them is turned away beyond a few.
    if (RingingIncomingCount() >= kMaxRingingIncoming) {
        SendToVia(message, nullptr, ComposeResponseWithTag(message, "486 Busy Here", NewTag()));
        return;
    }

    const std::shared_ptr<TCall> call = NewCall(account, message.CallId);
    std::lock_guard<ISipCall> guard(*call);
    call->SetLocalRtpPort(0);
    call->SetRemoteSipHost(account->GetServerAddress());
    call->SetRemoteRtpHost(offer.present ? offer.address : std::string());
    call->SetRemoteRtpPort(offeredPort.value_or(0));
    // Without an offer the 200 carries ours and the ACK the answer.
    call->SetDirection(offer.present ? AnswerDirection(offer.direction, offer.address, false)
                                     : std::string("sendrecv"));
    if (!offer.present) MarkAwaitingAnswer(*call, true);
    call->SetSilenceTimeout(SilenceTimeout_);
    call->SetSilenceThreshold(SilenceThreshold_);
    call->SetFromHeader(message.FromHeader);
    call->SetToHeader(message.ToHeader);
    call->SetLocalUri(message.ToUri);
    call->SetRemoteUri(message.FromUri);
    call->SetRemoteTag(message.FromTag);
    call->SetCodec(media::CodecRegistry().Create(payloadType));
    call->SetNegotiatedPayloadTypes({payloadType});  // the answer names this one only
    call->SetSpeakerEnabled(true);
    call->SetMicrophoneEnabled(true);
    call->SetIncoming(true);
    call->SetViaHeaders(message.ViaHeaders);
    call->SetReceivedHost(message.ViaHost);
    call->SetReceivedPort(message.ViaPort);
    call->SetRemoteCSeq(NumberOr(message.CSeqNumber, 0));
    call->SetCSeq(NextCSeq());
    call->SetRouteSet(message);
    call->SetRemoteContact(message.Contact);
    call->SetTarget(message.FromUser);
    call->SetRemoteSipPort(message.ContactPort);
    Calls_.Add(call);

    SendToVia(message, nullptr, ComposeResponse(message, "100 Trying"));
    call->SetFromHeader(message.FromHeader);
    call->SetToHeader(message.ToHeader);
    // With our tag: the caller's early dialog is the one the 200 confirms.
    SendCallResponse(*call, ComposeCallResponse(*call, "180 Ringing"));
    const bool offered = Sink_.Notify([&](ISipEventHandler& sink) { sink.Invite(call); });
    if (!offered) Reject(call);
}

void TSipEngine::OnInviteResponse(const ISipCallPtr& call, const TSipMessage& message) {
    std::unique_lock<ISipCall> guard(*call);
    const std::string& status = message.StatusCode;
    const TCallState state = call->GetState();
    call->SetStatusCode(NumberOr(status, 0));

    if (status == "401" || status == "403" || status == "407") {
        guard.unlock();
        return OnInviteChallenge(call, message);
    }
    if (IsRequest(message)) {
        if (state == csConnected || state == csHolding) OnReInvite(*call, message);
        return;
    }
    if (status == "100") {
        if (state == csCalling || state == csAuthenticating) call->SetViaHeaders(message.ViaHeaders);
        return;
    }
    if (status == "180" || status == "183") {
        if (InSetUp(state)) {
            guard.unlock();
            OnInviteProgress(call, message);
        }
        return;
    }
    guard.unlock();
    if (status == "200") return OnInviteOk(call, message);
    OnInviteFailure(call, message);
}

void TSipEngine::OnInviteChallenge(const ISipCallPtr& call, const TSipMessage& message) {
    bool fail = false;
    {
        std::lock_guard<ISipCall> guard(*call);
        SendCallText(*call, ComposeAck(message));
        const bool established = IsEstablished(*call);
        const bool cseqMatches = std::to_string(call->GetCSeq()) == message.CSeqNumber;
        // Inside a dialog the route set is fixed; a challenge from a proxy
        // carries none and must not erase it.
        if (cseqMatches && !established) call->SetRouteSet(message);
        const TCallState state = call->GetState();
        // A re-INVITE for resume leaves the call connected while it waits, so
        // its challenge arrives in the connected state.
        const bool retry = state == csCalling || state == csHolding ||
                           (established && state == csConnected);
        if (retry && message.StatusCode != "403" && cseqMatches) {
            TakeChallenge(*call, message);
            SendInvite(*call, true);
            return;
        }
        if (!cseqMatches) return;
        if (established) {
            // A refused hold or resume: the far end still has the call.
            call->SetOnHold(false);
            call->SetDirection("sendrecv");
            call->SetState(csConnected);
            return;
        }
        SendCallText(*call, ComposeAck(message));
        if (call->GetMediaActive()) call->SetMediaActive(false);
        // The status first: the host reads it as soon as the change to idle
        // raises its Bye.
        call->SetStatusText(message.StatusCode);
        call->SetState(csIdle);
        call->GetEndedEvent()->Set();
        fail = true;
    }
    if (fail) EndCall(call);
}

void TSipEngine::OnReInvite(ISipCall& call, const TSipMessage& message) {
    const TSdpAudio offer = ReadSdpAudio(message.Body);
    if (offer.present && !SdpPort(offer.portToken)) {
        // The call goes on as it was; only this offer is refused.
        SendToVia(message, nullptr, ComposeNotAcceptable(message));
        return;
    }
    call.SetViaHeaders(message.ViaHeaders);
    // The route set is fixed when the dialog starts; a proxy that does not
    // record-route requests inside the dialog sends the re-INVITE without
    // Record-Route lines, and clearing the set would strand our later BYE.
    if (message.HasRecordRoutes()) call.SetRouteSet(message);
    call.SetRemoteContact(message.Contact);
    call.SetCSeq(NumberOr(message.CSeqNumber, 0));
    call.SetRemoteCSeq(NumberOr(message.CSeqNumber, 0));
    call.SetFromHeader(message.FromHeader);
    call.SetToHeader("To: <" + message.ToUri + ">");
    call.SetSdpVersion(call.GetSdpVersion() + 1);
    if (!offer.present) {
        // No offer: ours goes in the 200 and the answer comes in the ACK
        // (RFC 3264); the media keeps its target until then.
        MarkAwaitingAnswer(call, true);
        SendCallText(call, ComposeOkWithOffer(call, GetCodecList()));
        return;
    }
    TakeRemoteMedia(call, message);
    // Our answer names the call's codec only, so only it is agreed.
    if (!message.PayloadTypes.empty())
        if (const IAudioCodecPtr codec = call.GetCodec())
            call.SetNegotiatedPayloadTypes({codec->GetPayloadType()});
    if (call.GetRemoteRtpPort() != 0 && !call.GetMediaActive()) StartMedia(call);
    SendCallText(call, ComposeOkWithAnswer(call, AnswerDirection(offer.direction, offer.address,
                                                                 call.GetOnHold())));
}

void TSipEngine::OnAck(const TSipMessage& message) {
    if (!IsRequest(message)) return;
    const ISipCallPtr call = FindCall(message.CallId);
    if (!call || !IsAwaitingAnswer(*call)) return;
    bool refused = false;
    {
        std::lock_guard<ISipCall> guard(*call);
        MarkAwaitingAnswer(*call, false);
        refused = !TakeRemoteMedia(*call, message);
        if (!refused && call->GetRemoteRtpPort() != 0 && !call->GetMediaActive()) StartMedia(*call);
    }
    if (!refused) return;
    // An answer that names no port leaves the call without voice: end it.
    call->SetStatusText("488");
    HangUp(call);
    call->SetState(csIdle);
    EndCall(call);
}

void TSipEngine::OnInviteProgress(const ISipCallPtr& call, const TSipMessage& message) {
    {
        std::lock_guard<ISipCall> guard(*call);
        call->SetState(csRinging);
        call->SetViaHeaders(message.ViaHeaders);
        call->SetRouteSet(message);
        call->SetRemoteContact(message.Contact);
        call->SetCSeq(NumberOr(message.CSeqNumber, 1));
        call->SetRemoteCSeq(0);
        call->SetRemoteTag(message.ToTag);
        call->SetRemoteUri(message.ToUri);
        call->SetRemoteRtpPort(AnsweredPort(message));
        call->SetRemoteRtpHost(message.SdpAddress);
        if (!message.PayloadTypes.empty()) ChooseCodec(*call, message);
        if (call->GetRemoteRtpPort() != 0 && !call->GetMediaActive()) StartMedia(*call);
    }
    if (message.StatusCode != "180") return;
    Sink_.Notify([&](ISipEventHandler& sink) { sink.Ringback(call); });
    call->GetRingingEvent()->Pulse();
}

void TSipEngine::OnInviteOk(const ISipCallPtr& call, const TSipMessage& message) {
    const bool first = !IsEstablished(*call);
    if (!first && !call->GetIncoming() && !message.ToTag.empty() &&
        message.ToTag != call->GetRemoteTag()) {
        // Another fork answered too (RFC 3261 13.2.2.4): acknowledge its 2xx
        // and end that dialog; the call stays with the fork it has.
        std::lock_guard<ISipCall> guard(*call);
        SendToAnswerer(*call, message, ComposeAckForFork(*call, message));
        bool ended = false;
        {
            std::lock_guard<std::mutex> notes(CallNotesLock_);
            ended = !EndedForks_[call.get()].insert(message.ToTag).second;
        }
        if (!ended) SendToAnswerer(*call, message, ComposeByeForFork(*call, message, NextCSeq()));
        return;
    }
    {
        std::lock_guard<ISipCall> guard(*call);
        const ISipAccountPtr account = call->GetAccount();
        if (!message.PayloadTypes.empty()) ChooseCodec(*call, message);
        if (first && !call->GetIncoming()) {
            // The dialog is the one this 2xx makes: its tag, its Contact and
            // its Record-Route (none included), whatever rang before.
            call->SetRemoteTag(message.ToTag);
            call->SetRouteSet(message);
        } else if (call->GetRemoteTag().empty()) {
            call->SetRemoteTag(message.ToTag);
        }
        const TCallState state = call->GetState();
        if (state == csHolding || (state == csAuthenticating && IsEstablished(*call) && call->GetOnHold()))
            call->SetState(csHolding);
        else
            call->SetState(csConnected);
        call->SetViaHeaders(message.ViaHeaders);
        if (!first && !message.RecordRouteHeaders.empty()) call->SetRouteSet(message);
        call->SetReceivedHost(message.ViaHost);
        call->SetReceivedPort(message.ViaPort);
        call->SetRemoteContact(message.Contact);

        const int sdpPort = AnsweredPort(message);
        const bool moved = call->GetRemoteRtpPort() != sdpPort || call->GetRemoteRtpHost() != message.SdpAddress;
        if (moved && call->GetRemoteRtpHost() != "0.0.0.0" && message.SdpAddress != "0.0.0.0" &&
            !message.SdpAddress.empty() && sdpPort != 0) {
            if (call->GetMediaActive()) call->SetMediaActive(false);
            call->SetRemoteRtpPort(sdpPort);
            call->SetRemoteRtpHost(message.SdpAddress);
            StartMedia(*call);
        }
        SendDialogRequest(*call, ComposeAckWithCredentials(*call, message));
        MarkEstablished(*call);
    }
    Sink_.Notify([&](ISipEventHandler& sink) { sink.InviteOk(call); });
    if (first) ReportTransfer(call, 200);
    call->GetAnsweredEvent()->Set();
}

void TSipEngine::OnInviteFailure(const ISipCallPtr& call, const TSipMessage& message) {
    const std::string& status = message.StatusCode;
    {
        std::lock_guard<ISipCall> guard(*call);
        const TCallState state = call->GetState();
        if (!IsFinalFailure(status) || state == csConnected) {
            // A refused re-INVITE of a connected call leaves it connected.
            if (IsFinal(status)) SendCallText(*call, ComposeAck(message));
            return;
        }
        SendCallText(*call, ComposeAck(message));
        if (IsEstablished(*call)) {
            // A refused hold or resume: the far end still has the call.
            call->SetOnHold(false);
            call->SetDirection("sendrecv");
            call->SetState(csConnected);
            return;
        }
        if (call->GetMediaActive()) call->SetMediaActive(false);
        call->SetStatusText(status);
        call->SetState(csIdle);
    }
    EndCall(call);
}

// Answers to the INVITE of a call the agent cancelled: the first provisional
// lets a waiting CANCEL go; a 2xx that crossed the CANCEL is acknowledged as
// any 2xx and ended with BYE, so the far end is not left connected and
// billed; a failure (the 487) is acknowledged and ends the call.
void TSipEngine::OnCancelledInviteResponse(const ISipCallPtr& call, const TSipMessage& message) {
    const std::string& status = message.StatusCode;
    if (status[0] == '1') {
        if (!TakeAwaitingCancel(*call)) return;
        std::lock_guard<ISipCall> guard(*call);
        SendCallText(*call, ComposeCancel(*call));
        return;
    }
    if (status[0] != '2') {
        SendCallText(*call, ComposeAck(message));
        FailCall(call, call->GetState() == csIdle ? call->GetStatusText() : status);
        return;
    }
    {
        std::lock_guard<ISipCall> guard(*call);
        call->SetRemoteTag(message.ToTag);
        call->SetRemoteUri(message.ToUri);
        if (message.HasRecordRoutes()) call->SetRouteSet(message);
        call->SetRemoteContact(message.Contact);
        SendCallText(*call, ComposeAckWithCredentials(*call, message));
        call->SetBranch(NewBranch());
        call->SetCSeq(NextCSeq());
        SendCallText(*call, ComposeBye(*call));
    }
    FailCall(call, call->GetStatusText());
}

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
