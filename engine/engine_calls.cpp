// The engine's call operations: placing, answering, refusing, holding,
// resuming, transferring and ending calls, and sending digits and sounds.
#include <thread>

#include "media/codecs.h"
#include "media/wav.h"
#include "engine/engine.h"
#include "sip/compose.h"
#include "sip/compose_common.h"
#include "sip/dialog_parts.h"
#include "sip/header_values.h"
#include "sip/sdp.h"
#include "sip/sdp_payload_numbers.h"
#include "sip/text.h"

namespace {

using sip_text::NumberOr;

constexpr std::chrono::milliseconds kHangUpPause{100};

}  // namespace

std::shared_ptr<TCall> TSipEngine::NewCall(const ISipAccountPtr& account,
                                           const std::string& callId) {
    TCallSettings settings;
    settings.account = account;
    settings.eventSink = Sink_.Get();
    settings.callId = callId;
    settings.clock = Options_.clock;
    settings.mediaLoop = MediaLoop_;
    if (Options_.mediaPathFactory) settings.mediaPath = Options_.mediaPathFactory();
    return TCall::Create(std::move(settings));
}

// Responses go to the caller; requests of an established call follow the
// dialog; the INVITE that sets a call up, and its CANCEL and failure ACK, go
// to the server.
void TSipEngine::SendCallText(ISipCall& call, const std::string& text) {
    if (text.starts_with("SIP/2.0 ")) return SendCallResponse(call, text);
    if (IsEstablished(call) && !text.starts_with("CANCEL ")) return SendDialogRequest(call, text);
    const ISipAccountPtr account = call.GetAccount();
    if (account) SendToAccount(*account, text);
}

void TSipEngine::SendCallResponse(ISipCall& call, const std::string& text) {
    const ISipAccountPtr account = call.GetAccount();
    SendResponse(call.GetViaHeaders(), account.get(), text);
}

void TSipEngine::SendDialogRequest(ISipCall& call, const std::string& text) {
    const ISipAccountPtr account = call.GetAccount();
    if (!account) return;
    // An outbound proxy chosen for the account takes every request.
    if (account->GetProxy().empty()) {
        const std::string route = call.Dialog().FirstRoute();
        const std::string next = route.empty() ? call.Dialog().RemoteTarget() : route;
        const std::optional<THostPort> target = UriHostPort(next);
        if (target && IsDottedAddress(target->host)) {
            KnowDialogPeer(*account, target->host, target->port);
            return SendText(text, target->host, target->port);
        }
    }
    SendToAccount(*account, text);
}

ISipCallPtr TSipEngine::MakeCall(ISipAccountPtr account, const std::string& number,
                                 int microphoneDevice, int speakerDevice) {
    // A number that cannot be written in a URI is refused before the call
    // takes a port.
    const std::string remoteUri = sip_header::TargetUri(number, sip_compose::DomainPart(*account));
    if (IsSipsUri(remoteUri) && account->GetTransport() != TSignallingTransport::kTls)
        throw ESipError("a sips: address is called only from an account on TLS");
    const std::shared_ptr<TCall> call = NewCall(account, "");
    call->SetMicrophoneDevice(microphoneDevice);
    call->SetSpeakerDevice(speakerDevice);
    call->SetRemoteSipHost(account->GetServerAddress());
    call->SetIncoming(false);
    call->SetSilenceTimeout(SilenceTimeout_);
    call->SetSilenceThreshold(SilenceThreshold_);
    TakeRtpPort(*call);
    call->SetTarget(number);
    call->Dialog().StartOutgoing("sip:" + sip_header::EscapeUserPart(account->GetUserName()) +
                                     "@" + sip_compose::DomainPart(*account),
                                 remoteUri, NextCSeq());
    Calls_.Add(call);

    std::lock_guard<ISipCall> guard(*call);
    OfferSrtpIfSecure(*call);
    const std::string invite = ComposeInvite(*call, GetCodecList());
    call->SetState(csCalling);
    SendCallText(*call, invite);
    return call;
}

void TSipEngine::SendInvite(ISipCall& call, bool withCredentials) {
    RequireActive();
    call.Dialog().NextLocalCSeq();
    const std::string invite = withCredentials ? ComposeInviteWithCredentials(call, GetCodecList())
                                               : ComposeInvite(call, GetCodecList());
    SendCallText(call, invite);
}

void TSipEngine::Answer(ISipCallPtr call) {
    // A call the caller cancelled (or that ended otherwise) meanwhile is no
    // longer listed: answering it would send a 200 nobody acknowledges.
    if (FindCall(call->GetCallId()) != call) return;
    std::lock_guard<ISipCall> guard(*call);
    if (!call->GetIncoming() || IsEstablished(*call)) return;
    // The RTP port is taken only now: calls that are never answered hold none.
    if (call->GetLocalRtpPort() == 0) TakeRtpPort(*call);
    // An INVITE without an offer gets ours; the answer comes in the ACK.
    SendCallText(*call, IsAwaitingAnswer(*call) ? ComposeOkWithOffer(*call, GetCodecList())
                                                : ComposeOkWithAnswer(*call, call->GetDirection()));
    call->SetState(csConnected);
    call->Dialog().Confirm();
    if (call->GetRemoteRtpPort() != 0) StartMedia(*call);
}

void TSipEngine::Reject(ISipCallPtr call) {
    {
        std::lock_guard<ISipCall> guard(*call);
        SendCallText(*call, ComposeCallResponse(*call, "486 Busy here"));
        call->SetStatusText("486");
        call->SetState(csIdle);
    }
    EndCall(call);
}

void TSipEngine::HangUp(ISipCallPtr call) {
    std::lock_guard<ISipCall> guard(*call);
    call->GetEndedEvent()->Set();
    const TCallState state = call->GetState();
    if (state == csConnected || state == csHolding || state == csTransferring ||
        state == csTransferAuth) {
        call->SetBranch(NewBranch());
        call->Dialog().NextLocalCSeq();
        SendCallText(*call, ComposeBye(*call));
    } else if (!call->GetIncoming()) {
        SendCancelOrWait(*call);
        if (call->GetMediaActive()) call->SetMediaActive(false);
    }
}

// A CANCEL may only follow a provisional response (RFC 3261 9.1): before
// one it waits, and goes out when the first arrives. Either way the call is
// marked, so a 200 crossing the CANCEL is acknowledged and ended with BYE.
// The caller holds the call's lock.
void TSipEngine::SendCancelOrWait(ISipCall& call) {
    const bool wait = Client_.AwaitsFirstResponse(call.GetBranch(), call.GetCallId());
    {
        std::lock_guard<std::mutex> notes(CallNotesLock_);
        if (Cancelled_.count(&call) != 0) return;
        Cancelled_[&call] = wait;
    }
    if (!wait) SendCallText(call, ComposeCancel(call));
}

bool TSipEngine::IsCancelled(const ISipCall& call) {
    std::lock_guard<std::mutex> notes(CallNotesLock_);
    return Cancelled_.count(&call) != 0;
}

// True once for a call whose CANCEL waited for a provisional response.
bool TSipEngine::TakeAwaitingCancel(const ISipCall& call) {
    std::lock_guard<std::mutex> notes(CallNotesLock_);
    const auto found = Cancelled_.find(&call);
    if (found == Cancelled_.end() || !found->second) return false;
    found->second = false;
    return true;
}

// Ends a call here with `statusText` for the host (the far end has been
// told already, or cannot be).
void TSipEngine::FailCall(const ISipCallPtr& call, const std::string& statusText) {
    {
        std::lock_guard<ISipCall> guard(*call);
        if (call->GetMediaActive()) call->SetMediaActive(false);
        call->SetStatusText(statusText);
        call->SetState(csIdle);
    }
    EndCall(call);
}

void TSipEngine::Hold(ISipCallPtr call) {
    std::lock_guard<ISipCall> guard(*call);
    {
        // The host's word replaces a re-INVITE waiting to go again.
        std::lock_guard<std::mutex> notes(CallNotesLock_);
        ReInviteRetries_.erase(call.get());
    }
    call->SetOnHold(true);
    call->SetDirection("sendonly");
    call->SetSdpVersion(call->GetSdpVersion() + 1);
    call->SetBranch(NewBranch());
    call->SetState(csHolding);
    SendInvite(*call, !call->GetAuthStatus().empty());
}

void TSipEngine::Resume(ISipCallPtr call) {
    std::lock_guard<ISipCall> guard(*call);
    {
        // The host's word replaces a re-INVITE waiting to go again.
        std::lock_guard<std::mutex> notes(CallNotesLock_);
        ReInviteRetries_.erase(call.get());
    }
    call->SetOnHold(false);
    call->SetDirection("sendrecv");
    call->SetSdpVersion(call->GetSdpVersion() + 1);
    call->SetBranch(NewBranch());
    SendInvite(*call, !call->GetAuthStatus().empty());
    call->SetState(csConnected);
}

void TSipEngine::Transfer(ISipCallPtr call, const std::string& target) {
    sip_header::RequireDialTarget(target);
    std::lock_guard<ISipCall> guard(*call);
    if (call->GetIncoming() && call->GetState() == csRinging) {
        SendCallText(*call, ComposeRedirect(*call, target));
        call->SetState(csIdle);
        return;
    }
    RequireActive();
    call->SetReferTarget(target);
    call->SetState(csTransferring);
    call->SetBranch(NewBranch());
    call->Dialog().NextLocalCSeq();
    SendCallText(*call, ComposeRefer(*call, target));
}

void TSipEngine::EndCall(ISipCallPtr call) {
    bool hangUp = false;
    {
        std::lock_guard<ISipCall> guard(*call);
        hangUp = call->GetMediaActive() && call->GetState() != csIdle;
    }
    if (hangUp) {
        HangUp(call);
        std::this_thread::sleep_for(kHangUpPause);
    }
    {
        std::lock_guard<ISipCall> guard(*call);
        if (call->GetMediaActive()) {
            call->SetMediaActive(false);
            if (call->GetState() != csIdle) call->SetState(csIdle);
        }
    }
    call->Dialog().Terminate();
    // The port first: once the list no longer shows the call, nothing of
    // it is held.
    GiveBackRtpPort(*call);
    Calls_.Remove(call);
    {
        std::lock_guard<std::mutex> notes(CallNotesLock_);
        EndedSince_.erase(call.get());
        Cancelled_.erase(call.get());
        AwaitingAnswer_.erase(call.get());
        TransferredAway_.erase(call.get());
        ReInviteRetries_.erase(call.get());
    }
    // A transfer still waiting for the host's word has nobody to go to.
    if (const std::optional<TTransferRequest> request = TakeTransferRequest(*call))
        SendToVia(*request->refer, nullptr, ComposeResponse(*request->refer, "603 Decline"));
    // A call placed for a transfer that ends unanswered: the transferor
    // hears how it failed.
    const int status = NumberOr(call->GetStatusText(), 0);
    ReportTransfer(call, status >= 300 ? status : 487);
}

bool TSipEngine::IsRingingIncoming(ISipCall& call) {
    const TCallState state = call.GetState();
    return call.GetIncoming() && (state == csIdle || state == csRinging) && !IsEstablished(call);
}

int TSipEngine::RingingIncomingCount() {
    std::lock_guard<TSipCalls> list(Calls_);
    int count = 0;
    for (int i = 0; i < Calls_.Count(); ++i)
        if (IsRingingIncoming(*Calls_.Get(i))) ++count;
    return count;
}

void TSipEngine::MarkAwaitingAnswer(const ISipCall& call, bool awaiting) {
    std::lock_guard<std::mutex> notes(CallNotesLock_);
    if (awaiting) AwaitingAnswer_.insert(&call);
    else AwaitingAnswer_.erase(&call);
}

bool TSipEngine::IsAwaitingAnswer(const ISipCall& call) {
    std::lock_guard<std::mutex> notes(CallNotesLock_);
    return AwaitingAnswer_.count(&call) != 0;
}

bool TSipEngine::TakeRemoteMedia(ISipCall& call, const TSipMessage& message) {
    const TSdpAudio& sdp = message.Sdp();
    if (!sdp.present) return true;
    const std::optional<int> port = SdpPort(sdp.portToken);
    if (!port) return false;
    // Packets go to the stored address one by one, so a far end that moved
    // is reached without restarting the media.
    call.SetRemoteRtpPort(*port);
    call.SetRemoteRtpHost(sdp.address);
    if (!message.PayloadTypes.empty()) ChooseCodec(call, message);
    return true;
}

void TSipEngine::ReportTransfer(const ISipCallPtr& placed, int status) {
    ISipCallPtr origin;
    {
        std::lock_guard<std::mutex> notes(CallNotesLock_);
        const auto found = TransferOrigins_.find(placed.get());
        if (found == TransferOrigins_.end()) return;
        origin = found->second.lock();
        if (status >= 200) TransferOrigins_.erase(found);
    }
    if (!origin || origin->GetState() == csIdle || !Active_) return;
    {
        std::lock_guard<ISipCall> guard(*origin);
        origin->SetBranch(NewBranch());
        origin->Dialog().NextLocalCSeq();
        const std::string sipfrag = "SIP/2.0 " + std::to_string(status) + " " + ReasonPhrase(status);
        SendCallText(*origin, ComposeReferNotify(*origin, sipfrag, status >= 200));
    }
    if (status < 200 || status >= 300) return;
    // Transferred: the transferor ends the old dialog with BYE once it has
    // the final NOTIFY (RFC 5589); only if that never comes is it ended here
    // (TickTransfers).
    std::lock_guard<std::mutex> notes(CallNotesLock_);
    TransferredAway_.emplace(origin.get(), Now());
}

void TSipEngine::SendDtmfInfo(ISipCallPtr call, char digit) {
    call->Dialog().NextLocalCSeq();
    SendCallText(*call, ComposeInfo(*call, digit));
}

void TSipEngine::SendDtmfRfc2833(ISipCallPtr call, const std::string& digits) {
    std::lock_guard<ISipCall> guard(*call);
    call->QueueDtmf(digits);
}

void TSipEngine::PlayWavFile(ISipCallPtr call, const std::string& fileName) {
    auto wav = std::make_shared<media::TWavFile>(fileName);
    std::lock_guard<ISipCall> guard(*call);
    call->PlayWav(wav);
}

bool TSipEngine::PlayWavFileToSpeaker(ISipCallPtr call, const std::string& fileName) {
    return call->PlayWavToSpeaker(std::make_shared<media::TWavFile>(fileName));
}

void TSipEngine::SpeakText(ISipCallPtr call, const std::string& text, int voiceIndex) {
    call->PlayWav(media::TWavStream::FromText(text, voiceIndex));
}

// ---------------------------------------------------------------------------
// Helpers shared with the INVITE rules
// ---------------------------------------------------------------------------

void TSipEngine::ChooseCodec(ISipCall& call, const TSipMessage& message) {
    // An offer (a re-INVITE's) is answered in our order of preference; an
    // answer (a response's, or an ACK's to our offer in a 200) lists the
    // far end's preference first, and we send what it prefers (RFC 3264).
    const bool answer = !message.StatusCode.empty() || message.CSeqMethod == "ACK";
    const TSdpAudio& sdp = message.Sdp();
    call.SetTelephoneEventTypes(answer ? EventTypesAnswered(sdp.telephoneEvent)
                                       : EventTypesAnswering(sdp.telephoneEvent));
    const std::vector<TPayloadNumber> numbers = PayloadNumbers(sdp, message.PayloadTypes);
    const std::vector<int> listed = OwnPayloadTypes(numbers);
    const std::vector<int> common = CommonPayloadTypes(listed);
    const int payloadType = answer ? (common.empty() ? -1 : common.front()) : ChoosePayload(listed);
    // An answer without any codec of ours keeps the codec the call has: a call
    // without one would carry no voice at all.
    if (payloadType < 0) return;
    // The peer may send any codec of its answer that was offered: an
    // answerer under the numbers of our offer, an offerer under its own.
    const IAudioCodecPtr codec = call.GetCodec();
    std::vector<TPayloadNumber> offered;
    if (answer) {
        std::lock_guard<std::mutex> guard(CodecLock_);
        offered = OfferedPayloadNumbers(Codecs_, codec ? codec->GetOwnPayloadType() : -1,
                                        codec ? codec->GetPayloadType() : -1);
    }
    std::vector<int> agreed;
    agreed.reserve(common.size());
    std::vector<int> received;
    for (const int own : common) {
        const int wire = WirePayloadType(numbers, own);
        if (!answer) {
            // An offerer sends each codec under its own number only.
            agreed.push_back(wire);
            if (own == payloadType) received.assign(1, wire);
            continue;
        }
        std::vector<int> numbersOf = ReceivedPayloadTypes(offered, own, wire);
        agreed.insert(agreed.end(), numbersOf.begin(), numbersOf.end());
        if (own == payloadType) received = std::move(numbersOf);
    }
    call.SetNegotiatedPayloadTypes(agreed);
    const int wirePayloadType = WirePayloadType(numbers, payloadType);
    if (codec && codec->GetOwnPayloadType() == payloadType && codec->GetPayloadType() == wirePayloadType)
        return;
    call.SetCodec(media::CreateCodec(payloadType, FormatParametersOf(sdp, wirePayloadType), wirePayloadType,
                                     received));
}

void TSipEngine::StartMedia(ISipCall& call) {
    if (!call.GetCodec()) {
        std::lock_guard<std::mutex> guard(CodecLock_);
        if (!Codecs_.empty()) call.SetCodec(media::CodecRegistry().Create(Codecs_.front()));
    }
    call.SetMediaActive(true);
}

void TSipEngine::TakeRtpPort(ISipCall& call) {
    // Another program may hold a port the pool hands out: the call takes the
    // next one, before any SDP names it. The ports refused stay out of the
    // draw until the call has one.
    constexpr int kAttempts = 8;
    std::vector<int> refused;
    const auto giveBackRefused = [&] {
        for (const int port : refused) Ports_.ReleaseRtpPort(port);
    };
    for (int attempt = 1;; ++attempt) {
        const int port = Ports_.AllocateRtpPort();
        try {
            call.TakeLocalRtpPort(port);
            giveBackRefused();
            return;
        } catch (const ESipError& error) {
            refused.push_back(port);
            if (std::string(error.what()) != "bind failed" || attempt == kAttempts) {
                giveBackRefused();
                throw;
            }
        }
    }
}

void TSipEngine::GiveBackRtpPort(ISipCall& call) {
    // Only the call that held the port gives it back: a call ended twice
    // must not free a port the pool has since lent to another.
    if (call.ReleaseLocalRtpPort())
        Ports_.ReleaseRtpPort(call.GetLocalRtpPort());
}

bool TSipEngine::IsEstablished(ISipCall& call) { return call.Dialog().Established(); }
