// The user agent core (TSipEngine): the signalling socket, the accounts, the
// calls, the RTP port pool, the CSeq counter and the dispatch of every
// received message.
//
// Threading contract:
// - Received datagrams, the keep-alive, the transaction timers and the
//   periodic Tick run on the signalling socket's thread, one at a time
//   (DispatchLock_ also serialises a Tick, a PollTransactions or a switch-off
//   called from elsewhere with that thread).
// - Every SIP message sent passes SendText once, which hands it to the
//   transaction layer (Client_, Server_) for retransmission; every received
//   one passes Admit, which stops copies of what was handled already.
// - Interface operations run on the caller's thread.
// - Lock order: dispatch, then a list (accounts or calls), then an element
//   (account or call), then the transaction layer, then the socket. A path
//   holding a call's lock releases it before it touches the call list
//   (EndCall).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/invite_event.h"
#include "engine/name_resolver.h"
#include "media/call.h"
#include "media/call_list.h"
#include "media/rtp_session.h"
#include "sip/account.h"
#include "sip/client_transactions.h"
#include "sip/event_sink.h"
#include "sip/server_transactions.h"
#include "sip/stream_transport.h"
#include "sip/sipints.h"
#include "sip/transport.h"
#include "sip/via_destination_memo.h"

class TSipMessage;

// Where a received datagram came from; empty when not known. `stream`: it
// came over a TCP or TLS connection, whose far port says nothing about the
// peer's listening port (a server opens its connections from any port).
struct TDatagramSource {
    std::string address;
    uint16_t port = 0;
    bool stream = false;
    bool tls = false;  // over a connection TLS protects
};

// A dotted IPv4 address ("192.0.2.1"), not a name.
bool IsDottedAddress(const std::string& text);

// What tests and hosts may change about the engine's timing and media.
// Whether SOFTPHONE_DEV_SRTP_ON_UDP is "1" (engine_srtp.cpp).
bool SrtpOnPlainSignallingFromEnvironment();
struct TSdpAudio;

struct TSipEngineOptions {
    // How often the signalling thread wakes for its own timers (Tick).
    std::chrono::milliseconds timerPeriod{1000};
    // Spacing of the CR LF CR LF keep-alive to every account's server: below
    // the 30 s that common routers keep a UDP binding open.
    std::chrono::milliseconds keepAlivePeriod{25000};
    // Run Tick on the signalling thread at every timer period.
    bool autoTick = true;
    // Time source for registration stamps, call creation and Tick.
    TCallClock clock = SystemCallClock();
    // Time source and timer values of the transaction layer; its timers run
    // with autoTick, or when the host calls PollTransactions.
    sip_transaction::TNow steadyClock = sip_transaction::TClock::now;
    sip_transaction::TTimers transactionTimers;
    // Builds the RTP paths of each new call (the RTP paths by default); set to an
    // empty function, media carries nothing.
    std::function<ICallMediaPathPtr()> mediaPathFactory = media::NewRtpMediaPath;
    // Turns a server name into an address; runs on the engine's resolver
    // thread, never on the signalling thread.
    TNameResolver::TLookup lookup = LookupAddress;
    // Longest time switching off waits for the answers to its last BYEs and
    // un-REGISTERs (and their challenges and retransmissions).
    std::chrono::milliseconds switchOffLimit{4000};
    // Developer switch: SRTP offered and taken although the signalling is
    // plain UDP, where anyone on the path reads the keys. Off in the product;
    // tests and interop checks turn it on (or SOFTPHONE_DEV_SRTP_ON_UDP=1).
    bool srtpOnPlainSignalling = SrtpOnPlainSignallingFromEnvironment();
};

class TSipEngine final : public ISipEngine, public std::enable_shared_from_this<TSipEngine> {
public:
    // Incoming calls that may ring at once; more are answered 486.
    static constexpr int kMaxRingingIncoming = 8;
    // Longest registration refresh, registration answer limit (Timer F),
    // first and longest wait before a failed registration is tried again,
    // STUN answer limit, call set-up limit and the limit for an ended call
    // left listed.
    static constexpr double kRefreshSeconds = 600;
    static constexpr double kRegisterTimeoutSeconds = 32;
    static constexpr int kFirstRetrySeconds = 30;
    static constexpr int kLongestRetrySeconds = 300;
    static constexpr double kStunTimeoutSeconds = 3;
    static constexpr double kSetupTimeoutSeconds = 120;
    static constexpr double kEndedCallSeconds = 32;
    // How long the host has to decide on a transfer the far end asks for,
    // and how long a call transferred away waits for the transferor's BYE.
    static constexpr double kTransferDecisionSeconds = 10;
    static constexpr double kTransferorByeSeconds = 32;
    // A connected call that hears neither RTP nor RTCP for this long, while
    // it expects some, has lost its far end and is ended with BYE.
    static constexpr int kDefaultMediaTimeoutSeconds = 30;

    explicit TSipEngine(uint16_t localPort, TSipEngineOptions options = {});
    ~TSipEngine() override;
    TSipEngine(const TSipEngine&) = delete;
    TSipEngine& operator=(const TSipEngine&) = delete;

    // ISipEngine, in interface order.
    ISipEventHandlerPtr GetEventHandler() override { return Sink_.Get(); }
    void SetEventHandler(ISipEventHandlerPtr handler) override { Sink_.Set(std::move(handler)); }
    void SetCodecs(const std::vector<int>& payloadTypes) override;
    // The CSeq of a new registration request or the first of a dialog:
    // below 2^30, so that each dialog has room to count up from it.
    int NextCSeq() override;
    void SendDtmfInfo(ISipCallPtr call, char digit) override;
    int GetSilenceThreshold() override { return SilenceThreshold_; }
    void SetSilenceThreshold(int value) override { SilenceThreshold_.exchange(value); }
    int GetSilenceTimeout() override { return SilenceTimeout_; }
    void SetSilenceTimeout(int value) override { SilenceTimeout_.exchange(value); }
    int GetMediaTimeout() override { return MediaTimeout_; }
    void SetMediaTimeout(int seconds) override { MediaTimeout_ = seconds < 0 ? 0 : seconds; }
    int GetCodecCount() override;
    int GetCodecAt(int index) override;
    void EndCall(ISipCallPtr call) override;
    int GetRtpPortMin() override { return Ports_.GetMin(); }
    void SetRtpPortMin(int value) override;
    int GetRtpPortMax() override { return Ports_.GetMax(); }
    void SetRtpPortMax(int value) override;
    std::string GetCodecList() override;
    void PlayWavFile(ISipCallPtr call, const std::string& fileName) override;
    bool PlayWavFileToSpeaker(ISipCallPtr call, const std::string& fileName) override;
    void SpeakText(ISipCallPtr call, const std::string& text, int voiceIndex) override;
    void SendDtmfRfc2833(ISipCallPtr call, const std::string& digits) override;
    void SendRegister(ISipAccountPtr account) override;
    void Register(ISipAccountPtr account) override;
    void Unregister(ISipAccountPtr account) override;
    void Answer(ISipCallPtr call) override;
    void Reject(ISipCallPtr call) override;
    void HangUp(ISipCallPtr call) override;
    void Hold(ISipCallPtr call) override;
    void Resume(ISipCallPtr call) override;
    void Transfer(ISipCallPtr call, const std::string& target) override;
    void AcceptTransfer(ISipCallPtr call) override;
    void RefuseTransfer(ISipCallPtr call) override;
    int GetLocalPort() override { return LocalPort_; }
    void SetLocalPort(int value) override { LocalPort_ = value; }
    bool GetActive() override { return Active_; }
    void SetActive(bool value) override;
    void SetTlsCertificate(const std::string& certificateFile, const std::string& keyFile) override;
    void SetCallsFromServerOnly(bool value) override { CallsFromServerOnly_ = value; }
    bool GetCallsFromServerOnly() override { return CallsFromServerOnly_; }
    ISipAccountPtr AddAccount(const std::string& stunServer, const std::string& server,
                              const std::string& userName, const std::string& password,
                              const std::string& proxy) override;
    ISipCallPtr MakeCall(ISipAccountPtr account, const std::string& number,
                         int microphoneDevice, int speakerDevice) override;
    void SendRaw(const void* buffer, std::size_t length, const std::string& address,
                 uint16_t port) override;
    ISipAccountPtr FindAccountByCallId(const std::string& text) override;
    void SendMessage(ISipAccountPtr account, const std::string& destination,
                     const std::string& text) override;
    void Tick() override;

    // Beyond the interface, for the host and for tests.
    TSipAccounts& Accounts() { return Accounts_; }
    TSipCalls& Calls() { return Calls_; }
    const TRtpPortPool& Ports() const { return Ports_; }
    // The bound signalling port (differs from GetLocalPort when that is 0).
    uint16_t BoundPort() const;
    // Handles one datagram as the receive thread does. The source, when
    // given, marks a request's top Via for its responses and is checked
    // against the call's peer; without one those steps are left out.
    void Receive(const uint8_t* buffer, std::size_t length, const TDatagramSource& source = {});
    // Sends the retransmissions that are due and acts on transactions that
    // ran out of time (the signalling thread does this with autoTick).
    void PollTransactions();
    std::size_t TransactionCount() const { return Client_.Count() + Server_.Count(); }
    // The TCP listener's port (0 without one), whether a connection with a
    // peer is open, and a connection closed as if the peer had closed it.
    uint16_t StreamPort() const;
    bool StreamConnected(const std::string& address, uint16_t port) const;
    void DropConnection(const std::string& address, uint16_t port);

private:
    // Receive path and timers.
    void OnTimer();
    void KeepAlive();
    bool RefuseInvalid(const TSipMessage& request);
    // A sips: request that reached us over a hop without TLS, or a sips:
    // INVITE for an account not on TLS, is answered 480 and goes no further
    // (engine_secure_requests.cpp).
    bool RefuseSipsInClear(const TSipMessage& request, const TDatagramSource& source);
    bool Admit(const TSipMessage& message);
    void Dispatch(const TSipMessage& message);
    void OnTransactionTimeout(const sip_transaction::TTimedOut& ended);
    void OnUnacknowledged(const sip_transaction::TUnacknowledged& ended);
    // Returns the accounts whose lost registration is due for a retry.
    std::vector<ISipAccountPtr> TickAccounts();
    void TickCalls();
    // Sends the REGISTER of every lost registration whose server name the
    // resolver has looked up since.
    void RetryResolved();
    // Switching off: ends every call and registration, then waits for the
    // far ends' answers without holding up their dispatch.
    void SwitchOff();
    // Under the dispatch lock: BYE, CANCEL or refuse every call and
    // un-REGISTER every account not taken down yet; true when nothing more
    // is awaited.
    bool TakeDownRemaining(std::unordered_set<const void*>& takenDown);
    struct TMediaSeen {
        uint64_t received = 0;
        double since = 0;
    };
    // True when the call waits for media and none came for the timeout;
    // notes the call in `seen`. The caller holds CallNotesLock_.
    bool MediaTimedOut(ISipCall& call, double now, std::unordered_map<const ISipCall*, TMediaSeen>& seen);
    double Now() const { return Options_.clock.now(); }
    sip_transaction::TTime SteadyNow() const { return Options_.steadyClock(); }
    static double SecondsBetween(double earlier, double later) { return (later - earlier) * 86400.0; }

    // Sending.
    // Puts one message on the wire: over the connection with address:port
    // when its top Via names TCP or TLS, else as a datagram.
    void SendWire(const std::string& text, const std::string& address, uint16_t port);
    // The same with the transport of `text`'s top Via already read.
    void SendWire(const std::string& text, TSignallingTransport transport, const std::string& address,
                  uint16_t port);
    // A connection is gone: the accounts whose server it reached register
    // again over a new one, or fail with `reason` when it never came up.
    void OnStreamClosed(const std::string& address, uint16_t port, const std::string& reason,
                        bool established);
    // `remember` false: the transaction layer does not keep the message (a
    // refusal of a request that was never the call's).
    // `mayMove` false: a large request stays on UDP (it is the fall-back of
    // one whose connection failed).
    void SendText(const std::string& text, const std::string& address, int port,
                  bool remember = true, bool mayMove = true);
    // A request too large for one datagram, with its top Via on TCP; nothing
    // when `text` stays as it is (engine_large_requests.cpp).
    std::optional<std::string> MovedForSize(const TWireFacts& facts, const std::string& text,
                                            const std::string& address, uint16_t port);
    // The requests moved off UDP toward a peer whose connection never came
    // up are sent over UDP after all (RFC 3261 18.1.1).
    void FallBackToUdp(const std::string& address, uint16_t port, bool established);
    void SendToAccount(ISipAccount& account, const std::string& text);
    // Connections to `host`:`port` opened for a dialog of `account` trust
    // what the account trusts.
    void KnowDialogPeer(ISipAccount& account, const std::string& host, int port);
    void SendToVia(const TSipMessage& message, ISipAccount* account, const std::string& text,
                   bool remember = true);
    // A response to the request whose Via lines are `viaHeaders`; the server
    // of `account` (may be null) when they name no address.
    void SendResponse(const std::string& viaHeaders, ISipAccount* account, const std::string& text,
                      bool remember = true);
    // A response to the INVITE the call received.
    void SendCallResponse(ISipCall& call, const std::string& text);
    // A request inside the call's dialog: to the first route, else to the
    // remote target, else to the account's server.
    void SendDialogRequest(ISipCall& call, const std::string& text);
    void RequireActive() const;

    // Lookups.
    ISipAccountPtr FindAccountFor(const std::string& user, const std::string& otherUser = "");
    ISipCallPtr FindCall(const std::string& callId) { return Calls_.FindByCallId(callId); }

    // Rules for received messages by CSeq method (engine_dispatch.cpp).
    void OnStunAnswer(const TSipMessage& message);
    void OnCancel(const TSipMessage& message);
    void OnBye(const TSipMessage& message);
    void OnInfo(const TSipMessage& message);
    void OnOptions(const TSipMessage& message);
    void OnMessage(const TSipMessage& message);
    void OnNotify(const TSipMessage& message);
    void OnAck(const TSipMessage& message);
    void OnReferRequest(const TSipMessage& message);
    // 481 for a dialog the agent does not have, sent to the request's top Via
    // (else the server of `account`); never kept as a transaction's answer.
    void AnswerNoDialog(const TSipMessage& request, ISipAccount* account = nullptr);
    void SendToAnswerer(ISipCall& call, const TSipMessage& answer, const std::string& text);
    bool IsOtherForkAnswer(const TSipMessage& message);
    // True for the answer to, or the timeout of, a BYE that ended another
    // fork's dialog; a final answer or a timeout forgets the transaction.
    bool TakeForkBye(const TWireFacts& facts, bool final);
    // A request has a Request-URI; a response (or a request's sipfrag body
    // read as a status line) does not.
    static bool IsRequest(const TSipMessage& message);
    void OnRegister(const TSipMessage& message);
    void OnRegisterAnswer(ISipAccount& account, const TSipMessage& message);
    void StoreChallenge(ISipAccount& account, const TSipMessage& message);
    bool AskAgainForLonger(ISipAccount& account, const TSipMessage& message);
    void SendRegisterAgain(ISipAccount& account, bool withCredentials);
    // Keeps the challenge of `message` in the call for its retry, with a
    // fresh branch for the new transaction.
    static void TakeChallenge(ISipCall& call, const TSipMessage& message);

    // The INVITE state machine (engine_invite.cpp dispatches; the steps are
    // in engine_invite_requests.cpp and engine_invite_responses.cpp). A step
    // runs under the call's lock and says what follows once it is released.
    enum class TAfterStep {
        kNothing,
        kOffer,       // tell the host of a new incoming call, refuse it if nobody takes it
        kRingback,    // tell the host the far end rings
        kAnswered,    // tell the host the call was answered
        kReanswered,  // the same for the answer to a re-INVITE
        kEndCall,     // the call is over: let it go
    };
    void OnInvite(const TSipMessage& message);
    void OnInviteWithoutCall(const TSipMessage& message);
    TAfterStep TakeInviteStep(ISipCall& call, TInviteEvent event, const TSipMessage& message);
    void FinishInviteStep(const ISipCallPtr& call, TAfterStep after);
    // Every final failure to an INVITE gets one ACK (RFC 3261 17.1.1.3),
    // built from the INVITE its transaction sent, else from the answer alone
    // and sent to the server of `account` (may be null: nothing is sent).
    void AcknowledgeFailure(const TSipMessage& response, ISipAccount* account);
    // Requests.
    ISipCallPtr OnIncomingInvite(const TSipMessage& message);
    TAfterStep OnReInvite(ISipCall& call, const TSipMessage& message);
    // A re-INVITE the call cannot take now (RFC 3261 14.2): 491 while one
    // of ours is pending, 500 with Retry-After otherwise.
    void RefuseReInvite(ISipCall& call, const TSipMessage& message);
    bool OwnReInvitePending(ISipCall& call);
    // Our re-INVITE met one of the far end's (491): it goes again after the
    // random wait of RFC 3261 14.1; sent from PollTransactions.
    void ScheduleReInviteRetry(ISipCall& call);
    void RetryReInvites();
    // A re-INVITE answered 408 or 481, or not at all: the dialog is gone
    // (RFC 3261 14.1); the call ends with BYE.
    TAfterStep EndLostDialog(ISipCall& call, const std::string& status);
    // Responses to the call's INVITE.
    TAfterStep OnInviteProgress(ISipCall& call, const TSipMessage& message);
    TAfterStep OnInviteOk(ISipCall& call, const TSipMessage& message, bool first);
    TAfterStep OnForkOk(ISipCall& call, const TSipMessage& message);
    TAfterStep OnInviteChallenge(ISipCall& call, const TSipMessage& message);
    TAfterStep OnInviteFailure(ISipCall& call, const TSipMessage& message);
    TAfterStep OnEndedCallResponse(ISipCall& call, const TSipMessage& message);

    // Who may act on a call (engine_dialog.cpp). Each answers 481 or 500
    // itself where that is due and returns whether the message may go on.
    // All run once per message, before the transaction layer (Admit).
    bool FromCallPeer(ISipCall& call);
    // The datagram came from an account's server (its resolved address and
    // port); true when the source is not known.
    bool FromAccountServer();
    // The Request-URI user is the account's own or its Contact's.
    static bool AddressedToAccount(ISipAccount& account, const std::string& requestUser);
    bool AdmitByDialog(const TSipMessage& request);
    bool AdmitInDialogRequest(const ISipCallPtr& call, const TSipMessage& request);
    bool AdmitCancel(const ISipCallPtr& call, const TSipMessage& cancel);
    // `otherFork`: a 2xx from another fork of our INVITE, whose To tag is not
    // the dialog's.
    bool AdmitResponse(const ISipCallPtr& call, const TSipMessage& response, bool otherFork = false);

    // Registration (engine_register.cpp).
    void SendRegisterWithCredentials(ISipAccount& account);
    void SendMessageWithCredentials(ISipAccount& account, const TSipMessage& challenge);
    void SendStunRequest(ISipAccount& account);
    void RaiseRegistrationOk(const ISipAccountPtr& account);
    void RaiseRegistrationBye(const ISipAccountPtr& account);
    void OnRegistered(ISipAccount& account, const TSipMessage& message, bool& report);
    void OnRegistrationFailed(ISipAccount& account, const std::string& reason, bool& report);
    std::string NoAnswerReason(ISipAccount& account);

    // Calls (engine_calls.cpp) and REFER (engine_refer.cpp).
    std::shared_ptr<TCall> NewCall(const ISipAccountPtr& account, const std::string& callId);
    void SendInvite(ISipCall& call, bool withCredentials);
    void SendCallText(ISipCall& call, const std::string& text);
    void ChooseCodec(ISipCall& call, const TSipMessage& message);
    int ChoosePayload(const std::vector<int>& offered);
    // The payload types of `listed` that the engine offers too, in their order.
    std::vector<int> CommonPayloadTypes(const std::vector<int>& listed);
    void OnRefer(const TSipMessage& message);
    // A transfer the far end asked for and the host has not decided on.
    struct TTransferRequest {
        ISipCallPtr call;
        std::shared_ptr<const TSipMessage> refer;
        std::string target;
        double since = 0;
    };
    std::optional<TTransferRequest> TakeTransferRequest(const ISipCall& call);
    void CarryOutTransfer(const TTransferRequest& request);
    // Declines the transfers the host left undecided too long and ends the
    // calls transferred away whose transferor never sent its BYE.
    void TickTransfers();
    void FailCall(const ISipCallPtr& call, const std::string& statusText);
    void SendCancelOrWait(ISipCall& call);
    bool IsCancelled(const ISipCall& call);
    bool TakeAwaitingCancel(const ISipCall& call);
    // An incoming call offered and not answered yet (the host may not have
    // seen it: it is idle until then).
    bool IsRingingIncoming(ISipCall& call);
    int RingingIncomingCount();
    // A call whose SDP answer is to come in the ACK (we made the offer).
    void MarkAwaitingAnswer(const ISipCall& call, bool awaiting);
    bool IsAwaitingAnswer(const ISipCall& call);
    // Takes the remote media of an SDP answer or offer; false when its port
    // is no port.
    bool TakeRemoteMedia(ISipCall& call, const TSipMessage& message);
    // SRTP (engine_srtp.cpp). Media keys go into SDP only when the call's
    // signalling cannot be read on the way.
    bool CallSignallingIsSecure(ISipAccount& account) const;
    void OfferSrtpIfSecure(ISipCall& call);
    // The keys of our answer to `offer`; nothing when it must be refused
    // (488): SRTP we cannot meet or may not take, or an encrypted call
    // offered in the clear.
    std::optional<TCallCrypto> CryptoForOffer(ISipCall& call, const TSdpAudio& offer);
    // Takes the keys of the far end's answer to our offer; false when an
    // answer refuses the SRTP we asked for.
    bool TakeAnswerKeys(ISipCall& call, const TSdpAudio& answer);
    // A transfer we were asked for: the call placed to the target reports to
    // the call that asked (NOTIFY sipfrag), and ends it once answered.
    void ReportTransfer(const ISipCallPtr& placed, int status);
    // The call's dialog was confirmed (and may have ended since).
    static bool IsEstablished(ISipCall& call);
    void StartMedia(ISipCall& call);
    // Binds a port of the pool for the call's media; gives it back.
    void TakeRtpPort(ISipCall& call);
    void GiveBackRtpPort(ISipCall& call);

    const TSipEngineOptions Options_;
    std::atomic<int> LocalPort_;
    std::atomic<bool> Active_{false};
    // Set while switching off: nothing new is started (no refresh, retry or
    // incoming call), what is under way is still answered.
    std::atomic<bool> SwitchingOff_{false};
    std::atomic<bool> CallsFromServerOnly_{false};
    std::atomic<int> CSeqCounter_{0};
    std::atomic<int> SilenceThreshold_{800};
    std::atomic<int> SilenceTimeout_{5000};
    std::atomic<int> MediaTimeout_{kDefaultMediaTimeoutSeconds};

    mutable std::mutex CodecLock_;
    std::vector<int> Codecs_;  // guarded by CodecLock_

    TEventSinkRef Sink_;
    TSipAccounts Accounts_;
    // The one thread of every call's media; declared before the calls so
    // that it is joined after they are gone (a call that outlives the
    // engine keeps it until then).
    const std::shared_ptr<media::TMediaLoop> MediaLoop_ = std::make_shared<media::TMediaLoop>();
    TSipCalls Calls_;
    TRtpPortPool Ports_;

    // What the engine notes about its calls beyond their dialogs.
    std::mutex CallNotesLock_;
    std::unordered_set<const ISipCall*> AwaitingAnswer_;
    // Transactions of the BYEs that end other forks' dialogs (TWireFacts
    // keys): their answers and their timeouts are theirs, not the call's.
    std::unordered_set<std::string> ForkByes_;
    // Calls placed for a REFER we accepted, with the call that asked.
    std::unordered_map<const ISipCall*, std::weak_ptr<ISipCall>> TransferOrigins_;
    std::unordered_map<const ISipCall*, TTransferRequest> TransferRequests_;
    // Re-INVITEs to send again after a 491: the call's Call-ID and when.
    std::unordered_map<const ISipCall*, std::pair<std::string, sip_transaction::TTime>> ReInviteRetries_;
    // Calls transferred away, waiting for the transferor's BYE since then.
    std::unordered_map<const ISipCall*, double> TransferredAway_;
    // Calls seen ended but still listed, with the time they were first seen so.
    std::unordered_map<const ISipCall*, double> EndedSince_;
    // Calls expecting media: the received count last seen and since when it
    // has stood still.
    std::unordered_map<const ISipCall*, TMediaSeen> MediaSeen_;
    // Calls the agent cancelled, and whether the CANCEL still waits for the
    // INVITE's first provisional response.
    std::unordered_map<const ISipCall*, bool> Cancelled_;

    std::recursive_mutex DispatchLock_;
    TDatagramSource Source_;  // of the datagram being dispatched; guarded by DispatchLock_
    TViaDestinationMemo StampedVia_;  // the last request's Via as stamped on receipt
    std::chrono::steady_clock::time_point LastKeepAlive_;  // signalling thread only
    std::chrono::steady_clock::time_point LastTick_;       // signalling thread only

    // Their own locks are taken last (they send under them).
    sip_transaction::TClientTransactions Client_;
    sip_transaction::TServerTransactions Server_;

    // Every send takes SocketLock_ for its one system call; switching off
    // moves the socket out under the lock and joins its thread outside it.
    mutable std::mutex SocketLock_;
    std::unique_ptr<TUdpSocket> Socket_;  // guarded by SocketLock_; present while active
    // The TCP and TLS connections, present while active. Its own thread
    // hands received messages to Receive, which serialises them with the
    // datagrams under DispatchLock_.
    std::unique_ptr<TStreamTransport> Streams_;  // guarded by SocketLock_
    // How a connection to each account's server is made (its TLS name and
    // CA file), by "address:port"; other peers are verified by address.
    std::unordered_map<std::string, TStreamTransport::TTarget> StreamTargets_;  // guarded by SocketLock_
    std::string LastCaFile_;  // guarded by SocketLock_
    // Our certificate for TLS connections peers open; empty: TLS is not
    // taken. Given to the connections at SetActive(true).
    std::shared_ptr<SSL_CTX> TlsServerContext_;  // guarded by SocketLock_
    // Requests moved from UDP to TCP for their size, as they were before,
    // by "address:port" until that connection ends; and the branches of the
    // last ones moved, whose CANCEL must take the same way.
    std::unordered_map<std::string, std::vector<std::string>> UdpFallbacks_;  // guarded by SocketLock_
    std::vector<std::string> MovedBranches_;                                  // guarded by SocketLock_

    // Looks up the server names of lost registrations before their retry.
    TNameResolver Resolver_;
};
