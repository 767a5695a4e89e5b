// One SIP call (TCall): dialog identifiers and header material, negotiated
// media, the media objects, a small state machine and six notification
// events.
//
// Threading contract:
// - CallLock_ (Lock/Unlock, recursive) is taken by the engine around every
//   state change and message composition, and guards DtmfQueue_.
// - Every other lock is a leaf, held only while a reference or text is copied
//   (or, for the tap, recorder and socket locks, across the one call into the
//   tap or the socket), never while calling the event sink.
// - The media (receive, playout, control reports) runs on a media loop shared
//   by the engine's calls (or the call's own, without one); DrainLock_ makes
//   one taker of the call's sockets at a time, the loop or a speaker that
//   asks for its frame. It is taken before SocketLock_.
// - Numbers and flags are atomics; State_ changes by exchange so that a change
//   to csIdle raises Bye exactly once even with racing callers.
// - EventSink_ is fixed at creation: a call keeps the sink it was given even
//   when the engine's sink is replaced later.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/auto_reset_event.h"
#include "media/call_media_path.h"
#include "media/call_quality.h"
#include "media/call_srtp.h"
#include "media/media_loop.h"
#include "media/media_sockets.h"
#include "media/rtp_source_filter.h"
#include "media/speaker_mix.h"
#include "sip/sipints.h"

// Sources of time; tests replace them so that nothing has to sleep.
struct TCallClock {
    std::function<uint32_t()> tick;  // millisecond tick, wraps at 2^32
    std::function<double()> now;     // date-time as a day count
};
// The steady millisecond tick and the local time as days since 1899-12-30.
TCallClock SystemCallClock();

// What a call is created with; the rest starts at its fixed start values.
struct TCallSettings {
    ISipAccountPtr account;
    ISipEventHandlerPtr eventSink;  // may be empty: the call then raises nothing
    std::string callId;             // empty: a fresh identifier
    TCallClock clock = SystemCallClock();
    // RTP send and receive paths; without them media carries nothing.
    ICallMediaPathPtr mediaPath;
    // How often control reports go out on the RTP port + 1.
    std::chrono::milliseconds reportInterval{5000};
    // The thread that carries the call's media, shared with the engine's
    // other calls; empty: the call starts a loop of its own when its media
    // first starts.
    std::shared_ptr<media::TMediaLoop> mediaLoop;
};

// RTP send state, used by the send path on the capture thread only.
struct TRtpSendState {
    static constexpr std::size_t kHeaderSize = 12;
    static constexpr std::size_t kMaxPayload = 1024;
    std::array<uint8_t, kHeaderSize + kMaxPayload> packet{};
    int32_t payloadLength = 0;
    int32_t sequenceNumber = 0;
    int32_t timestamp = 0;
};

class TCall final : public ISipCall, public std::enable_shared_from_this<TCall>, private media::IMediaClient {
public:
    static constexpr uint32_t kDtmfDeadTimeMs = 120;

    explicit TCall(TCallSettings settings);
    ~TCall() override;
    TCall(const TCall&) = delete;
    TCall& operator=(const TCall&) = delete;

    static std::shared_ptr<TCall> Create(TCallSettings settings) {
        return std::make_shared<TCall>(std::move(settings));
    }

    // ISipCall, in interface order.
    TDialog& Dialog() override { return Dialog_; }
    std::string GetDtmfReceived() override;
    void SetDtmfReceived(const std::string& value) override;
    TAutoResetEventPtr GetRingingEvent() override { return RingingEvent_; }
    TAutoResetEventPtr GetSilenceEvent() override { return SilenceEvent_; }
    TAutoResetEventPtr GetDtmfEvent() override { return DtmfEvent_; }
    TAutoResetEventPtr GetAnsweredEvent() override { return AnsweredEvent_; }
    TAutoResetEventPtr GetEndedEvent() override { return EndedEvent_; }
    TAutoResetEventPtr GetWavDoneEvent() override { return WavDoneEvent_; }
    void SendAudioFrame(const int16_t* pcm) override;
    ISipSpeakerPtr GetSpeaker() override;
    void SetSpeaker(ISipSpeakerPtr value) override;
    ISipMicrophonePtr GetMicrophone() override;
    void SetMicrophone(ISipMicrophonePtr value) override;
    std::string GetStatusText() override { return ReadText(StatusText_); }
    void SetStatusText(const std::string& value) override { WriteText(StatusText_, value); }
    int GetStatusCode() override { return StatusCode_; }
    void SetStatusCode(int value) override { StatusCode_ = value; }
    std::string GetReferTarget() override { return ReadText(ReferTarget_); }
    void SetReferTarget(const std::string& value) override { WriteText(ReferTarget_, value); }
    void TapReceivedFrame(const int16_t* pcm) override;
    void ReportDtmf(const std::string& digit) override;
    void ReportSilence() override;
    void SetConference(ISipConferencePtr value) override;
    void SetRecorder(ISipRecorderPtr value) override;
    ISipRecorderPtr GetRecorder() override;
    std::string GetAuthorizationLine() override { return ReadText(AuthorizationLine_); }
    void SetAuthorizationLine(const std::string& value) override {
        WriteText(AuthorizationLine_, value);
    }
    std::string GetTarget() override { return ReadText(Target_); }
    void SetTarget(const std::string& value) override { WriteText(Target_, value); }
    std::string GetFromHeader() override { return ReadText(FromHeader_); }
    void SetFromHeader(const std::string& value) override { WriteText(FromHeader_, value); }
    std::string GetToHeader() override { return ReadText(ToHeader_); }
    void SetToHeader(const std::string& value) override { WriteText(ToHeader_, value); }
    int GetSilenceTimeout() override { return SilenceTimeout_; }
    void SetSilenceTimeout(int value) override { SilenceTimeout_ = value; }
    int GetSilenceThreshold() override { return SilenceThreshold_; }
    void SetSilenceThreshold(int value) override { SilenceThreshold_ = value; }
    uint32_t GetLastSoundTime() override { return LastSoundTime_; }
    void SetLastSoundTime(uint32_t value) override { LastSoundTime_ = value; }
    std::string GetRemoteSipPort() override { return ReadText(RemoteSipPort_); }
    void SetRemoteSipPort(const std::string& value) override { WriteText(RemoteSipPort_, value); }
    std::string GetDirection() override { return ReadText(Direction_); }
    void SetDirection(const std::string& value) override { WriteText(Direction_, value); }
    std::string GetRemoteSipHost() override { return ReadText(RemoteSipHost_); }
    void SetRemoteSipHost(const std::string& value) override { WriteText(RemoteSipHost_, value); }
    IWavFilePtr GetWavFile() override;
    void SetWavFile(IWavFilePtr value) override;
    void QueueDtmf(const std::string& digits) override;
    int GetSdpVersion() override { return SdpVersion_; }
    void SetSdpVersion(int value) override { SdpVersion_.exchange(value); }
    int GetSdpSessionId() override { return SdpSessionId_; }
    void SetSdpSessionId(int value) override { SdpSessionId_.exchange(value); }
    bool GetEventInProgress() override { return EventInProgress_; }
    void SetEventInProgress(bool value) override { EventInProgress_ = value; }
    double GetStartTime() override { return StartTime_; }
    IAudioCodecPtr GetCodec() override;
    void SetCodec(IAudioCodecPtr value) override;
    std::vector<int> GetNegotiatedPayloadTypes() override;
    void SetNegotiatedPayloadTypes(const std::vector<int>& value) override;
    TTelephoneEventTypes GetTelephoneEventTypes() override;
    void SetTelephoneEventTypes(TTelephoneEventTypes value) override;
    bool GetMediaActive() override { return MediaActive_; }
    void SetMediaActive(bool on) override;
    bool GetIncoming() override { return Incoming_; }
    void SetIncoming(bool value) override { Incoming_ = value; }
    void Lock() override { CallLock_.lock(); }
    void Unlock() override { CallLock_.unlock(); }
    std::string GetBranch() override { return ReadText(Branch_); }
    std::string GetViaHeaders() override { return ReadText(ViaHeaders_); }
    void SetViaHeaders(const std::string& value) override { WriteText(ViaHeaders_, value); }
    std::string GetReceivedHost() override { return ReadText(ReceivedHost_); }
    void SetReceivedHost(const std::string& value) override { WriteText(ReceivedHost_, value); }
    std::string GetReceivedPort() override { return ReadText(ReceivedPort_); }
    void SetReceivedPort(const std::string& value) override { WriteText(ReceivedPort_, value); }
    std::string GetAuthStatus() override { return ReadText(AuthStatus_); }
    void SetAuthStatus(const std::string& value) override { WriteText(AuthStatus_, value); }
    int GetLocalRtpPort() override { return LocalRtpPort_; }
    void SetLocalRtpPort(int value) override;
    void TakeLocalRtpPort(int port) override;
    bool ReleaseLocalRtpPort() override;
    int GetRemoteRtpPort() override { return RemoteRtpPort_; }
    void SetRemoteRtpPort(int value) override { RemoteRtpPort_ = value; }
    std::string GetRemoteRtpHost() override { return ReadText(RemoteRtpHost_); }
    void SetRemoteRtpHost(const std::string& value) override { WriteText(RemoteRtpHost_, value); }
    void SetBranch(const std::string& value) override { WriteText(Branch_, value); }
    bool GetOnHold() override { return OnHold_; }
    void SetOnHold(bool value) override { OnHold_ = value; }
    TCallState GetState() override { return State_; }
    void SetState(TCallState value) override;
    bool GetSpeakerEnabled() override { return SpeakerEnabled_; }
    void SetSpeakerEnabled(bool value) override { SpeakerEnabled_.exchange(value); }
    int GetSpeakerDevice() override { return SpeakerDevice_; }
    void SetSpeakerDevice(int value) override { SpeakerDevice_ = value; }
    int GetMicrophoneDevice() override { return MicrophoneDevice_; }
    void SetMicrophoneDevice(int value) override { MicrophoneDevice_ = value; }
    bool GetMicrophoneEnabled() override { return MicrophoneEnabled_; }
    void SetMicrophoneEnabled(bool value) override { MicrophoneEnabled_.exchange(value); }
    ISipAccountPtr GetAccount() override;
    void SetAccount(ISipAccountPtr value) override;
    std::string GetQop() override { return ReadText(Qop_); }
    void SetQop(const std::string& value) override { WriteText(Qop_, value); }
    std::string GetOpaque() override { return ReadText(Opaque_); }
    void SetOpaque(const std::string& value) override { WriteText(Opaque_, value); }
    TDigestUse GetDigestUse() override;
    void SetDigestUse(const TDigestUse& value) override;
    std::string GetNonce() override { return ReadText(Nonce_); }
    void SetNonce(const std::string& value) override { WriteText(Nonce_, value); }
    std::string GetRealm() override { return ReadText(Realm_); }
    void PlayWav(IWavFilePtr wav) override;
    bool PlayWavToSpeaker(IWavFilePtr wav) override;
    void SetRealm(const std::string& value) override { WriteText(Realm_, value); }
    TCallCrypto GetCrypto() override;
    void SetCrypto(const TCallCrypto& value) override;

    // Beyond the interface: what the engine and the RTP paths need.

    // The send-side twin of TapReceivedFrame.
    void TapSentFrame(const int16_t* pcm);
    // Adds the sounds of PlayWavToSpeaker to a frame about to be heard (after
    // the taps, which hear the far end only); false when none plays.
    bool MixIntoSpeaker(int16_t* pcm, int count) { return SpeakerMix_.MixInto(pcm, count); }
    // The sink given at creation (empty when there was none).
    ISipEventHandlerPtr GetEventSink() const { return EventSink_; }
    // Delivers a digit without the dead time (digits that come by SIP INFO):
    // the sink's Dtmf, then, for 0-9, "*" and "#", the received digits grow
    // and the digit event is pulsed.
    void DeliverDtmf(char digit);
    uint32_t GetSsrc() const { return Ssrc_; }
    uint32_t Tick() const { return Clock_.tick(); }
    uint32_t GetLastDtmfTime() const { return LastDtmfTime_; }
    void SetLastDtmfTime(uint32_t value) { LastDtmfTime_ = value; }
    std::string GetInBandDigits() { return ReadText(InBandDigits_); }
    void SetInBandDigits(const std::string& value) { WriteText(InBandDigits_, value); }
    // The telephone-event queue: the send path looks at the first character
    // and drops it once sent, each under the call lock.
    std::string GetDtmfQueue();
    void DropQueuedDtmf();
    int GetDtmfPacketCount() const { return DtmfPacketCount_; }
    void SetDtmfPacketCount(int value) { DtmfPacketCount_ = value; }
    TRtpSendState& RtpSendState() { return RtpSend_; }
    // Sends one datagram to the remote RTP address on the call's RTP socket,
    // under the socket lock; false when media is stopped.
    bool SendRtp(const uint8_t* data, std::size_t length);
    // What the receive side dropped as not the peer's (read from any thread):
    // RTP datagrams, and control reports on the RTP port + 1.
    const media::TRtpSourceFilter& RtpFilter() const { return RtpFilter_; }
    const media::TRtpSourceFilter& ControlFilter() const { return ControlFilter_; }
    // The SRTP transform of the call's datagrams, with what it dropped.
    const media::TCallSrtp& Srtp() const { return Srtp_; }
    // The received audio's quality figures, as the receive path last
    // published them (kept after the media stops, for the call's record).
    media::TCallQuality GetQuality() const;
    void SetQuality(const media::TCallQuality& value);
    // What the send path has sent since media started, for sender reports:
    // packets, payload octets and the last packet's RTP timestamp.
    uint32_t GetSentPackets() const { return SentPackets_; }
    uint32_t GetSentOctets() const { return SentOctets_; }
    uint32_t GetLastSentTimestamp() const { return LastSentTimestamp_; }
    // The SSRC as it goes out in the RTP header's bytes.
    uint32_t GetWireSsrc() const;
    // RTP and control datagrams taken from the peer since the call began: a
    // count that stops moving means the far end went silent on the network.
    uint64_t GetMediaReceived() const { return MediaReceived_; }
    // Takes every datagram the kernel holds for the call (RTP and control)
    // through the receive paths; whoever plays out a frame calls it first.
    void DrainMedia();
    // Whether this thread is inside DrainMedia for this call: the receive
    // path then leaves the playout to the one that drains.
    bool DrainingHere() const;
    // Has the media loop run the call's playout within `ms`.
    void RunMediaWithin(double ms);

private:
    std::string ReadText(const std::string& field) const;
    void WriteText(std::string& field, const std::string& value);
    void StartMedia();
    void StopMedia(bool notifySink);
    void StopSocket();
    void DetachFromLoop();
    // media::IMediaClient, on the loop's thread.
    void DrainSockets() override { DrainMedia(); }
    TClock::time_point ServiceMedia(TClock::time_point now) override;
    void OnRtpDatagram(const std::string& address, uint16_t port, const uint8_t* data,
                       std::size_t length);
    void OnControlDatagram(const std::string& address, uint16_t port, const uint8_t* data,
                           std::size_t length);
    void SendControlReport();
    // Where media goes: the SDP's address and `sdpPort`, or, when the SDP
    // names no address our IPv4 sockets can reach, the far end's source as
    // `filter` heard it. False when there is nowhere to send yet.
    bool MediaTarget(const media::TRtpSourceFilter& filter, int sdpPort, std::string& host,
                     uint16_t& port);

    media::TRtpSourceFilter RtpFilter_;      // RTP socket thread only, but its counters
    media::TRtpSourceFilter ControlFilter_{false};  // control socket thread only, but its counters
    media::TCallSrtp Srtp_;  // its own locks: every media thread passes through it
    const ISipEventHandlerPtr EventSink_;  // fixed at creation
    const TCallClock Clock_;
    const ICallMediaPathPtr MediaPath_;
    TDialog Dialog_;

    // Call lock: state changes, composition, DtmfQueue_.
    std::recursive_mutex CallLock_;
    std::string DtmfQueue_;

    // Leaf lock for the text fields and the route set, held while copying.
    mutable std::mutex TextLock_;
    std::string AuthStatus_;
    std::string ViaHeaders_, RemoteRtpHost_, Direction_ = "sendrecv";
    std::string Opaque_, Qop_, Nonce_, Realm_, RemoteSipHost_, RemoteSipPort_, Branch_;
    std::string ReceivedHost_, ReceivedPort_, FromHeader_, ToHeader_;
    TDigestUse DigestUse_;
    std::string AuthorizationLine_, Target_, ReferTarget_, StatusText_;
    std::string InBandDigits_;
    ISipAccountPtr Account_;
    IAudioCodecPtr Codec_;
    std::vector<int> NegotiatedPayloadTypes_;
    TTelephoneEventTypes TelephoneEventTypes_;
    TCallCrypto Crypto_;

    std::mutex DigitsLock_;  // received-digits lock
    std::string DtmfReceived_;
    std::mutex SpeakerLock_;
    ISipSpeakerPtr Speaker_;
    std::mutex MicrophoneLock_;
    ISipMicrophonePtr Microphone_;
    std::mutex WavLock_;
    IWavFilePtr WavFile_;
    media::TSpeakerMix SpeakerMix_;
    std::mutex TapLock_;  // held across the call into the conference
    ISipConferencePtr Conference_;
    std::mutex RecorderLock_;  // held across the call into the recorder
    ISipRecorderPtr Recorder_;
    mutable std::mutex QualityLock_;  // leaf: guards Quality_
    media::TCallQuality Quality_;
    std::mutex DrainLock_;   // every receive; taken before SocketLock_
    std::mutex SocketLock_;  // every send
    std::unique_ptr<media::TMediaSockets> Sockets_;  // replaced under both locks
    // Sockets_ were bound by TakeLocalRtpPort: they outlive a stop of media.
    std::atomic<bool> PortTaken_{false};
    const std::chrono::milliseconds ReportInterval_;
    TClock::time_point ControlDue_{};  // the loop's thread only while media runs
    const std::shared_ptr<media::TMediaLoop> SharedLoop_;
    std::mutex LoopLock_;  // leaf: guards the three below
    std::shared_ptr<media::TMediaLoop> OwnLoop_;   // made when there is no shared one
    std::shared_ptr<media::TMediaLoop> ActiveLoop_;  // the loop the media runs on now
    media::TMediaLoop::TClientId LoopId_ = 0;
    std::atomic<uint32_t> SentPackets_{0};
    std::atomic<uint32_t> SentOctets_{0};
    std::atomic<uint32_t> MediaStartTick_{0};  // when the sent counters started
    std::atomic<uint32_t> LastSentTimestamp_{0};
    std::atomic<uint64_t> MediaReceived_{0};

    TRtpSendState RtpSend_;  // capture thread only
    std::atomic<int32_t> DtmfPacketCount_{0};
    std::atomic<int32_t> SilenceTimeout_{0};
    std::atomic<int32_t> SilenceThreshold_{0};
    std::atomic<uint32_t> LastSoundTime_{0};
    std::atomic<uint32_t> LastDtmfTime_{0};
    std::atomic<int32_t> LocalRtpPort_{0};
    std::atomic<int32_t> RemoteRtpPort_{0};
    const uint32_t Ssrc_;
    std::atomic<TCallState> State_{csIdle};
    std::atomic<bool> Incoming_{false};
    std::atomic<bool> MediaActive_{false};
    std::atomic<int32_t> SpeakerDevice_{-1};
    std::atomic<int32_t> MicrophoneDevice_{-1};
    std::atomic<bool> SpeakerEnabled_{true};
    std::atomic<bool> MicrophoneEnabled_{true};
    const double StartTime_;
    std::atomic<bool> EventInProgress_{false};
    std::atomic<bool> OnHold_{false};
    std::atomic<int32_t> SdpVersion_{0};
    std::atomic<int32_t> SdpSessionId_;
    std::atomic<int32_t> StatusCode_{0};

    const TAutoResetEventPtr RingingEvent_, SilenceEvent_, DtmfEvent_;
    const TAutoResetEventPtr AnsweredEvent_, EndedEvent_, WavDoneEvent_;
};
using TCallPtr = std::shared_ptr<TCall>;
