// One SIP identity at one server (TAccount) and the engine's guarded list of
// them (TSipAccounts).
//
// Threading: the getters and setters of TAccount take no lock; whoever reads
// or changes several fields as one step (composing a request, moving the
// registration state) brackets the work with Lock/Unlock. TSipAccounts takes
// its own lock in every operation. When both are held, the list lock is taken
// first.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sip/sipints.h"

// The registrar text "host[:port]" split into the account's domain and port.
struct TServerText {
    std::string domain;
    int port = 5060;
};
// Splits at the first ":"; the port is the up to 10 characters after it, read
// as a decimal integer, 5060 when absent or not a number.
TServerText SplitServerText(const std::string& server);

// The current local time as a day count (days since 1899-12-30 with the time
// of day as fraction), the form the registration time is kept in.
double NowAsDays();

// Where an account sends its requests and which local address stands in Via.
struct TAccountAddresses {
    std::string serverAddress;
    std::string localIp;
};

class TAccount : public ISipAccount {
public:
    // Resolves the proxy (or, without one, the domain) to the server address
    // and finds the local interface toward it.
    TAccount(const std::string& stunServer, const std::string& domain,
             const std::string& userName, const std::string& password,
             const std::string& proxy);
    // The same with the addresses already known; no name lookup is done.
    TAccount(const std::string& stunServer, const std::string& domain,
             const std::string& userName, const std::string& password,
             const std::string& proxy, const TAccountAddresses& addresses);

    std::string GetContactUri() override;
    int GetCSeq() override;
    void SetCSeq(int value) override;
    std::string GetDisplayName() override;
    void SetDisplayName(const std::string& value) override;
    std::string GetQuotedDisplayName() override;
    void Lock() override;
    void Unlock() override;
    uint8_t GetState() override;
    void SetState(uint8_t value) override;
    std::string GetDomain() override;
    void SetDomain(const std::string& value) override;
    std::string GetProxy() override;
    void SetProxy(const std::string& value) override;
    std::string GetStunServer() override;
    void SetStunServer(const std::string& value) override;
    std::string GetUserName() override;
    void SetUserName(const std::string& value) override;
    std::string GetPassword() override;
    void SetPassword(const std::string& value) override;
    std::string GetRport() override;
    void SetRport(const std::string& value) override;
    std::string GetStunAddress() override;
    void SetStunAddress(const std::string& value) override;
    std::string GetLocalIp() override;
    void SetLocalIp(const std::string& value) override;
    int GetLocalPort() override;
    void SetLocalPort(int value) override;
    std::string GetContactHost() override;
    void SetPublicAddress(const std::string& value) override;
    std::string GetTag() override;
    void SetTag(const std::string& value) override;
    int GetServerPort() override;
    void SetServerPort(int value) override;
    std::string GetRegistrarTag() override;
    void SetRegistrarTag(const std::string& value) override;
    std::string GetAuthStatus() override;
    void SetAuthStatus(const std::string& value) override;
    std::string GetRealm() override;
    void SetRealm(const std::string& value) override;
    std::string GetNonce() override;
    void SetNonce(const std::string& value) override;
    std::string GetOpaque() override;
    void SetOpaque(const std::string& value) override;
    std::string GetQop() override;
    void SetQop(const std::string& value) override;
    TDigestUse GetDigestUse() override;
    void SetDigestUse(const TDigestUse& value) override;
    std::string GetPendingMessage() override;
    void SetPendingMessage(const std::string& value) override;
    void SetRegTime(double value) override;
    double GetRegTime() override;
    std::string GetBranch() override;
    void SetBranch(const std::string& value) override;
    std::string GetCallId() override;
    void SetCallId(const std::string& value) override;
    std::string GetServerAddress() override;
    void SetServerAddress(const std::string& value) override;
    TRegistrationRenewal GetRenewal() override;
    void SetRenewal(const TRegistrationRenewal& value) override;
    int GetExpires() override;
    void SetExpires(int value) override;
    TSignallingTransport GetTransport() override;
    void SetTransport(TSignallingTransport value) override;
    std::string GetTlsCaFile() override;
    void SetTlsCaFile(const std::string& value) override;
    bool SignallingIsSecure() override;

private:
    std::recursive_mutex Lock_;  // Lock/Unlock; guards nothing by itself
    // The addresses the signalling thread learns (a STUN answer, the server
    // resolved again) while the host thread composes with them, and the
    // registration renewal the host may read.
    mutable std::mutex AddressLock_;
    std::string ServerAddress_;     // guarded by AddressLock_
    std::string LocalIp_;           // guarded by AddressLock_
    std::string PublicAddress_;     // guarded by AddressLock_
    std::string StunAddress_;       // guarded by AddressLock_
    TRegistrationRenewal Renewal_;  // guarded by AddressLock_
    std::string Domain_;
    std::string Proxy_;
    int32_t ServerPort_ = 5060;
    std::string UserName_;
    std::string Password_;
    std::string CallId_;
    std::string Branch_;
    uint8_t State_ = asIdle;
    double RegTime_ = 0;
    std::string Realm_;
    std::string Nonce_;
    std::string Opaque_;
    std::string Qop_;
    TDigestUse DigestUse_;
    std::string AuthStatus_;
    std::string Tag_;
    std::string RegistrarTag_;
    int32_t LocalPort_ = 0;
    std::string StunServer_;
    std::string Rport_;
    std::string PendingMessage_;
    int32_t Expires_ = 3600;
    std::string DisplayName_;
    int32_t CSeq_ = 1;
    // Read by the signalling thread while the host may change it.
    std::atomic<TSignallingTransport> Transport_{TSignallingTransport::kUdp};
    std::string TlsCaFile_;  // guarded by AddressLock_
};
using TAccountPtr = std::shared_ptr<TAccount>;

// The engine's accounts, each held by one counted reference.
class TSipAccounts {
public:
    TSipAccounts() = default;
    ~TSipAccounts();
    TSipAccounts(const TSipAccounts&) = delete;
    TSipAccounts& operator=(const TSipAccounts&) = delete;

    // The account at index 0, or none when the list is empty.
    ISipAccountPtr FirstAccount();
    // The first account whose Call-ID equals `key`, or whose 16 characters of
    // Call-ID ending one before its last equal `key` (the transaction
    // identifier of its STUN request); none when nothing matches.
    ISipAccountPtr FindAccount(const std::string& key);
    // The account at `index`; none when the index is out of range.
    ISipAccountPtr AccountAt(int index);
    void AddAccountRef(const ISipAccountPtr& account);
    void RemoveAccount(const ISipAccountPtr& account);
    void Clear();
    int Count();

    // The list lock, for callers that walk the accounts (list before account).
    void Lock() { Lock_.lock(); }
    void Unlock() { Lock_.unlock(); }
    // BasicLockable, so std::lock_guard works on the list.
    void lock() { Lock(); }
    void unlock() { Unlock(); }

private:
    std::recursive_mutex Lock_;
    std::vector<ISipAccountPtr> Accounts_;  // guarded by Lock_
};
