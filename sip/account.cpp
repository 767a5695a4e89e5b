#include "sip/account.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <ctime>

#include "sip/header_values.h"
#include "sip/transport.h"

namespace {

// Days between 1899-12-30, the origin of the day count, and 1970-01-01.
constexpr double kUnixEpochDays = 25569.0;

TAccountAddresses ResolveAddresses(const std::string& domain, const std::string& proxy) {
    TAccountAddresses addresses;
    addresses.serverAddress = ResolveAddress(proxy.empty() ? domain : proxy);
    addresses.localIp = GetLocalAddressFor(addresses.serverAddress);
    return addresses;
}

// Reads a whole text as a signed decimal integer; false when it is not one.
bool ReadInteger(const std::string& text, int& value) {
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+') ++first;
    auto [end, error] = std::from_chars(first, last, value);
    return error == std::errc() && end == last && first != last;
}

// The domain and user name stand in every request line and URI the account
// writes; the display name in a quoted string.
void CheckDomain(const std::string& domain) {
    if (!domain.empty()) sip_header::RequireHost(domain, "the domain");
}

void CheckUserName(const std::string& userName) {
    sip_header::RequireNoControl(userName, "the user name");
}

void CheckDisplayName(const std::string& displayName) {
    sip_header::RequireNoControl(displayName, "the display name");
    if (displayName.size() > sip_header::kMaxDisplayNameLength) {
        throw std::invalid_argument("the display name is too long (at most " +
                                    std::to_string(sip_header::kMaxDisplayNameLength) +
                                    " characters)");
    }
}

}  // namespace

TServerText SplitServerText(const std::string& server) {
    TServerText result;
    const auto colon = server.find(':');
    result.domain = server.substr(0, colon);
    if (colon == std::string::npos) return result;
    int port = 0;
    if (ReadInteger(server.substr(colon + 1, 10), port)) result.port = port;
    return result;
}

double NowAsDays() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    // timegm of the broken-down local time gives the local wall clock as
    // seconds since the epoch, which is what a local day count measures.
    const double seconds = static_cast<double>(timegm(&local));
    return kUnixEpochDays + seconds / 86400.0;
}

TAccount::TAccount(const std::string& stunServer, const std::string& domain,
                   const std::string& userName, const std::string& password,
                   const std::string& proxy)
    : TAccount(stunServer, domain, userName, password, proxy, ResolveAddresses(domain, proxy)) {}

TAccount::TAccount(const std::string& stunServer, const std::string& domain,
                   const std::string& userName, const std::string& password,
                   const std::string& proxy, const TAccountAddresses& addresses)
    : ServerAddress_(addresses.serverAddress),
      LocalIp_(addresses.localIp),
      Domain_(domain),
      Proxy_(proxy),
      UserName_(userName),
      Password_(password),
      CallId_(NewHexId()),
      Branch_(NewBranch()),
      RegTime_(NowAsDays()),
      Tag_(NewTag()),
      StunServer_(stunServer) {
    CheckDomain(domain);
    CheckUserName(userName);
}

// Composed for every request and dialog answer: written into one buffer
// rather than joined from a temporary per part.
std::string TAccount::GetContactUri() {
    const std::string user = sip_header::EscapeUserPart(UserName_);
    const std::string transport = UriTransportParameter(Transport_);
    char port[16] = {':'};
    const char* portEnd = std::to_chars(port + 1, port + sizeof port, static_cast<int32_t>(LocalPort_)).ptr;
    const auto portLength = static_cast<std::size_t>(portEnd - port);
    std::string uri;
    std::lock_guard<std::mutex> guard(AddressLock_);
    const std::string& host = PublicAddress_.empty() ? LocalIp_ : PublicAddress_;
    uri.reserve(4 + user.size() + 1 + host.size() + sizeof port + transport.size());
    uri.append("sip:").append(user).append("@").append(host).append(port, portLength);
    uri.append(transport);
    return uri;
}

std::string TAccount::GetQuotedDisplayName() {
    if (DisplayName_.empty()) return {};
    return sip_header::QuotedString(DisplayName_) + " ";
}

std::string TAccount::GetContactHost() {
    std::lock_guard<std::mutex> guard(AddressLock_);
    return PublicAddress_.empty() ? LocalIp_ : PublicAddress_;
}

void TAccount::Lock() { Lock_.lock(); }
void TAccount::Unlock() { Lock_.unlock(); }

int TAccount::GetCSeq() { return CSeq_; }
void TAccount::SetCSeq(int value) { CSeq_ = value; }
std::string TAccount::GetDisplayName() { return DisplayName_; }
void TAccount::SetDisplayName(const std::string& value) {
    CheckDisplayName(value);
    DisplayName_ = value;
}
uint8_t TAccount::GetState() { return State_; }
void TAccount::SetState(uint8_t value) { State_ = value; }
std::string TAccount::GetDomain() { return Domain_; }
void TAccount::SetDomain(const std::string& value) {
    CheckDomain(value);
    Domain_ = value;
}
std::string TAccount::GetProxy() { return Proxy_; }
void TAccount::SetProxy(const std::string& value) { Proxy_ = value; }
std::string TAccount::GetStunServer() { return StunServer_; }
void TAccount::SetStunServer(const std::string& value) { StunServer_ = value; }
std::string TAccount::GetUserName() { return UserName_; }
void TAccount::SetUserName(const std::string& value) {
    CheckUserName(value);
    UserName_ = value;
}
std::string TAccount::GetPassword() { return Password_; }
void TAccount::SetPassword(const std::string& value) { Password_ = value; }
std::string TAccount::GetRport() { return Rport_; }
void TAccount::SetRport(const std::string& value) { Rport_ = value; }
std::string TAccount::GetStunAddress() {
    std::lock_guard<std::mutex> guard(AddressLock_);
    return StunAddress_;
}
void TAccount::SetStunAddress(const std::string& value) {
    std::lock_guard<std::mutex> guard(AddressLock_);
    StunAddress_ = value;
}
std::string TAccount::GetLocalIp() {
    std::lock_guard<std::mutex> guard(AddressLock_);
    return LocalIp_;
}
void TAccount::SetLocalIp(const std::string& value) {
    std::lock_guard<std::mutex> guard(AddressLock_);
    LocalIp_ = value;
}
int TAccount::GetLocalPort() { return LocalPort_; }
void TAccount::SetLocalPort(int value) { LocalPort_ = value; }
void TAccount::SetPublicAddress(const std::string& value) {
    std::lock_guard<std::mutex> guard(AddressLock_);
    PublicAddress_ = value;
}
std::string TAccount::GetTag() { return Tag_; }
void TAccount::SetTag(const std::string& value) { Tag_ = value; }
int TAccount::GetServerPort() { return ServerPort_; }
void TAccount::SetServerPort(int value) { ServerPort_ = value; }
std::string TAccount::GetRegistrarTag() { return RegistrarTag_; }
void TAccount::SetRegistrarTag(const std::string& value) { RegistrarTag_ = value; }
std::string TAccount::GetAuthStatus() { return AuthStatus_; }
void TAccount::SetAuthStatus(const std::string& value) { AuthStatus_ = value; }
std::string TAccount::GetRealm() { return Realm_; }
void TAccount::SetRealm(const std::string& value) { Realm_ = value; }
std::string TAccount::GetNonce() { return Nonce_; }
void TAccount::SetNonce(const std::string& value) { Nonce_ = value; }
std::string TAccount::GetOpaque() { return Opaque_; }
void TAccount::SetOpaque(const std::string& value) { Opaque_ = value; }
std::string TAccount::GetQop() { return Qop_; }
void TAccount::SetQop(const std::string& value) { Qop_ = value; }
TDigestUse TAccount::GetDigestUse() { return DigestUse_; }
void TAccount::SetDigestUse(const TDigestUse& value) { DigestUse_ = value; }
std::string TAccount::GetPendingMessage() { return PendingMessage_; }
void TAccount::SetPendingMessage(const std::string& value) { PendingMessage_ = value; }
void TAccount::SetRegTime(double value) { RegTime_ = value; }
double TAccount::GetRegTime() { return RegTime_; }
std::string TAccount::GetBranch() { return Branch_; }
void TAccount::SetBranch(const std::string& value) { Branch_ = value; }
std::string TAccount::GetCallId() { return CallId_; }
void TAccount::SetCallId(const std::string& value) { CallId_ = value; }
std::string TAccount::GetServerAddress() {
    std::lock_guard<std::mutex> guard(AddressLock_);
    return ServerAddress_;
}

void TAccount::SetServerAddress(const std::string& value) {
    std::lock_guard<std::mutex> guard(AddressLock_);
    ServerAddress_ = value;
}

TRegistrationRenewal TAccount::GetRenewal() {
    std::lock_guard<std::mutex> guard(AddressLock_);
    return Renewal_;
}

void TAccount::SetRenewal(const TRegistrationRenewal& value) {
    std::lock_guard<std::mutex> guard(AddressLock_);
    Renewal_ = value;
}
int TAccount::GetExpires() { return Expires_; }
void TAccount::SetExpires(int value) { Expires_ = value; }

TSignallingTransport TAccount::GetTransport() { return Transport_; }

void TAccount::SetTransport(TSignallingTransport value) {
    const TSignallingTransport before = Transport_.exchange(value);
    if (ServerPort_ == DefaultServerPort(before)) ServerPort_ = DefaultServerPort(value);
}

std::string TAccount::GetTlsCaFile() {
    std::lock_guard<std::mutex> guard(AddressLock_);
    return TlsCaFile_;
}

void TAccount::SetTlsCaFile(const std::string& value) {
    std::lock_guard<std::mutex> guard(AddressLock_);
    TlsCaFile_ = value;
}

bool TAccount::SignallingIsSecure() { return Transport_ == TSignallingTransport::kTls; }

// --- TSipAccounts -----------------------------------------------------------

TSipAccounts::~TSipAccounts() { Clear(); }

ISipAccountPtr TSipAccounts::FirstAccount() {
    std::lock_guard guard(Lock_);
    return Accounts_.empty() ? nullptr : Accounts_.front();
}

ISipAccountPtr TSipAccounts::FindAccount(const std::string& key) {
    std::lock_guard guard(Lock_);
    for (const auto& account : Accounts_) {
        const std::string callId = account->GetCallId();
        if (callId == key) return account;
        // The STUN request's transaction identifier is the 16 characters of
        // the Call-ID that end one before its last.
        if (callId.size() >= 17 && callId.compare(callId.size() - 17, 16, key) == 0)
            return account;
    }
    return nullptr;
}

ISipAccountPtr TSipAccounts::AccountAt(int index) {
    std::lock_guard guard(Lock_);
    if (index < 0 || static_cast<std::size_t>(index) >= Accounts_.size()) return nullptr;
    return Accounts_[static_cast<std::size_t>(index)];
}

void TSipAccounts::AddAccountRef(const ISipAccountPtr& account) {
    std::lock_guard guard(Lock_);
    Accounts_.push_back(account);
}

void TSipAccounts::RemoveAccount(const ISipAccountPtr& account) {
    std::lock_guard guard(Lock_);
    const auto found = std::find(Accounts_.begin(), Accounts_.end(), account);
    if (found != Accounts_.end()) Accounts_.erase(found);
}

void TSipAccounts::Clear() {
    // Oldest first, so accounts are released in the order they were added.
    std::lock_guard guard(Lock_);
    while (!Accounts_.empty()) Accounts_.erase(Accounts_.begin());
}

int TSipAccounts::Count() {
    std::lock_guard guard(Lock_);
    return static_cast<int>(Accounts_.size());
}
