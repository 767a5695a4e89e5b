// A call that only holds the fields the composers read, so composer tests
// need neither media nor the engine. Every field is public and set directly
// by the tests, the dialog through its own transitions; the operations of
// the media side do nothing.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "sip/message.h"
#include "sip/sipints.h"

// A codec that only knows its payload type.
class TFakeCodec : public IAudioCodec {
public:
    explicit TFakeCodec(int payloadType) : PayloadType(payloadType) {}
    int GetFrameSize() override { return kFrameSamples; }
    int GetPayloadType() override { return PayloadType; }
    int Decode(const uint8_t*, int16_t*, int) override { return 0; }
    int Encode(const int16_t*, uint8_t*) override { return 0; }
    std::string GetFormatParameters() override { return FormatParameters; }
    int PayloadType;
    std::string FormatParameters;
};

class TFakeCall : public ISipCall {
public:
    explicit TFakeCall(std::string callId = "FEDCBA9876543210FEDCBA9876543210",
                       std::string localTag = "A1B2C3D4E")
        : DialogState(std::move(callId), std::move(localTag)) {}

    TDialog DialogState;
    std::string Branch, ViaHeaders;
    std::string FromHeader, ToHeader, Direction = "sendrecv";
    std::string AuthStatus, Realm, Nonce, Opaque, Qop, AuthorizationLine, ReferTarget, Target;
    TDigestUse DigestUse;
    int SdpVersion = 0, SdpSessionId = 0, LocalRtpPort = 0;
    bool PortTaken = false;
    IAudioCodecPtr Codec;
    std::vector<int> NegotiatedPayloadTypes;
    TTelephoneEventTypes TelephoneEventTypes;
    ISipAccountPtr Account;
    TCallCrypto Crypto;

    TDialog& Dialog() override { return DialogState; }
    std::string GetBranch() override { return Branch; }
    void SetBranch(const std::string& v) override { Branch = v; }
    std::string GetViaHeaders() override { return ViaHeaders; }
    void SetViaHeaders(const std::string& v) override { ViaHeaders = v; }
    std::string GetFromHeader() override { return FromHeader; }
    void SetFromHeader(const std::string& v) override { FromHeader = v; }
    std::string GetToHeader() override { return ToHeader; }
    void SetToHeader(const std::string& v) override { ToHeader = v; }
    std::string GetDirection() override { return Direction; }
    void SetDirection(const std::string& v) override { Direction = v; }
    std::string GetAuthStatus() override { return AuthStatus; }
    void SetAuthStatus(const std::string& v) override { AuthStatus = v; }
    std::string GetRealm() override { return Realm; }
    void SetRealm(const std::string& v) override { Realm = v; }
    std::string GetNonce() override { return Nonce; }
    void SetNonce(const std::string& v) override { Nonce = v; }
    std::string GetOpaque() override { return Opaque; }
    void SetOpaque(const std::string& v) override { Opaque = v; }
    TDigestUse GetDigestUse() override { return DigestUse; }
    void SetDigestUse(const TDigestUse& v) override { DigestUse = v; }
    std::string GetQop() override { return Qop; }
    void SetQop(const std::string& v) override { Qop = v; }
    std::string GetAuthorizationLine() override { return AuthorizationLine; }
    void SetAuthorizationLine(const std::string& v) override { AuthorizationLine = v; }
    std::string GetReferTarget() override { return ReferTarget; }
    void SetReferTarget(const std::string& v) override { ReferTarget = v; }
    std::string GetTarget() override { return Target; }
    void SetTarget(const std::string& v) override { Target = v; }
    int GetSdpVersion() override { return SdpVersion; }
    void SetSdpVersion(int v) override { SdpVersion = v; }
    int GetSdpSessionId() override { return SdpSessionId; }
    void SetSdpSessionId(int v) override { SdpSessionId = v; }
    int GetLocalRtpPort() override { return LocalRtpPort; }
    void SetLocalRtpPort(int v) override { LocalRtpPort = v; }
    void TakeLocalRtpPort(int v) override {
        LocalRtpPort = v;
        PortTaken = true;
    }
    bool ReleaseLocalRtpPort() override { return std::exchange(PortTaken, false); }
    IAudioCodecPtr GetCodec() override { return Codec; }
    void SetCodec(IAudioCodecPtr v) override { Codec = v; }
    std::vector<int> GetNegotiatedPayloadTypes() override { return NegotiatedPayloadTypes; }
    void SetNegotiatedPayloadTypes(const std::vector<int>& v) override { NegotiatedPayloadTypes = v; }
    TTelephoneEventTypes GetTelephoneEventTypes() override { return TelephoneEventTypes; }
    void SetTelephoneEventTypes(TTelephoneEventTypes v) override { TelephoneEventTypes = v; }
    TCallCrypto GetCrypto() override { return Crypto; }
    void SetCrypto(const TCallCrypto& v) override { Crypto = v; }
    ISipAccountPtr GetAccount() override { return Account; }
    void SetAccount(ISipAccountPtr v) override { Account = v; }


    // Media and notification side: not used by the composers.
    std::string GetDtmfReceived() override { return {}; }
    void SetDtmfReceived(const std::string&) override {}
    TAutoResetEventPtr GetRingingEvent() override { return nullptr; }
    TAutoResetEventPtr GetSilenceEvent() override { return nullptr; }
    TAutoResetEventPtr GetDtmfEvent() override { return nullptr; }
    TAutoResetEventPtr GetAnsweredEvent() override { return nullptr; }
    TAutoResetEventPtr GetEndedEvent() override { return nullptr; }
    TAutoResetEventPtr GetWavDoneEvent() override { return nullptr; }
    void SendAudioFrame(const int16_t*) override {}
    ISipSpeakerPtr GetSpeaker() override { return nullptr; }
    void SetSpeaker(ISipSpeakerPtr) override {}
    ISipMicrophonePtr GetMicrophone() override { return nullptr; }
    void SetMicrophone(ISipMicrophonePtr) override {}
    std::string GetStatusText() override { return {}; }
    void SetStatusText(const std::string&) override {}
    int GetStatusCode() override { return 0; }
    void SetStatusCode(int) override {}
    void TapReceivedFrame(const int16_t*) override {}
    void ReportDtmf(const std::string&) override {}
    void ReportSilence() override {}
    void SetConference(ISipConferencePtr) override {}
    void SetRecorder(ISipRecorderPtr) override {}
    ISipRecorderPtr GetRecorder() override { return nullptr; }
    int GetSilenceTimeout() override { return 0; }
    void SetSilenceTimeout(int) override {}
    int GetSilenceThreshold() override { return 0; }
    void SetSilenceThreshold(int) override {}
    uint32_t GetLastSoundTime() override { return 0; }
    void SetLastSoundTime(uint32_t) override {}
    std::string GetRemoteSipPort() override { return {}; }
    void SetRemoteSipPort(const std::string&) override {}
    std::string GetRemoteSipHost() override { return {}; }
    void SetRemoteSipHost(const std::string&) override {}
    IWavFilePtr GetWavFile() override { return nullptr; }
    void SetWavFile(IWavFilePtr) override {}
    void QueueDtmf(const std::string&) override {}
    bool GetEventInProgress() override { return false; }
    void SetEventInProgress(bool) override {}
    double GetStartTime() override { return 0; }
    bool GetMediaActive() override { return false; }
    void SetMediaActive(bool) override {}
    bool GetIncoming() override { return false; }
    void SetIncoming(bool) override {}
    void Lock() override {}
    void Unlock() override {}
    std::string GetReceivedHost() override { return {}; }
    void SetReceivedHost(const std::string&) override {}
    std::string GetReceivedPort() override { return {}; }
    void SetReceivedPort(const std::string&) override {}
    int GetRemoteRtpPort() override { return 0; }
    void SetRemoteRtpPort(int) override {}
    std::string GetRemoteRtpHost() override { return {}; }
    void SetRemoteRtpHost(const std::string&) override {}
    bool GetOnHold() override { return false; }
    void SetOnHold(bool) override {}
    TCallState GetState() override { return csIdle; }
    void SetState(TCallState) override {}
    bool GetSpeakerEnabled() override { return true; }
    void SetSpeakerEnabled(bool) override {}
    int GetSpeakerDevice() override { return -1; }
    void SetSpeakerDevice(int) override {}
    int GetMicrophoneDevice() override { return -1; }
    void SetMicrophoneDevice(int) override {}
    bool GetMicrophoneEnabled() override { return true; }
    void SetMicrophoneEnabled(bool) override {}
    void PlayWav(IWavFilePtr) override {}
    bool PlayWavToSpeaker(IWavFilePtr) override { return false; }
};

#include "sip/account.h"

// True when `text` is `count` digits of the hexadecimal alphabet `digits`.
inline bool IsHexText(const std::string& text, std::size_t count, const char* digits) {
    return text.size() == count && text.find_first_not_of(digits) == std::string::npos;
}

// The text after the first `marker` in `text`, up to the next CR LF.
inline std::string ValueAfter(const std::string& text, const std::string& marker) {
    const auto at = text.find(marker);
    if (at == std::string::npos) return {};
    const auto start = at + marker.size();
    return text.substr(start, text.find("\r\n", start) - start);
}

// The account every composer test uses: fixed identifiers in place of the
// random ones, so whole datagrams can be written out by hand.
inline std::shared_ptr<TAccount> MakeTestAccount() {
    auto account = std::make_shared<TAccount>("", "sip.telvira.example", "1001", "secret", "",
                                              TAccountAddresses{"192.0.2.10", "192.168.1.20"});
    account->SetLocalPort(5075);
    account->SetCallId("0123456789ABCDEF0123456789ABCDEF");
    account->SetBranch("z9hG4bK0A1B2C3D4E");
    account->SetTag("5F6E7D8C9");
    account->SetCSeq(7);
    account->SetExpires(3000);
    account->SetDisplayName("Linea 1");
    return account;
}

// An outgoing call to 2001 before any answer: no remote tag, no Via taken
// over, no route set.
inline std::shared_ptr<TFakeCall> MakeTestCall(const ISipAccountPtr& account) {
    auto call = std::make_shared<TFakeCall>();
    call->Account = account;
    call->Dialog().StartOutgoing("sip:1001@sip.telvira.example", "sip:2001@sip.telvira.example", 12);
    call->Branch = "z9hG4bK99887766AA";
    call->Target = "2001";
    call->SdpSessionId = 4321;
    call->LocalRtpPort = 22000;
    return call;
}

// The far end of the test call answers 2xx with `remoteTag`, its Contact
// `contact` (none when empty) and a route set of `routes` in the order our
// requests carry them (its Record-Route lists them the other way round).
inline void AnswerTestCall(TFakeCall& call, const std::string& remoteTag, const std::string& contact,
                           const std::vector<std::string>& routes = {}) {
    std::string text = "SIP/2.0 200 OK\r\nTo: <" + call.Dialog().RemoteUri() + ">;tag=" + remoteTag +
                       "\r\nFrom: <" + call.Dialog().LocalUri() + ">;tag=" + call.Dialog().LocalTag() +
                       "\r\nCall-ID: " + call.Dialog().CallId() + "\r\nCSeq: " +
                       std::to_string(call.Dialog().LocalCSeq()) + " INVITE\r\n";
    if (!contact.empty()) text += "Contact: <" + contact + ">\r\n";
    for (auto route = routes.rbegin(); route != routes.rend(); ++route)
        text += "Record-Route: " + *route + "\r\n";
    call.Dialog().TakeAnswer(TSipMessage(text + "Content-Length: 0\r\n\r\n"));
}

// Counts the test call's CSeq up to `cseq`.
inline void CountCSeqTo(TFakeCall& call, uint32_t cseq) {
    while (call.Dialog().LocalCSeq() < cseq) call.Dialog().NextLocalCSeq();
}
