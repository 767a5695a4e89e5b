#include "engine/engine.h"

#include <algorithm>
#include <stdexcept>
#include <thread>

#include "media/codecs.h"
#include "sip/auth.h"
#include "sip/compose.h"
#include "sip/message.h"
#include "sip/request_check.h"
#include "sip/signalling_transport.h"
#include "sip/tls_server_context.h"
#include "sip/transaction_key.h"
#include "sip/via.h"

namespace {

// How often the signalling thread looks at the transaction timers: a tenth
// of T1 keeps retransmissions within 50 ms of their schedule.
constexpr std::chrono::milliseconds kTransactionPeriod{50};

std::vector<int> RegisteredOnly(const std::vector<int>& payloadTypes) {
    std::vector<int> kept;
    for (const int payloadType : payloadTypes) {
        if (media::CodecRegistry().IsRegistered(payloadType)) kept.push_back(payloadType);
    }
    return kept;
}

}  // namespace

ISipEnginePtr CreateSipEngine(uint16_t localPort) {
    return std::make_shared<TSipEngine>(localPort);
}

TSipEngine::TSipEngine(uint16_t localPort, TSipEngineOptions options)
    : Options_(std::move(options)),
      LocalPort_(localPort),
      Codecs_(RegisteredOnly({0, 8, 3, 110})),
      Client_([this](const std::string& text, const std::string& address,
                     uint16_t port) { SendWire(text, address, port); },
              Options_.transactionTimers),
      Server_([this](const std::string& text, const std::string& address,
                     uint16_t port) { SendWire(text, address, port); },
              Options_.transactionTimers),
      Resolver_(Options_.lookup) {}

TSipEngine::~TSipEngine() {
    try {
        SetActive(false);
    } catch (...) {
        // Switching off on destruction is best effort: a failed send must not
        // escape a destructor.
    }
}

// ---------------------------------------------------------------------------
// Codec list
// ---------------------------------------------------------------------------

void TSipEngine::SetCodecs(const std::vector<int>& payloadTypes) {
    std::vector<int> kept = RegisteredOnly(payloadTypes);
    std::lock_guard<std::mutex> guard(CodecLock_);
    Codecs_ = std::move(kept);
}

int TSipEngine::NextCSeq() {
    constexpr int kLastSeed = 1 << 30;
    int current = CSeqCounter_.load();
    int next = 0;
    do {
        next = current >= kLastSeed ? 1 : current + 1;
    } while (!CSeqCounter_.compare_exchange_weak(current, next));
    return next;
}

int TSipEngine::GetCodecCount() {
    std::lock_guard<std::mutex> guard(CodecLock_);
    return static_cast<int>(Codecs_.size());
}

int TSipEngine::GetCodecAt(int index) {
    std::lock_guard<std::mutex> guard(CodecLock_);
    return Codecs_.at(static_cast<std::size_t>(index));
}

std::string TSipEngine::GetCodecList() {
    std::lock_guard<std::mutex> guard(CodecLock_);
    std::string list;
    for (const int payloadType : Codecs_) {
        if (!list.empty()) list += ' ';
        list += std::to_string(payloadType);
    }
    return list;
}

int TSipEngine::ChoosePayload(const std::vector<int>& offered) {
    std::lock_guard<std::mutex> guard(CodecLock_);
    for (const int payloadType : Codecs_) {
        if (std::find(offered.begin(), offered.end(), payloadType) != offered.end())
            return payloadType;
    }
    return -1;
}

std::vector<int> TSipEngine::CommonPayloadTypes(const std::vector<int>& listed) {
    std::lock_guard<std::mutex> guard(CodecLock_);
    std::vector<int> common;
    for (const int payloadType : listed) {
        if (std::find(Codecs_.begin(), Codecs_.end(), payloadType) != Codecs_.end())
            common.push_back(payloadType);
    }
    return common;
}

// ---------------------------------------------------------------------------
// Port pool
// ---------------------------------------------------------------------------

void TSipEngine::SetRtpPortMin(int value) { Ports_.SetBounds(value, Ports_.GetMax()); }

void TSipEngine::SetRtpPortMax(int value) { Ports_.SetBounds(Ports_.GetMin(), value); }

// ---------------------------------------------------------------------------
// Lifecycle
// ---------------------------------------------------------------------------

void TSipEngine::SetActive(bool value) {
    if (value) {
        if (Active_.exchange(true)) throw ESipError("Already active");
        PrepareDigest();
        // Marked active first: when the port is taken the error reaches the
        // caller and the engine stays on without a socket until switched off.
        auto socket = std::make_unique<TUdpSocket>(
            static_cast<uint16_t>(LocalPort_.load()), [this] { OnTimer(); },
            [this](const std::string& address, uint16_t port, const uint8_t* buffer,
                   std::size_t length) { Receive(buffer, length, TDatagramSource{address, port}); },
            std::min({Options_.timerPeriod, Options_.keepAlivePeriod,
                      std::chrono::milliseconds(kTransactionPeriod)}));
        // TCP listens on the UDP port, the one Contact names.
        auto streams = std::make_unique<TStreamTransport>(
            std::optional<uint16_t>(socket->LocalPort()),
            [this](const std::string& address, uint16_t port, const std::string& message, bool overTls) {
                Receive(reinterpret_cast<const uint8_t*>(message.data()), message.size(),
                        TDatagramSource{address, port, true, overTls});
            },
            [this](const std::string& address, uint16_t port, const std::string& reason, bool established) {
                OnStreamClosed(address, port, reason, established);
            });
        LastKeepAlive_ = std::chrono::steady_clock::now();
        LastTick_ = LastKeepAlive_;
        std::lock_guard<std::mutex> guard(SocketLock_);
        if (TlsServerContext_) streams->AcceptTls(TlsServerContext_);
        Socket_ = std::move(socket);
        Streams_ = std::move(streams);
        return;
    }

    if (!Active_) return;
    SwitchOff();
    // Dispatch finds the engine off afterwards: a 200 arriving now must not
    // connect a call nobody will ever end. The socket's thread is joined
    // outside the lock.
    std::unique_lock<std::recursive_mutex> dispatch(DispatchLock_);
    Accounts_.Clear();
    {
        // Media of calls still listed stops with them: their sockets' threads
        // must not outlive the list.
        std::vector<ISipCallPtr> remaining;
        {
            std::lock_guard<TSipCalls> list(Calls_);
            for (int i = 0; i < Calls_.Count(); ++i) remaining.push_back(Calls_.Get(i));
        }
        for (const ISipCallPtr& call : remaining) {
            {
                std::lock_guard<ISipCall> guard(*call);
                if (call->GetMediaActive()) call->SetMediaActive(false);
                call->Dialog().Terminate();
            }
            GiveBackRtpPort(*call);
        }
        Calls_.Clear();
    }
    {
        std::lock_guard<std::mutex> guard(CallNotesLock_);
        EndedSince_.clear();
        Cancelled_.clear();
        ForkByes_.clear();
        TransferRequests_.clear();
        ReInviteRetries_.clear();
        TransferredAway_.clear();
    }
    Active_ = false;
    SwitchingOff_ = false;
    Client_.Clear();
    Server_.Clear();
    dispatch.unlock();
    std::unique_ptr<TUdpSocket> socket;
    std::unique_ptr<TStreamTransport> streams;
    {
        std::lock_guard<std::mutex> guard(SocketLock_);
        socket = std::move(Socket_);
        streams = std::move(Streams_);
        StreamTargets_.clear();
        UdpFallbacks_.clear();
        MovedBranches_.clear();
    }
    streams.reset();  // joins the connections' thread outside the socket lock
    socket.reset();   // joins the receive thread outside the socket lock
}

void TSipEngine::SetTlsCertificate(const std::string& certificateFile, const std::string& keyFile) {
    std::shared_ptr<SSL_CTX> context;
    if (!certificateFile.empty() || !keyFile.empty()) context = NewTlsServerContext(certificateFile, keyFile);
    std::lock_guard<std::mutex> guard(SocketLock_);
    TlsServerContext_ = std::move(context);
    if (Streams_) Streams_->AcceptTls(TlsServerContext_);
}

void TSipEngine::SwitchOff() {
    SwitchingOff_ = true;
    // The receive thread keeps dispatching meanwhile: the challenge to an
    // un-REGISTER and the answer to a BYE are handled as at any other time,
    // and a lost request is sent again as its transaction says. A host that
    // runs the transaction timers itself is waiting here, so they run here
    // too.
    const auto limit = std::chrono::steady_clock::now() + Options_.switchOffLimit;
    std::unordered_set<const void*> takenDown;
    for (;;) {
        {
            std::lock_guard<std::recursive_mutex> dispatch(DispatchLock_);
            if (TakeDownRemaining(takenDown)) return;
        }
        if (std::chrono::steady_clock::now() >= limit) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!Options_.autoTick) PollTransactions();
    }
}

bool TSipEngine::TakeDownRemaining(std::unordered_set<const void*>& takenDown) {
    std::vector<ISipCallPtr> calls;
    {
        std::lock_guard<TSipCalls> list(Calls_);
        for (int i = 0; i < Calls_.Count(); ++i) calls.push_back(Calls_.Get(i));
    }
    for (const ISipCallPtr& call : calls) {
        // Also a call whose answer arrives while switching off.
        if (call->GetState() == csIdle || !takenDown.insert(call.get()).second) continue;
        try {
            if (IsRingingIncoming(*call))
                Reject(call);
            else
                HangUp(call);
        } catch (const std::exception&) {
            // One call that cannot be ended must not keep the others up, nor
            // the engine on.
        }
    }
    std::vector<ISipAccountPtr> accounts;
    {
        std::lock_guard<TSipAccounts> list(Accounts_);
        for (int i = 0; i < Accounts_.Count(); ++i) accounts.push_back(Accounts_.AccountAt(i));
    }
    bool awaited = false;
    for (const ISipAccountPtr& account : accounts) {
        const uint8_t state = account->GetState();
        // A registration that completes while switching off is taken back too.
        if (state == asRegistered && takenDown.insert(account.get()).second) {
            try {
                Unregister(account);
            } catch (const std::exception&) {
                // As for a call: the rest is switched off all the same.
            }
        }
        awaited = awaited || state == asRegistering || state == asAuthenticating ||
                  account->GetState() == asUnregistering || account->GetState() == asUnregAuthenticating;
    }
    return !awaited && Client_.Awaited() == 0;
}

uint16_t TSipEngine::BoundPort() const {
    std::lock_guard<std::mutex> guard(SocketLock_);
    return Socket_ ? Socket_->LocalPort() : 0;
}

void TSipEngine::RequireActive() const {
    if (!Active_) throw ESipError("not active");
}

// ---------------------------------------------------------------------------
// Sending
// ---------------------------------------------------------------------------

void TSipEngine::SendRaw(const void* buffer, std::size_t length, const std::string& address,
                         uint16_t port) {
    SendWire(std::string(static_cast<const char*>(buffer), length), address, port);
}

void TSipEngine::SendWire(const std::string& text, const std::string& address, uint16_t port) {
    SendWire(text, TopViaTransport(text), address, port);
}

void TSipEngine::SendWire(const std::string& text, TSignallingTransport transport, const std::string& address,
                          uint16_t port) {
    std::lock_guard<std::mutex> guard(SocketLock_);
    if (!IsStreamTransport(transport)) {
        if (Socket_) Socket_->Send(address, port, text.data(), text.size());
        return;
    }
    if (!Streams_) return;
    const auto known = StreamTargets_.find(address + ":" + std::to_string(port));
    TStreamTransport::TTarget target{transport, address, LastCaFile_};
    if (known != StreamTargets_.end()) target = known->second;
    target.transport = transport;
    Streams_->Send(address, port, text, target);
}

uint16_t TSipEngine::StreamPort() const {
    std::lock_guard<std::mutex> guard(SocketLock_);
    return Streams_ ? Streams_->ListenPort() : 0;
}

bool TSipEngine::StreamConnected(const std::string& address, uint16_t port) const {
    std::lock_guard<std::mutex> guard(SocketLock_);
    return Streams_ && Streams_->Connected(address, port);
}

void TSipEngine::DropConnection(const std::string& address, uint16_t port) {
    std::lock_guard<std::mutex> guard(SocketLock_);
    if (Streams_) Streams_->Drop(address, port);
}

// Every SIP message the agent composes passes here once; the transaction
// layer keeps what it must send again.
void TSipEngine::SendText(const std::string& composed, const std::string& address, int port,
                          bool remember, bool mayMove) {
    // The answer to a message repeats most of it: one longer than the agent
    // reads could never be answered in a way it hears.
    if (composed.size() > kMaxDatagram) throw ESipError("message too long");
    // Not even as far as the first proxy may a sips: request travel in the
    // clear (RFC 3261 26.2.2).
    if (RequestUriIsSips(composed) && TopViaTransport(composed) != TSignallingTransport::kTls)
        throw ESipError("a sips: address is reached only over TLS; the account uses " +
                        SignallingTransportName(TopViaTransport(composed)));
    const TWireFacts composedFacts = WireFactsOfText(composed);
    // Most messages leave as composed: only a moved one is a new text.
    const std::optional<std::string> moved =
        mayMove ? MovedForSize(composedFacts, composed, address, static_cast<uint16_t>(port)) : std::nullopt;
    const std::string& text = moved ? *moved : composed;
    const TSignallingTransport transport = TopViaTransport(text);
    // Kept before it leaves: the answer may come back before this thread
    // runs again, and an answer to nothing kept is dropped.
    if (remember && composedFacts.IsSip()) {
        const TWireFacts& facts = composedFacts;
        // A connection delivers or fails by itself: no retransmissions on it
        // (RFC 3261 17.1.1.2, 17.1.2.2), only the limits.
        const sip_transaction::TDestination destination{address, static_cast<uint16_t>(port),
                                                        IsStreamTransport(transport)};
        if (facts.request)
            Client_.OnSent(facts, text, destination, SteadyNow());
        else
            Server_.OnSent(facts, text, destination, SteadyNow());
    }
    SendWire(text, transport, address, static_cast<uint16_t>(port));
}

void TSipEngine::SendToAccount(ISipAccount& account, const std::string& text) {
    const std::string address = account.GetServerAddress();
    const int port = account.GetServerPort();
    const TSignallingTransport transport = account.GetTransport();
    if (IsStreamTransport(transport)) {
        // The certificate must name the server the user typed, not the
        // address it resolved to.
        const std::string proxy = account.GetProxy();
        const std::string server = proxy.empty() ? account.GetDomain() : proxy;
        const std::string caFile = account.GetTlsCaFile();
        std::lock_guard<std::mutex> guard(SocketLock_);
        StreamTargets_[address + ":" + std::to_string(port)] =
            TStreamTransport::TTarget{transport, server.substr(0, server.find(':')), caFile};
        if (!caFile.empty()) LastCaFile_ = caFile;
    }
    SendText(text, address, port);
}

// A peer reached directly inside a dialog (its Contact, no proxy between) is
// trusted as the account's server is: by the CA file the user gave the
// account, not by the system's store alone.
void TSipEngine::KnowDialogPeer(ISipAccount& account, const std::string& host, int port) {
    if (account.GetTransport() != TSignallingTransport::kTls) return;
    const std::string caFile = account.GetTlsCaFile();
    std::lock_guard<std::mutex> guard(SocketLock_);
    StreamTargets_.try_emplace(host + ":" + std::to_string(port),
                               TStreamTransport::TTarget{TSignallingTransport::kTls, host, caFile});
}

bool IsDottedAddress(const std::string& text) {
    int dots = 0;
    int digits = 0;
    for (const char c : text) {
        if (c == '.') {
            if (digits == 0) return false;
            ++dots;
            digits = 0;
        } else if (c < '0' || c > '9' || ++digits > 3) {
            return false;
        }
    }
    return dots == 3 && digits > 0;
}

// Every response goes to the top Via of its request (RFC 3261 18.2.2, RFC
// 3581): its received address and rport, else its sent-by. The receive path
// stamped received, so only a request that came with no source (a test
// feeding text) can leave a name here; that goes to the server, since no
// name is looked up on the signalling thread.
// `remember` false: the transaction layer does not keep the response (a
// refusal of a request that was never the call's).
void TSipEngine::SendResponse(const std::string& viaHeaders, ISipAccount* account,
                              const std::string& text, bool remember) {
    const TResponseDestination destination = StampedVia_.DestinationOf(viaHeaders);
    if (IsDottedAddress(destination.host)) {
        SendText(text, destination.host, destination.port, remember);
    } else if (account) {
        SendText(text, account->GetServerAddress(), account->GetServerPort(), remember);
    }
}

void TSipEngine::SendToVia(const TSipMessage& message, ISipAccount* account,
                           const std::string& text, bool remember) {
    SendResponse(message.ViaHeaders, account, text, remember);
}

// ---------------------------------------------------------------------------
// Receive path and timers
// ---------------------------------------------------------------------------

void TSipEngine::Receive(const uint8_t* buffer, std::size_t length, const TDatagramSource& source) {
    std::lock_guard<std::recursive_mutex> dispatch(DispatchLock_);
    if (!Active_) return;
    TSipMessage message(std::string(reinterpret_cast<const char*>(buffer), length));
    Source_ = source;
    // A request's top Via learns where the datagram really came from, so its
    // responses reach the sender behind a NAT or on another node.
    if (!message.RequestUri.empty() && !source.address.empty()) {
        TStampedVia stamped =
            StampTopViaRouted(message.ViaHeaders, source.address, source.port, source.stream);
        StampedVia_.Remember(stamped);
        message.ViaHeaders = std::move(stamped.headers);
    }
    if (IsRequest(message) && (RefuseInvalid(message) || RefuseSipsInClear(message, source))) {
        Sink_.Notify([&](ISipEventHandler& sink) { sink.Log(message.RawText); });
        return;
    }
    if (Admit(message)) Dispatch(message);
    Sink_.Notify([&](ISipEventHandler& sink) { sink.Log(message.RawText); });
}

// A request missing what every request needs, or with a body the agent
// cannot read, is answered with the error and reaches no call: a caller
// whose INVITE the phone cannot understand must not make it ring. The
// refusal is not kept as a transaction's answer, as nothing ties a broken
// request to a transaction.
bool TSipEngine::RefuseInvalid(const TSipMessage& request) {
    const std::optional<TRequestFault> fault = CheckRequest(request);
    if (!fault) return false;
    if (CanRefuse(request))
        SendToVia(request, nullptr, ComposeRefusal(request, fault->status, NewTag(), fault->extraHeaders),
                  false);
    return true;
}

// The verdict on a received message before dispatch: messages on a call's
// Call-ID that are not the call's peer's, copies of requests already handled,
// copies of final responses already seen and responses to nothing the agent
// sent go no further.
bool TSipEngine::Admit(const TSipMessage& message) {
    const TWireFacts facts = WireFactsOf(message);
    if (!facts.IsSip()) return true;
    if (facts.request) {
        if (facts.method == "ACK") {
            Server_.OnAck(facts);
            return true;
        }
        // Checked before a server transaction keeps it: a forged request
        // must not make the real one with the same branch look like a copy.
        if (!AdmitByDialog(message)) return false;
        return Server_.OnRequest(facts, SteadyNow()) == sip_transaction::TRequestKind::kNew;
    }
    // Checked before the transaction sees it: a forged answer with a known
    // branch must not use up the transaction the real answer needs.
    // A 2xx from another fork of our INVITE would look like a copy to the
    // transaction (which would acknowledge it for the first fork); its tag
    // tells the dialog rules otherwise.
    // The BYE that ended another fork's dialog is answered by that fork,
    // with its own tag and often from its own address: its transaction takes
    // the answer, and the call (another dialog) never sees it.
    if (TakeForkBye(facts, facts.status >= 200)) {
        Client_.OnResponse(facts, SteadyNow());
        return false;
    }
    const ISipCallPtr call = FindCall(message.CallId);
    const bool otherFork = IsOtherForkAnswer(message);
    if (call && !AdmitResponse(call, message, otherFork)) return false;
    if (otherFork) return true;
    const auto match = Client_.OnResponse(facts, SteadyNow());
    if (match.kind == sip_transaction::TResponseKind::kUnmatched) {
        // A response to nothing the agent sent changes nothing; only a final
        // failure to an INVITE given up long ago still gets its ACK.
        return facts.method == "INVITE" && facts.status >= 300;
    }
    return match.kind != sip_transaction::TResponseKind::kRetransmission;
}

bool TSipEngine::IsOtherForkAnswer(const TSipMessage& message) {
    if (message.CSeqMethod != "INVITE" || !message.StatusCode.starts_with('2')) return false;
    const ISipCallPtr call = FindCall(message.CallId);
    return call && !call->GetIncoming() && IsEstablished(*call) && !message.ToTag.empty() &&
           message.ToTag != call->Dialog().RemoteTag();
}

bool TSipEngine::TakeForkBye(const TWireFacts& facts, bool final) {
    if (facts.method != "BYE") return false;
    std::lock_guard<std::mutex> notes(CallNotesLock_);
    const auto found = ForkByes_.find(facts.Key());
    if (found == ForkByes_.end()) return false;
    if (final) ForkByes_.erase(found);
    return true;
}

void TSipEngine::OnTimer() {
    const auto now = std::chrono::steady_clock::now();
    if (now - LastKeepAlive_ >= Options_.keepAlivePeriod) {
        LastKeepAlive_ = now;
        KeepAlive();
    }
    RetryResolved();
    if (!Options_.autoTick) return;
    PollTransactions();
    if (now - LastTick_ >= Options_.timerPeriod) {
        LastTick_ = now;
        Tick();
    }
}

void TSipEngine::PollTransactions() {
    std::lock_guard<std::recursive_mutex> dispatch(DispatchLock_);
    if (!Active_) return;
    const auto now = SteadyNow();
    for (const auto& ended : Client_.Poll(now)) OnTransactionTimeout(ended);
    for (const auto& ended : Server_.Poll(now)) OnUnacknowledged(ended);
    RetryReInvites();
}

// Timer B or F: the far end never answered.
void TSipEngine::OnTransactionTimeout(const sip_transaction::TTimedOut& ended) {
    const std::string& method = ended.request.method;
    if (method == "REGISTER") {
        const ISipAccountPtr account = FindAccountByCallId(ended.request.callId);
        if (!account) return;
        bool report = false;
        {
            std::lock_guard<ISipAccount> guard(*account);
            const uint8_t state = account->GetState();
            if (state == asRegistering || state == asAuthenticating)
                OnRegistrationFailed(*account, NoAnswerReason(*account), report);
        }
        if (report) RaiseRegistrationBye(account);
        return;
    }
    // An unanswered BYE to another fork ends nothing but that fork's dialog.
    if (TakeForkBye(ended.request, true)) return;
    const ISipCallPtr call = FindCall(ended.request.callId);
    if (!call) return;
    if (method == "INVITE") {
        const TCallState state = call->GetState();
        const bool setUp = state == csCalling || state == csAuthenticating || state == csRinging;
        if (call->GetBranch() != ended.request.branch) return;
        if (setUp) return FailCall(call, "408");
        if ((state == csConnected || state == csHolding) && IsEstablished(*call)) {
            // Our re-INVITE was never answered: the dialog is gone.
            {
                std::lock_guard<ISipCall> guard(*call);
                call->SetBranch(NewBranch());
                call->Dialog().NextLocalCSeq();
                SendCallText(*call, ComposeBye(*call));
            }
            FailCall(call, "408");
        }
    } else if (method == "CANCEL" || method == "BYE") {
        // The far end is gone: the call ends here all the same.
        FailCall(call, call->GetStatusText());
    }
}

// Our 2xx to an INVITE was never acknowledged: the far end does not have the
// call, so it is ended with BYE (RFC 3261 13.3.1.4).
void TSipEngine::OnUnacknowledged(const sip_transaction::TUnacknowledged& ended) {
    if (ended.status < 200 || ended.status >= 300) return;
    const ISipCallPtr call = FindCall(ended.callId);
    if (!call) return;
    const TCallState state = call->GetState();
    if (state != csConnected && state != csHolding) return;
    HangUp(call);
    FailCall(call, "408");
}

void TSipEngine::KeepAlive() {
    static const std::string kKeepAlive = "\r\n\r\n";
    std::lock_guard<TSipAccounts> list(Accounts_);
    for (int i = 0; i < Accounts_.Count(); ++i) {
        ISipAccountPtr account = Accounts_.AccountAt(i);
        if (!IsStreamTransport(account->GetTransport())) {
            SendToAccount(*account, kKeepAlive);
            continue;
        }
        // Over a connection the same CR LF pair keeps the router's binding
        // and tells a dead server (RFC 5626 4.4.1); a connection that is
        // gone is rebuilt by the registration, not by a keep-alive.
        std::lock_guard<std::mutex> guard(SocketLock_);
        if (Streams_)
            Streams_->SendIfConnected(account->GetServerAddress(),
                                      static_cast<uint16_t>(account->GetServerPort()), kKeepAlive);
    }
}

void TSipEngine::Tick() {
    std::vector<ISipAccountPtr> retry;
    {
        std::lock_guard<std::recursive_mutex> dispatch(DispatchLock_);
        retry = TickAccounts();
        TickCalls();
        TickTransfers();
    }
    for (const ISipAccountPtr& account : retry) {
        // The server's address is looked up again before a retry: an
        // unanswered registration may mean it moved. The look-up runs on the
        // resolver's thread; the REGISTER leaves once its answer is back.
        const std::string proxy = account->GetProxy();
        Resolver_.Ask(account->GetCallId(), proxy.empty() ? account->GetDomain() : proxy);
    }
    RetryResolved();
}

void TSipEngine::RetryResolved() {
    for (const TNameResolver::TAnswer& answer : Resolver_.TakeAnswers()) {
        const ISipAccountPtr account = FindAccountByCallId(answer.key);
        if (!account) continue;
        if (!answer.address.empty()) account->SetServerAddress(answer.address);
        // Still due: neither taken off line on purpose nor registered by
        // the host meanwhile.
        const TRegistrationRenewal renewal = account->GetRenewal();
        if (account->GetState() != asIdle || !renewal.lost || renewal.afterSeconds <= 0) continue;
        if (Active_ && !SwitchingOff_) SendRegister(account);
    }
}

std::vector<ISipAccountPtr> TSipEngine::TickAccounts() {
    std::vector<ISipAccountPtr> timedOut;
    std::vector<ISipAccountPtr> due;
    std::vector<ISipAccountPtr> retry;
    {
        std::lock_guard<TSipAccounts> list(Accounts_);
        const double now = Now();
        for (int i = 0; i < Accounts_.Count(); ++i) {
            ISipAccountPtr account = Accounts_.AccountAt(i);
            std::lock_guard<ISipAccount> guard(*account);
            const double elapsed = SecondsBetween(account->GetRegTime(), now);
            switch (account->GetState()) {
            case asRegistered: {
                const int refresh = account->GetRenewal().afterSeconds;
                if (elapsed > (refresh > 0 ? refresh : kRefreshSeconds) && Active_ && !SwitchingOff_) due.push_back(account);
                break;
            }
            case asIdle: {
                // A lost registration is tried again after its back-off.
                const TRegistrationRenewal renewal = account->GetRenewal();
                if (renewal.lost && renewal.afterSeconds > 0 && elapsed > renewal.afterSeconds && Active_ &&
                    !SwitchingOff_)
                    retry.push_back(account);
                break;
            }
            case asRegistering:
            case asAuthenticating:
                if (elapsed > kRegisterTimeoutSeconds) {
                    bool report = false;
                    OnRegistrationFailed(*account, NoAnswerReason(*account), report);
                    if (report) timedOut.push_back(account);
                }
                break;
            case asUnregistering:
                if (elapsed > kRegisterTimeoutSeconds) {
                    account->SetState(asIdle);
                    timedOut.push_back(account);
                }
                break;
            case asStunQuery:
                // A STUN server that does not answer must not keep the booth
                // unregistered: register with the local address instead.
                if (elapsed > kStunTimeoutSeconds && Active_) SendRegister(account);
                break;
            default:
                break;
            }
        }
    }
    for (const ISipAccountPtr& account : timedOut) RaiseRegistrationBye(account);
    for (const ISipAccountPtr& account : due) SendRegister(account);
    return retry;
}

bool TSipEngine::MediaTimedOut(ISipCall& call, double now,
                               std::unordered_map<const ISipCall*, TMediaSeen>& seen) {
    const int timeout = MediaTimeout_;
    const auto* media = dynamic_cast<const TCall*>(&call);
    // Held either way, nothing is due from the far end: the wait starts
    // again when the call is taken off hold. A far end that holds us with
    // "sendonly" may send music or may send nothing, so only a two-way call
    // is watched.
    if (timeout <= 0 || !media || call.GetState() != csConnected || !call.GetMediaActive() ||
        call.GetOnHold() || call.GetDirection() != "sendrecv") {
        return false;
    }
    const uint64_t received = media->GetMediaReceived();
    const auto before = MediaSeen_.find(&call);
    TMediaSeen& entry = seen[&call];
    if (before == MediaSeen_.end() || before->second.received != received) {
        entry = TMediaSeen{received, now};
        return false;
    }
    entry = before->second;
    return SecondsBetween(entry.since, now) >= timeout;
}

void TSipEngine::TickCalls() {
    std::vector<ISipCallPtr> expired;
    std::vector<ISipCallPtr> stale;
    std::vector<ISipCallPtr> silent;
    const double now = Now();
    {
        std::lock_guard<TSipCalls> list(Calls_);
        std::lock_guard<std::mutex> notes(CallNotesLock_);
        std::unordered_map<const ISipCall*, double> endedSince;
        std::unordered_map<const ISipCall*, TMediaSeen> mediaSeen;
        for (int i = 0; i < Calls_.Count(); ++i) {
            ISipCallPtr call = Calls_.Get(i);
            const TCallState state = call->GetState();
            if (MediaTimedOut(*call, now, mediaSeen)) {
                silent.push_back(call);
            } else if ((state == csCalling || state == csAuthenticating || state == csRinging) &&
                SecondsBetween(call->GetStartTime(), now) > kSetupTimeoutSeconds) {
                expired.push_back(call);
            } else if (state == csIdle) {
                // An ended call still listed (an abandoned or rejected incoming
                // call, a cancelled call whose final answer never came) would
                // hold its RTP port for ever.
                const auto seen = EndedSince_.find(call.get());
                const double since = seen == EndedSince_.end() ? now : seen->second;
                endedSince[call.get()] = since;
                if (SecondsBetween(since, now) > kEndedCallSeconds) stale.push_back(call);
            }
        }
        EndedSince_ = std::move(endedSince);
        MediaSeen_ = std::move(mediaSeen);
    }
    for (const ISipCallPtr& call : silent) {
        // The far end is gone (killed, unplugged, its NAT binding lost): the
        // call would otherwise stay up, and billed, for ever.
        // Ended here rather than on the BYE's answer, which a dead peer never
        // sends: the host hears of it at once, with the reason.
        {
            std::lock_guard<ISipCall> guard(*call);
            if (call->GetState() != csConnected) continue;
            HangUp(call);
            call->SetStatusText(kMediaTimeoutStatus);
            if (call->GetMediaActive()) call->SetMediaActive(false);
            call->SetState(csIdle);
        }
        EndCall(call);
    }
    for (const ISipCallPtr& call : expired) {
        // The far end learns of it too: a final response for its INVITE, a
        // CANCEL for ours. A cancelled call stays listed, ended, until the
        // INVITE's final answer (a 487, or a 200 that crossed the CANCEL and
        // needs its ACK and BYE) or the limit for ended calls.
        bool cancelled = false;
        {
            std::lock_guard<ISipCall> guard(*call);
            if (call->GetIncoming()) {
                SendCallText(*call, ComposeCallResponse(*call, "480 Temporarily Unavailable"));
            } else {
                SendCancelOrWait(*call);
                cancelled = !TakeAwaitingCancel(*call);
            }
        }
        if (!cancelled) {
            FailCall(call, "408");
            continue;
        }
        std::lock_guard<ISipCall> guard(*call);
        if (call->GetMediaActive()) call->SetMediaActive(false);
        call->SetStatusText("408");
        call->SetState(csIdle);
    }
    for (const ISipCallPtr& call : stale) EndCall(call);
}

// ---------------------------------------------------------------------------
// Accounts
// ---------------------------------------------------------------------------

ISipAccountPtr TSipEngine::AddAccount(const std::string& stunServer, const std::string& server,
                                      const std::string& userName, const std::string& password,
                                      const std::string& proxy) {
    const TServerText split = SplitServerText(server);
    auto account = std::make_shared<TAccount>(stunServer, split.domain, userName, password, proxy);
    account->SetServerPort(split.port);
    account->SetLocalPort(LocalPort_);
    Accounts_.AddAccountRef(account);
    return account;
}

ISipAccountPtr TSipEngine::FindAccountByCallId(const std::string& text) {
    return Accounts_.FindAccount(text);
}

// The account whose user name equals one of the request's users, else the
// first listed account.
ISipAccountPtr TSipEngine::FindAccountFor(const std::string& user, const std::string& otherUser) {
    std::lock_guard<TSipAccounts> list(Accounts_);
    for (int i = 0; i < Accounts_.Count(); ++i) {
        ISipAccountPtr account = Accounts_.AccountAt(i);
        const std::string name = account->GetUserName();
        if (!name.empty() && (name == user || name == otherUser)) return account;
    }
    return Accounts_.FirstAccount();
}

void TSipEngine::RaiseRegistrationOk(const ISipAccountPtr& account) {
    Sink_.Notify([&](ISipEventHandler& sink) { sink.RegistrationOk(account); });
}

void TSipEngine::RaiseRegistrationBye(const ISipAccountPtr& account) {
    Sink_.Notify([&](ISipEventHandler& sink) { sink.RegistrationBye(account); });
}
