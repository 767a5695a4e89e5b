// The interfaces of the user agent. Every object behind them is reference
// counted through std::shared_ptr; objects that must hand themselves out (a
// call raising an event about itself) derive from enable_shared_from_this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sip/dialog.h"
#include "sip/signalling_transport.h"
#include "sip/telephone_event_types.h"

// ---------------------------------------------------------------------------
// States and shared types
// ---------------------------------------------------------------------------

// Registration state of an account, stored as one byte.
enum TAccountState : uint8_t {
    asIdle = 0,
    asStunQuery = 1,
    asRegistering = 2,
    asAuthenticating = 3,
    asRegistered = 4,
    asUnregistering = 5,
    asUnregAuthenticating = 6,
};

// State of a call, stored as one byte. 5 and 6 are never set, but the engine
// tests ranges that include them.
enum TCallState : uint8_t {
    csIdle = 0,
    csCalling = 1,
    csAuthenticating = 2,
    csRinging = 3,
    csConnected = 4,
    csHolding = 7,
    csTransferring = 8,
    csTransferAuth = 9,
};

// How keypad digits are sent into a call.
enum TDtmfMethod : uint8_t {
    dtmfInBand = 0,
    dtmfRFC2833 = 1,
    dtmfSipInfo = 2,
};

// How the credentials of one challenge have been used so far: the nonce
// they answer, the client nonce made for it and how many requests carried
// that nonce (the nonce count, RFC 2617). A new nonce starts a new use.
struct TDigestUse {
    std::string nonce;
    std::string cnonce;
    uint32_t count = 0;
};

// One crypto attribute of an SDP audio line (RFC 4568): its tag, its suite
// and the master key with its salt (raw bytes) of its one inline key.
struct TSdpCrypto {
    int tag = 0;
    std::string suite;
    std::vector<uint8_t> keySalt;
    bool operator==(const TSdpCrypto&) const = default;
};

// The SRTP keying of a call. An offer of ours carries `offered` (and is
// RTP/SAVP when it is not empty); once an offer and its answer agree,
// `local` is our key and `remote` the far end's, under the same tag and
// suite, and the call's media is encrypted.
struct TCallCrypto {
    std::vector<TSdpCrypto> offered;
    std::optional<TSdpCrypto> local;
    std::optional<TSdpCrypto> remote;
    // Agreed inside an RTP/AVP offer that carried crypto attributes anyway
    // (best-effort SRTP, as some agents offer): offers and answers of the
    // call keep RTP/AVP.
    bool bestEffort = false;
    bool Agreed() const { return local && remote; }
    // SRTP was asked for: until keys are agreed no media may flow.
    bool Wanted() const { return !offered.empty() || local || remote; }
};

// One audio frame: 20 ms of 8 kHz mono 16-bit PCM.
constexpr int kFrameSamples = 160;
constexpr int kFrameBytes = kFrameSamples * 2;

class TSipMessage;
class TAutoResetEvent;
using TAutoResetEventPtr = std::shared_ptr<TAutoResetEvent>;

// ---------------------------------------------------------------------------
// Codecs
// ---------------------------------------------------------------------------

// One voice codec instance; every call owns its own so codec state is never
// shared between calls. Frames are 160 samples of 8 kHz mono 16-bit PCM.
class IAudioCodec {
public:
    virtual ~IAudioCodec() = default;

    // RTP clock ticks per 20 ms frame: 160 for the 8 kHz codecs, 960 for
    // Opus, whose RTP clock runs at 48 kHz whatever it codes.
    virtual int GetFrameSize() = 0;
    // RTP payload type number, as the call's packets carry it.
    virtual int GetPayloadType() = 0;
    // The number the agent itself knows the codec by (media/codec_names.h):
    // GetPayloadType's unless the far end gave a dynamic codec another.
    virtual int GetOwnPayloadType() { return GetPayloadType(); }
    // True when packets under `payloadType` are this codec's: the number we
    // send under, and for a codec the far end renumbered also the one our
    // offer gave it.
    virtual bool Receives(int payloadType) { return payloadType == GetPayloadType(); }
    // Decodes `length` payload bytes into `pcm`; returns the PCM bytes written.
    // G.711 writes two bytes per payload byte, so `pcm` must hold 2 * length
    // bytes (the receive path bounds the length); GSM writes 320 bytes,
    // Speex 320 per frame the packet holds (at most 960), Opus up to 1920
    // (a 120 ms packet), and none reads past `length`.
    virtual int Decode(const uint8_t* payload, int16_t* pcm, int length) = 0;
    // Encodes exactly 160 samples; returns the payload bytes written, never
    // more than 160 (G.711), so a 160-byte `payload` suffices for every codec.
    virtual int Encode(const int16_t* pcm, uint8_t* payload) = 0;

    // The RTP clock rate of the payload type.
    virtual int GetClockRate() { return 8000; }
    // The far end's format parameters for this payload type (its a=fmtp
    // value, empty when it gave none); set before the call's media starts.
    virtual void SetFormatParameters(std::string_view /*farEnd*/) {}
    // Our own format parameters for an answer (its a=fmtp value); empty
    // for none.
    virtual std::string GetFormatParameters() { return {}; }
    // The frame lost just before `next` rebuilt from the redundancy `next`
    // carries, as 8 kHz PCM into `pcm` (room for 480 samples); returns the
    // bytes written, 0 when the codec or the packet carries none.
    virtual int DecodeLost(const uint8_t* /*next*/, int /*length*/, int16_t* /*pcm*/) { return 0; }
    // The loss the far end reports for what we send, in percent; may come
    // from another thread than Encode's.
    virtual void SetFarEndLoss(int /*percent*/) {}
    // For a payload that ends in comfort noise (a silence descriptor), the
    // level of that noise in -dBov; -1 for speech.
    virtual int ComfortNoiseLevel(const uint8_t* /*payload*/, int /*length*/) { return -1; }
};
using IAudioCodecPtr = std::shared_ptr<IAudioCodec>;

// ---------------------------------------------------------------------------
// Sound sources
// ---------------------------------------------------------------------------

// 8 kHz mono 16-bit PCM held in memory, read frame by frame into a call.
class IWavFile {
public:
    virtual ~IWavFile() = default;

    // Writes the content as a GSM 06.10 WAV file.
    virtual void SaveToFile(const std::string& fileName) = 0;
    // Current read position in bytes.
    virtual int64_t GetPosition() = 0;
    // Size of the PCM content in bytes.
    virtual int64_t GetSize() = 0;
    virtual void SetPosition(int64_t position) = 0;
    // Copies up to `count` bytes from the position, advances it, returns the
    // number copied.
    virtual int Read(void* buffer, int count) = 0;
};
using IWavFilePtr = std::shared_ptr<IWavFile>;

class ISipCall;
class ISipAccount;
using ISipCallPtr = std::shared_ptr<ISipCall>;
using ISipAccountPtr = std::shared_ptr<ISipAccount>;

// ---------------------------------------------------------------------------
// Audio devices
// ---------------------------------------------------------------------------

// A capture device; every captured frame goes to the attached call's
// SendAudioFrame on the capture thread.
class ISipMicrophone {
public:
    virtual ~ISipMicrophone() = default;

    virtual ISipCallPtr GetCall() = 0;
    // An empty pointer detaches; the device holds the call until then, so the
    // owner of the call's media must detach before dropping the device.
    virtual void SetCall(ISipCallPtr call) = 0;

    // Told on the device's thread when the sound card fails or goes away
    // during the call (false) and when it captures again (true). Devices
    // that cannot go away (files, silence) never call it.
    using TDeviceListener = std::function<void(bool present)>;
    virtual void SetDeviceListener(TDeviceListener /*listener*/) {}
};
using ISipMicrophonePtr = std::shared_ptr<ISipMicrophone>;

// A playback device fed by a call's receive path.
class ISipSpeaker {
public:
    virtual ~ISipSpeaker() = default;

    // Queues `length` bytes of PCM for playback.
    virtual void Play(const void* pcm, int length) = 0;
    // True while another frame can be queued without waiting.
    virtual bool CanPlay() = 0;

    // Asked by a device on its own clock for the frame to play next: writes
    // at most `capacity` samples into `pcm` and returns how many (0: nothing
    // to play, the period stays silent). Runs on the device's thread.
    using TFrameSource = std::function<int(int16_t* pcm, int capacity)>;
    // A device that keeps its own clock takes its frames from `source` when
    // it needs them instead of from Play, and returns true. An empty source
    // detaches; it returns once no call of the previous source is running,
    // so the source's owner may go away after it. Devices without a clock
    // of their own keep being fed through Play and return false.
    virtual bool SetFrameSource(TFrameSource /*source*/) { return false; }

    // Told on the device's thread when the sound card fails or goes away
    // during the call (false) and when it plays again (true). Devices that
    // cannot go away (files, the null device) never call it.
    using TDeviceListener = std::function<void(bool present)>;
    virtual void SetDeviceListener(TDeviceListener /*listener*/) {}
};
using ISipSpeakerPtr = std::shared_ptr<ISipSpeaker>;

// ---------------------------------------------------------------------------
// Frame taps
// ---------------------------------------------------------------------------

// Receives every frame a call sends and receives, with the call, while set on
// the call. Both operations run on media threads and must not block.
class ISipConference {
public:
    virtual ~ISipConference() = default;

    virtual void ReceivedFrame(ISipCall& call, const int16_t* pcm) = 0;
    virtual void SentFrame(ISipCall& call, const int16_t* pcm) = 0;
};
using ISipConferencePtr = std::shared_ptr<ISipConference>;

// Receives every frame a call sends and receives while set on the call.
class ISipRecorder {
public:
    virtual ~ISipRecorder() = default;

    virtual void ReceivedFrame(const int16_t* pcm) = 0;
    virtual void SentFrame(const int16_t* pcm) = 0;
};
using ISipRecorderPtr = std::shared_ptr<ISipRecorder>;

// ---------------------------------------------------------------------------
// Event sink
// ---------------------------------------------------------------------------

// What the user agent tells its host. Every operation runs on the thread that
// produced the notification (signalling, RTP receive or capture thread), so an
// implementation must not block and must not touch a user interface directly;
// it takes its own reference to any object it keeps. CreateAudioDevices and
// ReleaseAudioDevices are the exception: the call starts or stops its audio
// right after they return, so they do their work before returning.
// The status text of a call its engine ended because the far end's media
// stopped coming (see ISipEngine::SetMediaTimeout).
inline constexpr const char* kMediaTimeoutStatus = "media-timeout";

class ISipEventHandler {
public:
    virtual ~ISipEventHandler() = default;

    virtual void Invite(ISipCallPtr call) = 0;
    virtual void Ringback(ISipCallPtr call) = 0;
    virtual void Silence(ISipCallPtr call) = 0;
    virtual void Dtmf(ISipCallPtr call, char digit) = 0;
    virtual void InviteOk(ISipCallPtr call) = 0;
    virtual void Bye(ISipCallPtr call) = 0;
    virtual void WavStopped(ISipCallPtr call) = 0;
    virtual void RegistrationOk(ISipAccountPtr account) = 0;
    virtual void RegistrationBye(ISipAccountPtr account) = 0;
    virtual void Log(const std::string& text) = 0;
    virtual void CreateAudioDevices(ISipCallPtr call) = 0;
    virtual void ReleaseAudioDevices(ISipCallPtr call) = 0;

    // Instant messages; a host that shows none need not override these.
    // A MESSAGE for the account arrived from the user `from`.
    virtual void MessageReceived(ISipAccountPtr /*account*/, const std::string& /*from*/,
                                 const std::string& /*text*/) {}
    // The final answer to a message the account sent to `target`: a status
    // of 200 to 299 means delivered.
    virtual void MessageStatus(ISipAccountPtr /*account*/, const std::string& /*target*/,
                               int /*status*/) {}
    // How a transfer the call asked for ended: the final status the far end
    // reported (200 to 299: transferred, the call then ends), or its refusal
    // of the REFER; on failure the call is connected again.
    virtual void TransferStatus(ISipCallPtr /*call*/, int /*status*/) {}
    // The far end of the call asks it to be transferred to `target` (a
    // REFER): nothing happens until the host answers with AcceptTransfer or
    // RefuseTransfer; a host that does not, in time, has refused.
    virtual void TransferRequest(ISipCallPtr /*call*/, const std::string& /*target*/) {}
};
using ISipEventHandlerPtr = std::shared_ptr<ISipEventHandler>;

// ---------------------------------------------------------------------------
// Account
// ---------------------------------------------------------------------------

// One SIP identity at one server. Getters return copies, setters replace the
// field; none takes the account's lock, which callers hold around any step
// that reads or changes several fields together.
// When an account's registration is renewed and what the host was told.
struct TRegistrationRenewal {
    int afterSeconds = 0;    // the next REGISTER this long after RegTime; 0: none due
    int retrySeconds = 0;    // the wait after the next failure
    bool up = false;         // RegistrationOk raised, no loss since
    bool lost = false;       // RegistrationBye raised for a loss, no recovery since
    std::string lostReason;  // "503 Service Unavailable", "no answer from HOST:PORT"
};

class ISipAccount {
public:
    virtual ~ISipAccount() = default;

    virtual std::string GetContactUri() = 0;
    virtual int GetCSeq() = 0;
    virtual void SetCSeq(int value) = 0;
    virtual std::string GetDisplayName() = 0;
    virtual void SetDisplayName(const std::string& value) = 0;
    virtual std::string GetQuotedDisplayName() = 0;
    virtual void Lock() = 0;
    virtual void Unlock() = 0;
    virtual uint8_t GetState() = 0;  // a TAccountState value
    virtual void SetState(uint8_t value) = 0;
    virtual std::string GetDomain() = 0;
    virtual void SetDomain(const std::string& value) = 0;
    virtual std::string GetProxy() = 0;
    virtual void SetProxy(const std::string& value) = 0;
    virtual std::string GetStunServer() = 0;
    virtual void SetStunServer(const std::string& value) = 0;
    virtual std::string GetUserName() = 0;
    virtual void SetUserName(const std::string& value) = 0;
    virtual std::string GetPassword() = 0;
    virtual void SetPassword(const std::string& value) = 0;
    virtual std::string GetRport() = 0;
    virtual void SetRport(const std::string& value) = 0;
    virtual std::string GetStunAddress() = 0;
    virtual void SetStunAddress(const std::string& value) = 0;
    virtual std::string GetLocalIp() = 0;
    virtual void SetLocalIp(const std::string& value) = 0;
    virtual int GetLocalPort() = 0;
    virtual void SetLocalPort(int value) = 0;
    virtual std::string GetContactHost() = 0;
    virtual void SetPublicAddress(const std::string& value) = 0;
    virtual std::string GetTag() = 0;
    virtual void SetTag(const std::string& value) = 0;
    virtual int GetServerPort() = 0;
    virtual void SetServerPort(int value) = 0;
    virtual std::string GetRegistrarTag() = 0;
    virtual void SetRegistrarTag(const std::string& value) = 0;
    virtual std::string GetAuthStatus() = 0;
    virtual void SetAuthStatus(const std::string& value) = 0;
    virtual std::string GetRealm() = 0;
    virtual void SetRealm(const std::string& value) = 0;
    virtual std::string GetNonce() = 0;
    virtual void SetNonce(const std::string& value) = 0;
    virtual std::string GetOpaque() = 0;
    virtual void SetOpaque(const std::string& value) = 0;
    virtual std::string GetQop() = 0;
    virtual void SetQop(const std::string& value) = 0;
    virtual TDigestUse GetDigestUse() = 0;
    virtual void SetDigestUse(const TDigestUse& value) = 0;
    virtual std::string GetPendingMessage() = 0;
    virtual void SetPendingMessage(const std::string& value) = 0;
    // Registration time as a day count (days since 1899-12-30, time of day as
    // the fraction); seconds are added as seconds / 86400.
    virtual void SetRegTime(double value) = 0;
    virtual double GetRegTime() = 0;
    virtual std::string GetBranch() = 0;
    virtual void SetBranch(const std::string& value) = 0;
    virtual std::string GetCallId() = 0;
    virtual void SetCallId(const std::string& value) = 0;
    virtual std::string GetServerAddress() = 0;
    virtual void SetServerAddress(const std::string& value) = 0;
    virtual TRegistrationRenewal GetRenewal() = 0;
    virtual void SetRenewal(const TRegistrationRenewal& value) = 0;
    virtual int GetExpires() = 0;
    virtual void SetExpires(int value) = 0;
    // The transport of every request and response of the account. Setting
    // it moves a server port left at the old transport's default to the new
    // one's (5061 for TLS).
    virtual TSignallingTransport GetTransport() = 0;
    virtual void SetTransport(TSignallingTransport value) = 0;
    // A CA certificate file trusted for the server's TLS certificate beside
    // the system's store (a provider with its own CA); empty: the store only.
    virtual std::string GetTlsCaFile() = 0;
    virtual void SetTlsCaFile(const std::string& value) = 0;
    // True when the account's signalling travels over TLS, so keys put in
    // its SDP are protected on the wire.
    virtual bool SignallingIsSecure() = 0;

    // BasicLockable, so std::lock_guard / std::unique_lock work on an account.
    void lock() { Lock(); }
    void unlock() { Unlock(); }
};

// ---------------------------------------------------------------------------
// Call
// ---------------------------------------------------------------------------

// One SIP call. Getters of texts return copies; setters replace the value.
// Lock/Unlock bracket state changes and message composition; the reference
// fields (speaker, microphone, recorder, conference, WAV source) have small
// locks of their own, taken inside their accessors.
class ISipCall {
public:
    virtual ~ISipCall() = default;

    // The call's dialog: its identifiers, CSeq, remote target, route set and
    // state, changed only through the dialog's own transitions.
    virtual TDialog& Dialog() = 0;
    std::string GetCallId() { return Dialog().CallId(); }

    virtual std::string GetDtmfReceived() = 0;
    virtual void SetDtmfReceived(const std::string& value) = 0;
    virtual TAutoResetEventPtr GetRingingEvent() = 0;
    virtual TAutoResetEventPtr GetSilenceEvent() = 0;
    virtual TAutoResetEventPtr GetDtmfEvent() = 0;
    virtual TAutoResetEventPtr GetAnsweredEvent() = 0;
    virtual TAutoResetEventPtr GetEndedEvent() = 0;
    virtual TAutoResetEventPtr GetWavDoneEvent() = 0;
    // One captured frame of kFrameSamples samples.
    virtual void SendAudioFrame(const int16_t* pcm) = 0;
    virtual ISipSpeakerPtr GetSpeaker() = 0;
    virtual void SetSpeaker(ISipSpeakerPtr value) = 0;
    virtual ISipMicrophonePtr GetMicrophone() = 0;
    virtual void SetMicrophone(ISipMicrophonePtr value) = 0;
    virtual std::string GetStatusText() = 0;
    virtual void SetStatusText(const std::string& value) = 0;
    virtual int GetStatusCode() = 0;
    virtual void SetStatusCode(int value) = 0;
    virtual std::string GetReferTarget() = 0;
    virtual void SetReferTarget(const std::string& value) = 0;
    virtual void TapReceivedFrame(const int16_t* pcm) = 0;
    virtual void ReportDtmf(const std::string& digit) = 0;
    virtual void ReportSilence() = 0;
    virtual void SetConference(ISipConferencePtr value) = 0;
    virtual void SetRecorder(ISipRecorderPtr value) = 0;
    virtual ISipRecorderPtr GetRecorder() = 0;
    virtual std::string GetAuthorizationLine() = 0;
    virtual void SetAuthorizationLine(const std::string& value) = 0;
    virtual std::string GetTarget() = 0;
    virtual void SetTarget(const std::string& value) = 0;
    virtual std::string GetFromHeader() = 0;
    virtual void SetFromHeader(const std::string& value) = 0;
    virtual std::string GetToHeader() = 0;
    virtual void SetToHeader(const std::string& value) = 0;
    virtual int GetSilenceTimeout() = 0;
    virtual void SetSilenceTimeout(int value) = 0;
    virtual int GetSilenceThreshold() = 0;
    virtual void SetSilenceThreshold(int value) = 0;
    virtual uint32_t GetLastSoundTime() = 0;
    virtual void SetLastSoundTime(uint32_t value) = 0;
    virtual std::string GetRemoteSipPort() = 0;
    virtual void SetRemoteSipPort(const std::string& value) = 0;
    virtual std::string GetDirection() = 0;
    virtual void SetDirection(const std::string& value) = 0;
    virtual std::string GetRemoteSipHost() = 0;
    virtual void SetRemoteSipHost(const std::string& value) = 0;
    virtual IWavFilePtr GetWavFile() = 0;
    virtual void SetWavFile(IWavFilePtr value) = 0;
    // Appends keypad characters to the telephone-event queue.
    virtual void QueueDtmf(const std::string& digits) = 0;
    virtual int GetSdpVersion() = 0;
    virtual void SetSdpVersion(int value) = 0;
    virtual int GetSdpSessionId() = 0;
    virtual void SetSdpSessionId(int value) = 0;
    virtual bool GetEventInProgress() = 0;
    virtual void SetEventInProgress(bool value) = 0;
    // Creation time as a day count, like ISipAccount::GetRegTime.
    virtual double GetStartTime() = 0;
    virtual IAudioCodecPtr GetCodec() = 0;
    virtual void SetCodec(IAudioCodecPtr value) = 0;
    // The payload types both sides agreed on in the last offer and answer:
    // received audio may switch the codec only to one of these. Empty until
    // an offer and its answer are known.
    virtual std::vector<int> GetNegotiatedPayloadTypes() = 0;
    virtual void SetNegotiatedPayloadTypes(const std::vector<int>& value) = 0;
    // The numbers keypad events are sent and received under, from the last
    // offer and answer.
    virtual TTelephoneEventTypes GetTelephoneEventTypes() = 0;
    virtual void SetTelephoneEventTypes(TTelephoneEventTypes value) = 0;
    virtual bool GetMediaActive() = 0;
    // Starts (sink creates the devices, RTP socket opens) or stops media.
    virtual void SetMediaActive(bool on) = 0;
    virtual bool GetIncoming() = 0;
    virtual void SetIncoming(bool value) = 0;
    virtual void Lock() = 0;
    virtual void Unlock() = 0;
    virtual std::string GetBranch() = 0;
    virtual std::string GetViaHeaders() = 0;
    virtual void SetViaHeaders(const std::string& value) = 0;
    virtual std::string GetReceivedHost() = 0;
    virtual void SetReceivedHost(const std::string& value) = 0;
    virtual std::string GetReceivedPort() = 0;
    virtual void SetReceivedPort(const std::string& value) = 0;
    virtual std::string GetAuthStatus() = 0;
    virtual void SetAuthStatus(const std::string& value) = 0;
    virtual int GetLocalRtpPort() = 0;
    virtual void SetLocalRtpPort(int value) = 0;
    // Binds `port` for the call's media now, so the SDP naming it is true
    // from the moment it leaves; raises "bind failed" when another program
    // holds it. The port stays bound, media running or not, until released.
    virtual void TakeLocalRtpPort(int port) = 0;
    // False when the call held no port (never took one, or gave it back).
    virtual bool ReleaseLocalRtpPort() = 0;
    virtual int GetRemoteRtpPort() = 0;
    virtual void SetRemoteRtpPort(int value) = 0;
    virtual std::string GetRemoteRtpHost() = 0;
    virtual void SetRemoteRtpHost(const std::string& value) = 0;
    virtual void SetBranch(const std::string& value) = 0;
    virtual bool GetOnHold() = 0;
    virtual void SetOnHold(bool value) = 0;
    virtual TCallState GetState() = 0;
    // A change to csIdle raises the sink's Bye once; while the state is
    // csIdle every call sets the ended event.
    virtual void SetState(TCallState value) = 0;
    virtual bool GetSpeakerEnabled() = 0;
    virtual void SetSpeakerEnabled(bool value) = 0;
    virtual int GetSpeakerDevice() = 0;
    virtual void SetSpeakerDevice(int value) = 0;
    virtual int GetMicrophoneDevice() = 0;
    virtual void SetMicrophoneDevice(int value) = 0;
    virtual bool GetMicrophoneEnabled() = 0;
    virtual void SetMicrophoneEnabled(bool value) = 0;
    virtual ISipAccountPtr GetAccount() = 0;
    virtual void SetAccount(ISipAccountPtr value) = 0;
    virtual std::string GetQop() = 0;
    virtual void SetQop(const std::string& value) = 0;
    virtual std::string GetOpaque() = 0;
    virtual void SetOpaque(const std::string& value) = 0;
    virtual TDigestUse GetDigestUse() = 0;
    virtual void SetDigestUse(const TDigestUse& value) = 0;
    virtual std::string GetNonce() = 0;
    virtual void SetNonce(const std::string& value) = 0;
    virtual std::string GetRealm() = 0;
    // Resets the WAV-done event, then makes `wav` the call's sound source.
    virtual void PlayWav(IWavFilePtr wav) = 0;
    // Adds `wav` to what the call's speaker plays, over the received audio,
    // after any such sound still playing; the far end hears nothing of it.
    // False, and nothing kept, while the call's media is not running.
    virtual bool PlayWavToSpeaker(IWavFilePtr wav) = 0;
    virtual void SetRealm(const std::string& value) = 0;
    // The call's SRTP keys; setting them keys (or clears) its media at once.
    virtual TCallCrypto GetCrypto() = 0;
    virtual void SetCrypto(const TCallCrypto& value) = 0;

    // BasicLockable, so std::lock_guard / std::unique_lock work on a call.
    void lock() { Lock(); }
    void unlock() { Unlock(); }
};

// ---------------------------------------------------------------------------
// Engine
// ---------------------------------------------------------------------------

// The user agent core. Operations that send a new request raise "not active"
// while the engine is switched off.
class ISipEngine {
public:
    virtual ~ISipEngine() = default;

    virtual ISipEventHandlerPtr GetEventHandler() = 0;
    virtual void SetEventHandler(ISipEventHandlerPtr handler) = 0;
    // Keeps, in the given order, the payload numbers a codec is registered for.
    virtual void SetCodecs(const std::vector<int>& payloadTypes) = 0;
    virtual int NextCSeq() = 0;
    virtual void SendDtmfInfo(ISipCallPtr call, char digit) = 0;
    virtual int GetSilenceThreshold() = 0;
    virtual void SetSilenceThreshold(int value) = 0;
    virtual int GetSilenceTimeout() = 0;
    virtual void SetSilenceTimeout(int value) = 0;
    // Seconds a connected call that is not on hold may go without receiving
    // RTP or RTCP before it is ended with BYE and the status text
    // kMediaTimeoutStatus; 0 never ends one.
    virtual int GetMediaTimeout() = 0;
    virtual void SetMediaTimeout(int seconds) = 0;
    virtual int GetCodecCount() = 0;
    virtual int GetCodecAt(int index) = 0;
    virtual void EndCall(ISipCallPtr call) = 0;
    virtual int GetRtpPortMin() = 0;
    virtual void SetRtpPortMin(int value) = 0;
    virtual int GetRtpPortMax() = 0;
    virtual void SetRtpPortMax(int value) = 0;
    // The codec list as decimal numbers separated by single blanks.
    virtual std::string GetCodecList() = 0;
    virtual void PlayWavFile(ISipCallPtr call, const std::string& fileName) = 0;
    // The call's PlayWavToSpeaker with a sound file; throws when the file
    // cannot be read.
    virtual bool PlayWavFileToSpeaker(ISipCallPtr call, const std::string& fileName) = 0;
    virtual void SpeakText(ISipCallPtr call, const std::string& text, int voiceIndex) = 0;
    virtual void SendDtmfRfc2833(ISipCallPtr call, const std::string& digits) = 0;
    virtual void SendRegister(ISipAccountPtr account) = 0;
    virtual void Register(ISipAccountPtr account) = 0;
    virtual void Unregister(ISipAccountPtr account) = 0;
    virtual void Answer(ISipCallPtr call) = 0;
    virtual void Reject(ISipCallPtr call) = 0;
    virtual void HangUp(ISipCallPtr call) = 0;
    virtual void Hold(ISipCallPtr call) = 0;
    virtual void Resume(ISipCallPtr call) = 0;
    virtual void Transfer(ISipCallPtr call, const std::string& target) = 0;
    // The host's answer to the far end's TransferRequest of the call;
    // nothing when none is waiting.
    virtual void AcceptTransfer(ISipCallPtr call) = 0;
    virtual void RefuseTransfer(ISipCallPtr call) = 0;
    // Incoming calls only from an account's server (403 Forbidden to any
    // other sender); off by default.
    virtual void SetCallsFromServerOnly(bool value) = 0;
    virtual bool GetCallsFromServerOnly() = 0;
    virtual int GetLocalPort() = 0;
    virtual void SetLocalPort(int value) = 0;
    virtual bool GetActive() = 0;
    virtual void SetActive(bool value) = 0;
    // Our certificate chain and private key (PEM files) for TLS connections
    // peers open to us, from now on and at every SetActive(true). Raises
    // when they cannot be used. Both empty (the default): TLS is not taken.
    virtual void SetTlsCertificate(const std::string& certificateFile, const std::string& keyFile) = 0;
    // `server` is "host" or "host:port"; the new account is listed and
    // returned, not yet registered.
    virtual ISipAccountPtr AddAccount(const std::string& stunServer, const std::string& server,
                                      const std::string& userName, const std::string& password,
                                      const std::string& proxy) = 0;
    virtual ISipCallPtr MakeCall(ISipAccountPtr account, const std::string& number,
                                 int microphoneDevice, int speakerDevice) = 0;
    virtual void SendRaw(const void* buffer, std::size_t length, const std::string& address,
                         uint16_t port) = 0;
    // Empty when no account matches.
    virtual ISipAccountPtr FindAccountByCallId(const std::string& text) = 0;
    virtual void SendMessage(ISipAccountPtr account, const std::string& destination,
                             const std::string& text) = 0;
    // Periodic timers: registration refresh, call set-up limit.
    virtual void Tick() = 0;
};
using ISipEnginePtr = std::shared_ptr<ISipEngine>;

// The only way to obtain an engine: one for the given local signalling port.
ISipEnginePtr CreateSipEngine(uint16_t localPort);
