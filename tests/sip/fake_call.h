// A call that only holds the fields the composers read, so composer tests
// need neither media nor the engine. Every field is public and set directly
// by the tests; the operations of the media side do nothing.
#pragma once

#include <string>
#include <vector>

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
    std::string RemoteUri, LocalUri, LocalTag, RemoteTag, CallId, Branch, ViaHeaders;
    std::string RemoteContact, FromHeader, ToHeader, Direction = "sendrecv";
    std::string AuthStatus, Realm, Nonce, Opaque, Qop, AuthorizationLine, ReferTarget, Target;
    TDigestUse DigestUse;
    std::vector<std::string> RecordRoutes;  // as received, first entry first
    int CSeq = 0, RemoteCSeq = 0, SdpVersion = 0, SdpSessionId = 0, LocalRtpPort = 0;
    IAudioCodecPtr Codec;
    std::vector<int> NegotiatedPayloadTypes;
    ISipAccountPtr Account;

    std::string GetRemoteUri() override { return RemoteUri; }
    void SetRemoteUri(const std::string& v) override { RemoteUri = v; }
    std::string GetLocalUri() override { return LocalUri; }
    void SetLocalUri(const std::string& v) override { LocalUri = v; }
    std::string GetLocalTag() override { return LocalTag; }
    void SetLocalTag(const std::string& v) override { LocalTag = v; }
    std::string GetRemoteTag() override { return RemoteTag; }
    void SetRemoteTag(const std::string& v) override { RemoteTag = v; }
    std::string GetCallId() override { return CallId; }
    void SetCallId(const std::string& v) override { CallId = v; }
    std::string GetBranch() override { return Branch; }
    void SetBranch(const std::string& v) override { Branch = v; }
    std::string GetViaHeaders() override { return ViaHeaders; }
    void SetViaHeaders(const std::string& v) override { ViaHeaders = v; }
    std::string GetRemoteContact() override { return RemoteContact; }
    void SetRemoteContact(const std::string& v) override { RemoteContact = v; }
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
    int GetCSeq() override { return CSeq; }
    void SetCSeq(int v) override { CSeq = v; }
    int GetRemoteCSeq() override { return RemoteCSeq; }
    void SetRemoteCSeq(int v) override { RemoteCSeq = v; }
    int GetSdpVersion() override { return SdpVersion; }
    void SetSdpVersion(int v) override { SdpVersion = v; }
    int GetSdpSessionId() override { return SdpSessionId; }
    void SetSdpSessionId(int v) override { SdpSessionId = v; }
    int GetLocalRtpPort() override { return LocalRtpPort; }
    void SetLocalRtpPort(int v) override { LocalRtpPort = v; }
    IAudioCodecPtr GetCodec() override { return Codec; }
    void SetCodec(IAudioCodecPtr v) override { Codec = v; }
    std::vector<int> GetNegotiatedPayloadTypes() override { return NegotiatedPayloadTypes; }
    void SetNegotiatedPayloadTypes(const std::vector<int>& v) override { NegotiatedPayloadTypes = v; }
    ISipAccountPtr GetAccount() override { return Account; }
    void SetAccount(ISipAccountPtr v) override { Account = v; }

    int GetRouteCount() override { return static_cast<int>(RecordRoutes.size()); }
    std::string GetRouteHeaders() override { return Lines("Route: "); }
    std::string GetRecordRouteHeaders() override { return Lines("Record-Route: "); }
    std::string GetRouteHeader() override {
        if (RecordRoutes.empty()) return {};
        std::string joined;
        for (const auto& entry : RecordRoutes) joined += (joined.empty() ? "" : ",") + entry;
        return "Route: " + joined + "\r\n";
    }
    void SetRouteSet(const TSipMessage&) override {}

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

private:
    std::string Lines(const std::string& name) const {
        std::string text;
        for (const auto& entry : RecordRoutes) text += name + entry + "\r\n";
        return text;
    }
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
    call->RemoteUri = "sip:2001@sip.telvira.example";
    call->LocalUri = "sip:1001@sip.telvira.example";
    call->LocalTag = "A1B2C3D4E";
    call->CallId = "FEDCBA9876543210FEDCBA9876543210";
    call->Branch = "z9hG4bK99887766AA";
    call->CSeq = 12;
    call->Target = "2001";
    call->SdpSessionId = 4321;
    call->LocalRtpPort = 22000;
    return call;
}
