// Registration, STUN and instant messages of the engine's accounts.
#include <algorithm>

#include "sip/compose_register.h"
#include "engine/engine.h"
#include "sip/message.h"
#include "sip/registration_expiry.h"

namespace {

constexpr uint16_t kStunPort = 3478;

// The STUN transaction identifier is taken from the account's Call-ID so the
// answer can be matched back to the account: the 16 characters that end one
// before its last.
std::string StunTransactionId(const std::string& callId) {
    if (callId.size() < 17) return (callId + std::string(16, '0')).substr(0, 16);
    return callId.substr(callId.size() - 17, 16);
}

}  // namespace

void TSipEngine::Register(ISipAccountPtr account) {
    // The STUN server's name is looked up before any lock is taken.
    const std::string stunServer = account->GetStunServer();
    if (account->GetStunAddress().empty() && !stunServer.empty())
        account->SetStunAddress(Options_.lookup(stunServer));
    std::lock_guard<ISipAccount> guard(*account);
    // A registration the host asks for starts afresh: no back-off carried
    // over, and the next loss is reported again.
    account->SetRenewal({});
    account->SetLocalPort(LocalPort_);
    if (!account->GetStunAddress().empty()) {
        account->SetRegTime(Now());
        account->SetState(asStunQuery);
        SendStunRequest(*account);
        return;
    }
    SendRegister(account);
}

void TSipEngine::SendStunRequest(ISipAccount& account) {
    std::string request("\x00\x01\x00\x08", 4);
    request += StunTransactionId(account.GetCallId());
    request += std::string("\x00\x03\x00\x04\x00\x00\x00\x00", 8);
    SendText(request, account.GetStunAddress(), kStunPort);
}

void TSipEngine::SendRegister(ISipAccountPtr account) {
    RequireActive();
    std::lock_guard<ISipAccount> guard(*account);
    account->SetBranch(NewBranch());
    account->SetCSeq(NextCSeq());
    const std::string text = ComposeRegister(*account);
    account->SetRegTime(Now());
    account->SetState(asRegistering);
    SendToAccount(*account, text);
}

void TSipEngine::Unregister(ISipAccountPtr account) {
    std::lock_guard<ISipAccount> guard(*account);
    // Taken off line on purpose: nothing is renewed or retried.
    TRegistrationRenewal renewal = account->GetRenewal();
    renewal.afterSeconds = 0;
    renewal.up = false;
    renewal.lost = true;
    account->SetRenewal(renewal);
    account->SetBranch(NewBranch());
    RequireActive();
    account->SetCSeq(NextCSeq());
    const std::string text = ComposeUnregister(*account);
    account->SetRegTime(Now());
    account->SetState(asUnregistering);
    SendToAccount(*account, text);
}

void TSipEngine::SendRegisterWithCredentials(ISipAccount& account) {
    if (!Active_) return;
    std::lock_guard<ISipAccount> guard(account);
    account.SetBranch(NewBranch());
    account.SetCSeq(NextCSeq());
    const bool unregistering = account.GetState() == asUnregAuthenticating || account.GetExpires() == 0;
    const std::string text = unregistering ? ComposeUnregisterWithCredentials(account)
                                           : ComposeRegisterWithCredentials(account);
    SendToAccount(account, text);
}

void TSipEngine::SendMessage(ISipAccountPtr account, const std::string& destination,
                             const std::string& text) {
    RequireActive();
    std::lock_guard<ISipAccount> guard(*account);
    account->SetCSeq(NextCSeq());
    const std::string message = ComposeMessage(*account, destination, text);
    account->SetPendingMessage(text);
    SendToAccount(*account, message);
}

void TSipEngine::SendMessageWithCredentials(ISipAccount& account, const TSipMessage& challenge) {
    RequireActive();
    std::lock_guard<ISipAccount> guard(account);
    account.SetCSeq(NextCSeq());
    const std::string message = ComposeMessageWithCredentials(challenge, account, challenge.ToUser);
    account.SetPendingMessage("");
    SendToAccount(account, message);
}

// ---------------------------------------------------------------------------
// Received REGISTER answers and STUN answers
// ---------------------------------------------------------------------------

namespace {

// A final failure: a first digit above 2, or no digit at all.
bool IsFinalFailure(const std::string& status) {
    if (status.empty()) return true;
    const char first = status[0];
    return first < '0' || first > '9' || first > '2';
}

bool IsChallenge(const std::string& status) { return status == "401" || status == "407"; }

// A challenge that only renews the nonce (RFC 7616 3.3: stale): the
// credentials were right, so the request goes again with the new nonce
// instead of counting as refused. The same nonce again would loop.
bool IsStaleChallenge(ISipAccount& account, const TSipMessage& message) {
    return IsChallenge(message.StatusCode) && message.Stale && message.Nonce != account.GetNonce();
}

}  // namespace

// A registrar that finds the asked expiry too brief names the least it
// grants (RFC 3261 10.2.8); the account asks again for that. Only a longer
// interval is taken, so a registrar naming the same one cannot loop.
bool TSipEngine::AskAgainForLonger(ISipAccount& account, const TSipMessage& message) {
    if (message.StatusCode != "423") return false;
    const int least = MinExpires(message.RawText);
    if (least <= account.GetExpires()) return false;
    account.SetExpires(least);
    return true;
}

// The same REGISTER with a new CSeq and the expiry the account holds now.
void TSipEngine::SendRegisterAgain(ISipAccount& account, bool withCredentials) {
    if (withCredentials) return SendRegisterWithCredentials(account);
    account.SetBranch(NewBranch());
    account.SetCSeq(NextCSeq());
    SendToAccount(account, ComposeRegister(account));
}

void TSipEngine::StoreChallenge(ISipAccount& account, const TSipMessage& message) {
    account.SetAuthStatus(message.StatusCode);
    account.SetOpaque(message.Opaque);
    account.SetQop(message.Qop);
    account.SetNonce(message.Nonce);
    account.SetRealm(message.Realm);
    account.SetRport(message.ViaRport);
}

void TSipEngine::OnRegister(const TSipMessage& message) {
    if (message.StatusCode.empty()) return;  // the agent is no registrar
    const ISipAccountPtr account = FindAccountByCallId(message.CallId);
    if (!account) return;

    bool registered = false;
    bool lost = false;
    {
        std::lock_guard<ISipAccount> guard(*account);
        const std::string& status = message.StatusCode;
        switch (account->GetState()) {
        case asRegistering:
            if (status == "200") {
                OnRegistered(*account, message, registered);
            } else if (AskAgainForLonger(*account, message)) {
                SendRegisterAgain(*account, false);
            } else if (IsChallenge(status)) {
                account->SetState(asAuthenticating);
                StoreChallenge(*account, message);
                account->SetTag(NewTag());
                SendRegisterWithCredentials(*account);
            } else if (IsFinalFailure(status)) {
                OnRegistrationFailed(*account, StatusLineText(message.RawText), lost);
            }
            break;
        case asAuthenticating:
            if (status == "200") {
                OnRegistered(*account, message, registered);
            } else if (IsStaleChallenge(*account, message)) {
                StoreChallenge(*account, message);
                SendRegisterWithCredentials(*account);
            } else if (AskAgainForLonger(*account, message)) {
                SendRegisterAgain(*account, true);
            } else if (IsFinalFailure(status)) {
                // Refused even with credentials (a wrong password): the host
                // must learn that the account is not registered.
                OnRegistrationFailed(*account, StatusLineText(message.RawText), lost);
            }
            break;
        case asUnregistering:
            if (status == "200") {
                // Idle as well, so the answer limit of the periodic check does
                // not report the same loss a second time.
                account->SetState(asIdle);
                lost = true;
            } else if (IsChallenge(status)) {
                StoreChallenge(*account, message);
                account->SetTag(NewTag());
                account->SetState(asUnregAuthenticating);
                SendRegisterWithCredentials(*account);
            } else if (IsFinalFailure(status)) {
                account->SetState(asIdle);
            }
            break;
        case asUnregAuthenticating:
            if (IsStaleChallenge(*account, message)) {
                StoreChallenge(*account, message);
                SendRegisterWithCredentials(*account);
                break;
            }
            if (status == "200" || IsFinalFailure(status)) account->SetState(asIdle);
            lost = true;
            break;
        default:
            break;
        }
    }
    if (registered) RaiseRegistrationOk(account);
    if (lost) RaiseRegistrationBye(account);
}

// The registrar's 200: the binding lasts what it granted, and is renewed
// at half of that. `report` is set when the host has not heard of it yet
// (the first registration, or a recovery after a loss).
void TSipEngine::OnRegistered(ISipAccount& account, const TSipMessage& message, bool& report) {
    account.SetState(asRegistered);
    account.SetRegistrarTag(message.ToTag);
    const int granted = GrantedExpiry(message.RawText, account.GetContactUri(), account.GetExpires());
    TRegistrationRenewal renewal = account.GetRenewal();
    report = !renewal.up;
    renewal.afterSeconds = RefreshAfterSeconds(granted);
    renewal.retrySeconds = 0;
    renewal.up = true;
    renewal.lost = false;
    renewal.lostReason.clear();
    account.SetRenewal(renewal);
    account.SetRegTime(Now());
}

// A REGISTER refused or never answered: the account is off line and tried
// again after a back-off (30 s doubling up to 5 minutes). `report` is set
// once per loss.
void TSipEngine::OnRegistrationFailed(ISipAccount& account, const std::string& reason, bool& report) {
    account.SetState(asIdle);
    TRegistrationRenewal renewal = account.GetRenewal();
    report = !renewal.lost;
    renewal.afterSeconds = renewal.retrySeconds > 0 ? renewal.retrySeconds : kFirstRetrySeconds;
    renewal.retrySeconds = std::min(renewal.afterSeconds * 2, kLongestRetrySeconds);
    renewal.up = false;
    renewal.lost = true;
    renewal.lostReason = reason;
    account.SetRenewal(renewal);
    account.SetRegTime(Now());
}

std::string TSipEngine::NoAnswerReason(ISipAccount& account) {
    const std::string proxy = account.GetProxy();
    return "no answer from " + (proxy.empty() ? account.GetDomain() : proxy) + ":" +
           std::to_string(account.GetServerPort());
}

void TSipEngine::OnStunAnswer(const TSipMessage& message) {
    const std::string& raw = message.RawText;
    if (raw.size() < 2 || raw[0] != '\x01' || raw[1] != '\x01') return;
    if (raw.size() < 20) return;  // no whole transaction identifier
    const ISipAccountPtr account = FindAccountByCallId(raw.substr(4, 16));
    if (!account) return;
    {
        std::lock_guard<ISipAccount> guard(*account);
        if (account->GetState() != asStunQuery) return;
        // A MAPPED-ADDRESS first attribute, whole: type 1, then family and
        // port before the four address bytes.
        if (raw.size() >= 32 && raw[20] == '\x00' && raw[21] == '\x01') {
            const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(raw[i]); };
            account->SetPublicAddress(std::to_string(byte(28)) + "." + std::to_string(byte(29)) +
                                      "." + std::to_string(byte(30)) + "." +
                                      std::to_string(byte(31)));
        }
    }
    SendRegister(account);
}
