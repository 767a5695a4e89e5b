// Steps of the INVITE state machine for requests of the far end: a new
// incoming call, a re-INVITE inside a call's dialog, and the ACK that may
// carry the SDP answer to our offer.
#include "engine/engine.h"

#include <random>

#include "media/codecs.h"
#include "sip/compose.h"
#include "sip/message.h"
#include "sip/sdp.h"
#include "sip/sdp_crypto.h"
#include "sip/sdp_payload_numbers.h"
#include "sip/text.h"

namespace {

using sip_text::NumberOr;

}  // namespace

// Refusals go out at once; a call that may ring is listed, answered 100 and
// 180, and returned for the host to hear of (kOffer).
ISipCallPtr TSipEngine::OnIncomingInvite(const TSipMessage& message) {
    const ISipAccountPtr account = FindAccountFor(message.ToUser, message.RequestUser);
    // Whoever may ring the agent: the account's server, which puts any
    // number it routes here (a DID) in the Request-URI; anyone else only
    // at the account's own user, and nobody else at all when calls are
    // taken from the server only. A scanner trying extensions rings nothing
    // and holds no ringing slot.
    const bool fromServer = FromAccountServer();
    if (!fromServer && CallsFromServerOnly_) {
        SendToVia(message, nullptr, ComposeResponseWithTag(message, "403 Forbidden", NewTag()), false);
        return nullptr;
    }
    if (message.RequestUser.empty() || !account ||
        (!fromServer && !AddressedToAccount(*account, message.RequestUser))) {
        SendToVia(message, nullptr, ComposeResponseWithTag(message, "404 Not Found", NewTag()));
        return nullptr;
    }

    // An offer whose port is no port is refused, not read as another port.
    const TSdpAudio offer = ReadSdpAudio(message.Body);
    const std::optional<int> offeredPort = offer.present ? SdpPort(offer.portToken) : std::nullopt;
    // Chosen by our numbers, answered in the offerer's.
    const std::vector<TPayloadNumber> numbers = PayloadNumbers(offer, message.PayloadTypes);
    int payloadType = ChoosePayload(OwnPayloadTypes(numbers));
    if (payloadType < 0 && message.PayloadTypes.empty() && GetCodecCount() > 0)
        payloadType = GetCodecAt(0);
    // SRTP asked for on signalling that gives its keys away, or in suites
    // we do not speak, is refused rather than answered in the clear.
    const bool secureSignalling = CallSignallingIsSecure(*account);
    const bool srtpUnmet = offer.Secure() && (!secureSignalling || !ChooseOfferedCrypto(offer.crypto));
    const bool bestEffortSrtp = !offer.Secure() && secureSignalling && ChooseOfferedCrypto(offer.crypto);
    if (payloadType < 0 || (offer.present && !offeredPort) || srtpUnmet) {
        SendToVia(message, nullptr, ComposeNotAcceptable(message, NewTag()));
        return nullptr;
    }
    // Unanswered calls cost a call object each and nothing more (the RTP port
    // is taken when answering); a flood of them is turned away beyond a few.
    if (RingingIncomingCount() >= kMaxRingingIncoming) {
        SendToVia(message, nullptr, ComposeResponseWithTag(message, "486 Busy Here", NewTag()));
        return nullptr;
    }

    // Nobody else sees the call before it is listed: it is filled in first,
    // and locked only once listed (the list before the call).
    const std::shared_ptr<TCall> call = NewCall(account, message.CallId);
    call->SetLocalRtpPort(0);
    call->SetRemoteSipHost(account->GetServerAddress());
    call->SetRemoteRtpHost(offer.present ? offer.address : std::string());
    call->SetRemoteRtpPort(offeredPort.value_or(0));
    // Without an offer the 200 carries ours and the ACK the answer.
    call->SetDirection(offer.present ? AnswerDirection(offer.direction, offer.address, false)
                                     : std::string("sendrecv"));
    if (!offer.present) MarkAwaitingAnswer(*call, true);
    if (offer.Secure() || bestEffortSrtp) {
        TCallCrypto crypto = *AnswerOfferedCrypto({}, offer.crypto);
        crypto.bestEffort = bestEffortSrtp;
        call->SetCrypto(crypto);
    } else if (!offer.present) {
        OfferSrtpIfSecure(*call);
    }
    call->SetSilenceTimeout(SilenceTimeout_);
    call->SetSilenceThreshold(SilenceThreshold_);
    call->SetFromHeader(message.FromHeader);
    call->SetToHeader(message.ToHeader);
    const int wirePayloadType = WirePayloadType(numbers, payloadType);
    call->SetCodec(media::CreateCodec(payloadType, FormatParametersOf(offer, wirePayloadType), wirePayloadType));
    // The answer names this one only, and comfort noise when offered.
    call->SetNegotiatedPayloadTypes(AnswerPayloadTypes(wirePayloadType, message.PayloadTypes));
    call->SetTelephoneEventTypes(EventTypesAnswering(offer.telephoneEvent));
    call->SetSpeakerEnabled(true);
    call->SetMicrophoneEnabled(true);
    call->SetIncoming(true);
    call->SetViaHeaders(message.ViaHeaders);
    call->SetReceivedHost(message.ViaHost);
    call->SetReceivedPort(message.ViaPort);
    call->Dialog().StartIncoming(message, NextCSeq());
    call->SetTarget(message.FromUser);
    call->SetRemoteSipPort(message.ContactPort);
    Calls_.Add(call);

    std::lock_guard<ISipCall> guard(*call);
    SendToVia(message, nullptr, ComposeResponse(message, "100 Trying"));
    // With our tag: the caller's early dialog is the one the 200 confirms.
    SendCallResponse(*call, ComposeCallResponse(*call, "180 Ringing"));
    return call;
}

TSipEngine::TAfterStep TSipEngine::OnReInvite(ISipCall& call, const TSipMessage& message) {
    if (OwnReInvitePending(call)) {
        RefuseReInvite(call, message);
        return TAfterStep::kNothing;
    }
    const TSdpAudio& offer = message.Sdp();
    const std::optional<TCallCrypto> crypto = offer.present ? CryptoForOffer(call, offer) : std::nullopt;
    if (offer.present && (!SdpPort(offer.portToken) || !crypto)) {
        // The call goes on as it was; only this offer is refused.
        SendToVia(message, nullptr, ComposeNotAcceptable(message, NewTag()));
        return TAfterStep::kNothing;
    }
    if (crypto) call.SetCrypto(*crypto);
    call.SetViaHeaders(message.ViaHeaders);
    // The route set is fixed when the dialog starts (RFC 3261 12.2): a
    // Record-Route in a request inside it changes nothing, and a proxy that
    // sends none must not strand our later BYE either.
    call.Dialog().TakeRequest(message);
    call.SetFromHeader(message.FromHeader);
    call.SetToHeader("To: <" + std::string(message.ToUri()) + ">");
    call.SetSdpVersion(call.GetSdpVersion() + 1);
    if (!offer.present) {
        // No offer: ours goes in the 200 and the answer comes in the ACK
        // (RFC 3264); the media keeps its target until then.
        MarkAwaitingAnswer(call, true);
        SendCallText(call, ComposeOkWithOffer(call, GetCodecList()));
        return TAfterStep::kNothing;
    }
    TakeRemoteMedia(call, message);
    // Our answer names the call's codec only, so only it is agreed.
    if (!message.PayloadTypes.empty())
        if (const IAudioCodecPtr codec = call.GetCodec())
            call.SetNegotiatedPayloadTypes(AnswerPayloadTypes(codec->GetPayloadType(), message.PayloadTypes));
    if (call.GetRemoteRtpPort() != 0 && !call.GetMediaActive()) StartMedia(call);
    // Kept on the call: a far end that holds us sends nothing, and the
    // media timeout must not take that for a dead peer.
    call.SetDirection(AnswerDirection(offer.direction, offer.address, call.GetOnHold()));
    SendCallText(call, ComposeOkWithAnswer(call, call.GetDirection()));
    return TAfterStep::kNothing;
}

bool TSipEngine::OwnReInvitePending(ISipCall& call) {
    return IsEstablished(call) && Client_.AwaitsFinalResponse(call.GetBranch(), call.GetCallId());
}

void TSipEngine::RefuseReInvite(ISipCall& call, const TSipMessage& message) {
    if (OwnReInvitePending(call)) {
        SendToVia(message, nullptr, ComposeResponse(message, "491 Request Pending"));
        return;
    }
    // Up to ten seconds, as RFC 3261 14.2 asks, so the far end retries once
    // this call has settled.
    static thread_local std::mt19937 random{std::random_device{}()};
    const int wait = std::uniform_int_distribution<int>(0, 10)(random);
    std::string text = ComposeResponse(message, "500 Server Internal Error");
    text.insert(text.rfind("Content-Length:"), "Retry-After: " + std::to_string(wait) + "\r\n");
    SendToVia(message, nullptr, text);
}

// The ACK of our 2xx: it carries the SDP answer when our 200 made the offer.
void TSipEngine::OnAck(const TSipMessage& message) {
    if (!IsRequest(message)) return;
    const ISipCallPtr call = FindCall(message.CallId);
    if (!call) return;
    {
        std::lock_guard<ISipCall> guard(*call);
        if (!IsAwaitingAnswer(*call)) return;
        MarkAwaitingAnswer(*call, false);
        if (TakeRemoteMedia(*call, message) && TakeAnswerKeys(*call, ReadSdpAudio(message.Body))) {
            if (call->GetRemoteRtpPort() != 0 && !call->GetMediaActive()) StartMedia(*call);
            return;
        }
        // An answer that names no port leaves the call without voice: end it.
        call->SetStatusText("488");
        HangUp(call);
        call->SetState(csIdle);
    }
    EndCall(call);
}
