#include "sip/dialog.h"

#include "sip/signalling_transport.h"

#include <stdexcept>

#include "sip/message.h"

namespace {

using TGuard = std::lock_guard<std::mutex>;

bool IsSuccess(const TSipMessage& response) { return response.StatusCode.starts_with('2'); }

}  // namespace

const char* DialogStateName(TDialogState state) {
    switch (state) {
    case TDialogState::kNone: return "none";
    case TDialogState::kEarly: return "early";
    case TDialogState::kConfirmed: return "confirmed";
    case TDialogState::kTerminated: return "terminated";
    }
    return "?";
}

std::optional<uint32_t> ParseCSeq(std::string_view text) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > TDialog::kMaxCSeq) return std::nullopt;
    return static_cast<uint32_t>(value);
}

TDialog::TDialog(std::string callId, std::string localTag)
    : CallId_(std::move(callId)), LocalTag_(std::move(localTag)) {}

void TDialog::StartOutgoing(const std::string& localUri, const std::string& remoteUri,
                            uint32_t firstCSeq) {
    TGuard guard(Lock_);
    State_ = TDialogState::kNone;
    Incoming_ = false;
    LocalUri_ = localUri;
    RemoteUri_ = remoteUri;
    LocalCSeq_ = firstCSeq;
    Secure_ = IsSipsUri(remoteUri);
}

void TDialog::TakeAnswer(const TSipMessage& response) {
    if (response.ToTag.empty()) return;  // a 100 Trying, or a peer that makes no dialog
    const bool success = IsSuccess(response);
    TGuard guard(Lock_);
    if (WasConfirmed_) {
        // Only the confirmed fork's 2xx refreshes the target; another fork's
        // answers are not this dialog's.
        if (success && response.ToTag == RemoteTag_) TakeContact(response);
        return;
    }
    if (!success && !response.StatusCode.starts_with('1')) return;
    // A 2xx that crossed our CANCEL or BYE still makes the dialog that
    // BYE must end, though it stays terminated here.
    const bool terminated = State_ == TDialogState::kTerminated;
    if (terminated && !success) return;
    // Each tagged answer before the 2xx may come from another fork: the
    // dialog is the last one's, and the 2xx's once it comes.
    RemoteTag_ = response.ToTag;
    if (!response.ToUri().empty()) RemoteUri_ = response.ToUri();
    RemoteContact_ = response.Contact;
    TakeRouteSet(response, true);
    WasConfirmed_ = success;
    if (!terminated) State_ = success ? TDialogState::kConfirmed : TDialogState::kEarly;
}

void TDialog::ForgetEarly() {
    TGuard guard(Lock_);
    if (WasConfirmed_ || State_ == TDialogState::kTerminated) return;
    State_ = TDialogState::kNone;
    RemoteTag_.clear();
    RemoteContact_.clear();
    RouteSet_.clear();
}

void TDialog::StartIncoming(const TSipMessage& invite, uint32_t firstCSeq) {
    TGuard guard(Lock_);
    State_ = TDialogState::kEarly;
    Incoming_ = true;
    LocalUri_ = invite.ToUri();
    RemoteUri_ = invite.FromUri();
    RemoteTag_ = invite.FromTag;
    RemoteContact_ = invite.Contact;
    RemoteCSeq_ = ParseCSeq(invite.CSeqNumber);
    LocalCSeq_ = firstCSeq;
    TakeRouteSet(invite, false);
    Secure_ = IsSipsUri(invite.RequestUri) ||
              (RouteSet_.empty() ? IsSipsUri(invite.Contact) : IsSipsUri(RouteSet_.front()));
}

void TDialog::Confirm() {
    TGuard guard(Lock_);
    if (State_ != TDialogState::kEarly) return;
    State_ = TDialogState::kConfirmed;
    WasConfirmed_ = true;
}

void TDialog::TakeRequest(const TSipMessage& request) {
    TGuard guard(Lock_);
    if (const std::optional<uint32_t> cseq = ParseCSeq(request.CSeqNumber)) RemoteCSeq_ = cseq;
    if (request.CSeqMethod == "INVITE") TakeContact(request);
}

uint32_t TDialog::NextLocalCSeq() {
    TGuard guard(Lock_);
    if (LocalCSeq_ >= kMaxCSeq) throw std::overflow_error("dialog " + CallId_ + " used up its CSeq");
    return ++LocalCSeq_;
}

void TDialog::Terminate() {
    TGuard guard(Lock_);
    State_ = TDialogState::kTerminated;
}

bool TDialog::NoteOtherFork(const std::string& remoteTag) {
    TGuard guard(Lock_);
    return OtherForks_.insert(remoteTag).second;
}

TDialogState TDialog::State() const {
    TGuard guard(Lock_);
    return State_;
}

bool TDialog::Secure() const {
    TGuard guard(Lock_);
    return Secure_;
}

bool TDialog::Established() const {
    TGuard guard(Lock_);
    return WasConfirmed_;
}

std::string TDialog::CallId() const { return CallId_; }
std::string TDialog::LocalTag() const { return LocalTag_; }

std::string TDialog::RemoteTag() const {
    TGuard guard(Lock_);
    return RemoteTag_;
}

std::string TDialog::LocalUri() const {
    TGuard guard(Lock_);
    return LocalUri_;
}

std::string TDialog::RemoteUri() const {
    TGuard guard(Lock_);
    return RemoteUri_;
}

std::string TDialog::RemoteTarget() const {
    TGuard guard(Lock_);
    return RemoteContact_.empty() ? RemoteUri_ : RemoteContact_;
}

std::string TDialog::RemoteContact() const {
    TGuard guard(Lock_);
    return RemoteContact_;
}

uint32_t TDialog::LocalCSeq() const {
    TGuard guard(Lock_);
    return LocalCSeq_;
}

std::optional<uint32_t> TDialog::RemoteCSeq() const {
    TGuard guard(Lock_);
    return RemoteCSeq_;
}

std::vector<std::string> TDialog::RouteSet() const {
    TGuard guard(Lock_);
    return RouteSet_;
}

std::string TDialog::FirstRoute() const {
    TGuard guard(Lock_);
    return RouteSet_.empty() ? std::string() : RouteSet_.front();
}

std::string TDialog::RouteLines() const {
    TGuard guard(Lock_);
    std::string lines;
    for (const std::string& route : RouteSet_) lines += "Route: " + route + "\r\n";
    return lines;
}

std::string TDialog::RecordRouteLines() const {
    TGuard guard(Lock_);
    // The calling side holds the entries reversed (RFC 3261 12.1.2).
    std::string lines;
    if (Incoming_) {
        for (const std::string& route : RouteSet_) lines += "Record-Route: " + route + "\r\n";
    } else {
        for (auto route = RouteSet_.rbegin(); route != RouteSet_.rend(); ++route)
            lines += "Record-Route: " + *route + "\r\n";
    }
    return lines;
}

bool TDialog::Names(const TSipMessage& request) const {
    TGuard guard(Lock_);
    return !request.CallId.empty() && request.CallId == CallId_ && !RemoteTag_.empty() &&
           request.FromTag == RemoteTag_ && request.ToTag == LocalTag_;
}

// The caller must hold Lock_.
void TDialog::TakeRouteSet(const TSipMessage& message, bool reverse) {
    std::vector<std::string> routes;
    const int count = message.RecordRouteCount();
    for (int index = 0; index < count; ++index)
        routes.push_back(message.RecordRouteAt(reverse ? count - 1 - index : index));
    RouteSet_ = std::move(routes);
}

// The caller must hold Lock_.
void TDialog::TakeContact(const TSipMessage& message) {
    if (!message.Contact.empty()) RemoteContact_ = message.Contact;
}
