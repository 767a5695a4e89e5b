// TSipClient: the one object through which an application drives the user
// agent. It owns the engine while active, passes its settings to it, offers
// the operations an application needs, and turns the engine's notifications
// (raised on the engine's own threads) into Qt signals emitted on the thread
// that owns the component, in the order the engine raised them.
//
// Threading contract:
// - Every operation and property runs on the owning thread.
// - The event sink never calls application code: it queues each notification
//   to the owning thread with the counted reference it carries; the queued
//   entry holds that reference until its signal has been emitted (or until
//   the component is destroyed with the entry still queued).
// - A connected slot that throws does not cross the event loop: the error is
//   passed on as HandlerError (or written as a warning when nothing listens).
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/call_quality.h"
#include "sip/sipints.h"

Q_DECLARE_METATYPE(ISipCallPtr)
Q_DECLARE_METATYPE(ISipAccountPtr)

class TSipClientEventTarget;

// Builds the audio devices of a call when its media starts. Either member may
// be empty: the call then runs without that device.
struct TAudioDeviceFactory {
    std::function<ISipSpeakerPtr(ISipCall& call)> speaker;
    std::function<ISipMicrophonePtr(ISipCall& call)> microphone;
};

class TSipClient : public QObject {
    Q_OBJECT

public:
    // The RTP range shared with the engine: 22000 up to 22000 + 2000.
    static constexpr int kDefaultLocalPort = 5075;
    static constexpr int kDefaultRtpPortMin = 22000;
    static constexpr int kDefaultRtpPortMax = kDefaultRtpPortMin + 2000;
    static constexpr int kDefaultSilenceThreshold = 500;
    static constexpr int kDefaultSilenceTimeout = 5000;
    static constexpr int kDefaultMediaTimeout = 30;  // seconds

    using TEngineFactory = std::function<ISipEnginePtr(uint16_t localPort)>;

    explicit TSipClient(QObject* parent = nullptr);
    ~TSipClient() override;
    TSipClient(const TSipClient&) = delete;
    TSipClient& operator=(const TSipClient&) = delete;

    // Properties. LocalPort, RtpPortMin and RtpPortMax take effect at the
    // next activation; SilenceThreshold and SilenceTimeout reach a running
    // engine at once, as does MediaTimeout; DtmfMethod is read at every
    // SendDtmf.
    int GetLocalPort() const { return LocalPort_; }
    void SetLocalPort(int value) { LocalPort_ = value; }
    int GetRtpPortMin() const { return RtpPortMin_; }
    void SetRtpPortMin(int value) { RtpPortMin_ = value; }
    int GetRtpPortMax() const { return RtpPortMax_; }
    void SetRtpPortMax(int value) { RtpPortMax_ = value; }
    // Our certificate and key (PEM files) for TLS connections peers open;
    // both empty (the default): TLS is not taken. Take effect at the next
    // activation, which raises when they cannot be used.
    void SetTlsCertificate(const std::string& certificateFile, const std::string& keyFile) {
        TlsCertificateFile_ = certificateFile;
        TlsKeyFile_ = keyFile;
    }
    const std::string& GetTlsCertificateFile() const { return TlsCertificateFile_; }
    const std::string& GetTlsKeyFile() const { return TlsKeyFile_; }
    TDtmfMethod GetDtmfMethod() const { return DtmfMethod_; }
    void SetDtmfMethod(TDtmfMethod value) { DtmfMethod_ = value; }
    int GetSilenceThreshold() const { return SilenceThreshold_; }
    void SetSilenceThreshold(int value);
    int GetSilenceTimeout() const { return SilenceTimeout_; }
    void SetSilenceTimeout(int value);
    // Incoming calls only from the account's server (others get 403);
    // reaches a running engine at once.
    bool GetCallsFromServerOnly() const { return CallsFromServerOnly_; }
    void SetCallsFromServerOnly(bool value);
    // Seconds a connected call, not on hold, may hear nothing from the far
    // end before it is ended (0: never); see EndedByMediaTimeout.
    int GetMediaTimeout() const { return MediaTimeout_; }
    void SetMediaTimeout(int seconds);
    // The codecs offered and accepted, as payload types in order of
    // preference (media/codec_names.h); empty: the engine's own list. Those
    // whose library is missing are left out. Reaches a running engine at once.
    const std::vector<int>& GetCodecs() const { return Codecs_; }
    void SetCodecs(const std::vector<int>& payloadTypes);

    // True from SetActive(true) on, even when switching the engine on failed,
    // so that an application does not retry on its own.
    bool GetActive() const { return Active_; }
    // true: a new engine on LocalPort with this component's sink and settings,
    // switched on. false: the engine is switched off and dropped.
    void SetActive(bool value);
    // The running engine; empty while inactive.
    ISipEnginePtr GetEngine() const { return Engine_; }

    // How engines are made (CreateSipEngine unless replaced, e.g. by tests).
    void SetEngineFactory(TEngineFactory factory);
    // How a call's speaker and microphone are made when its media starts;
    // read by the sink on the engine thread that starts the media.
    void SetAudioDeviceFactory(TAudioDeviceFactory factory);

    // Operations; the engine's errors ("not active", ...) reach the caller.
    // Without an engine they raise "not active".
    // `server` is "host" or "host:port" (5060 when absent).
    ISipAccountPtr AddAccount(const std::string& server, const std::string& userName,
                              const std::string& password, const std::string& proxy,
                              const std::string& stunServer);
    void RegisterAccount(ISipAccountPtr account);
    void UnregisterAccount(ISipAccountPtr account);
    // Device numbers: -1 is the default device.
    ISipCallPtr MakeCall(ISipAccountPtr account, const std::string& number, int waveInDevice,
                         int waveOutDevice);
    void HangUp(ISipCallPtr call);
    // Sends the first character of `digit` by DtmfMethod (RFC 2833 gets the
    // whole text); a character with no keypad tone plays nothing in band.
    void SendDtmf(ISipCallPtr call, const std::string& digit);

    // Thin forwards to the engine for general user agents.
    void Answer(ISipCallPtr call);
    void Reject(ISipCallPtr call);
    void Hold(ISipCallPtr call);
    void Resume(ISipCallPtr call);
    void Transfer(ISipCallPtr call, const std::string& target);
    // The answer to an OnTransferRequest of the call.
    void AcceptTransfer(ISipCallPtr call);
    void RefuseTransfer(ISipCallPtr call);
    // The quality figures of a call's received audio as its media last
    // published them (kept after the call ends, for its record); all zero for
    // a call that never had media. Any thread.
    static media::TCallQuality GetCallQuality(const ISipCallPtr& call);
    // True for a call that ended because the far end's media stopped (the
    // peer died or the network dropped it), not because anyone hung up.
    static bool EndedByMediaTimeout(const ISipCallPtr& call);
    void PlayWavFile(ISipCallPtr call, const std::string& fileName);
    // Plays the file at the call's own speaker, over the received audio
    // (the far end hears nothing); false while the call's media is not
    // running.
    bool PlayWavFileToSpeaker(ISipCallPtr call, const std::string& fileName);
    void SpeakText(ISipCallPtr call, const std::string& text, int voiceIndex = 0);
    void SendMessage(ISipAccountPtr account, const std::string& destination,
                     const std::string& text);

signals:
    // The events, in the order of the engine's sink table.
    void OnLog(TSipClient* sender, const QString& text);
    void OnInvite(TSipClient* sender, ISipCallPtr call);
    void OnInviteOk(TSipClient* sender, ISipCallPtr call);
    void OnDtmf(TSipClient* sender, ISipCallPtr call, const QString& dtmf);
    void OnWavStopped(TSipClient* sender, ISipCallPtr call);
    void OnBye(TSipClient* sender, ISipCallPtr call);
    void OnRingback(TSipClient* sender, ISipCallPtr call);
    void OnSilence(TSipClient* sender, ISipCallPtr call);
    void OnRegistrationOk(TSipClient* sender, ISipAccountPtr account);
    void OnRegistrationBye(TSipClient* sender, ISipAccountPtr account);
    // A MESSAGE arrived from the user `from`.
    void OnMessage(TSipClient* sender, ISipAccountPtr account, const QString& from,
                   const QString& text);
    // The final answer to a message sent to `target` (200 to 299: delivered).
    void OnMessageStatus(TSipClient* sender, ISipAccountPtr account, const QString& target,
                         int status);
    // How a transfer the call asked for ended (200 to 299: transferred).
    void OnTransferStatus(TSipClient* sender, ISipCallPtr call, int status);
    // The far end asks to transfer the call to `target`: answer with
    // AcceptTransfer or RefuseTransfer (no answer in time is a refusal).
    void OnTransferRequest(TSipClient* sender, ISipCallPtr call, const QString& target);
    // The call's sound card failed or went away (false), or plays again
    // (true); the call goes on either way.
    void OnAudioDevice(TSipClient* sender, ISipCallPtr call, bool present);

    // A slot connected to one of the events above threw; `text` is its
    // message. The event's references are released all the same.
    void HandlerError(TSipClient* sender, const QString& text);

private:
    friend class TSipClientEventHandler;

    ISipEngine& RequireEngine() const;

    // Dispatch of queued notifications, on the owning thread.
    void DispatchLog(const std::string& text);
    void DispatchInvite(const ISipCallPtr& call);
    void DispatchBye(const ISipCallPtr& call);
    void DispatchRingback(const ISipCallPtr& call);
    // Runs one emission; an error thrown by a slot becomes HandlerError.
    void Guarded(const std::function<void()>& emitEvent);

    std::shared_ptr<TSipClientEventTarget> Target_;  // shared with the sink
    ISipEnginePtr Engine_;
    TEngineFactory EngineFactory_;
    int LocalPort_ = kDefaultLocalPort;
    bool Active_ = false;
    int RtpPortMin_ = kDefaultRtpPortMin;
    int RtpPortMax_ = kDefaultRtpPortMax;
    std::string TlsCertificateFile_;
    std::string TlsKeyFile_;
    int SilenceThreshold_ = kDefaultSilenceThreshold;
    int SilenceTimeout_ = kDefaultSilenceTimeout;
    bool CallsFromServerOnly_ = false;
    int MediaTimeout_ = kDefaultMediaTimeout;
    std::vector<int> Codecs_;
    TDtmfMethod DtmfMethod_ = dtmfInBand;
    std::mutex ToneLock_;  // serialises building in-band tone sounds
};
