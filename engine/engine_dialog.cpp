// Who may act on a call: requests inside its dialog are taken with the
// dialog's identifiers, in order, from whatever address; a CANCEL of its
// INVITE and responses to its requests only from the call's peer. Anything
// else leaves the call as it was.
#include "engine/engine.h"
#include "sip/compose.h"
#include "sip/dialog_match.h"
#include "sip/dialog_parts.h"
#include "sip/message.h"
#include "sip/via.h"

namespace {

// A Contact or Via without a port means the SIP default.
// A connection's far port is any port the peer chose: over a stream the
// address alone is compared.
bool SameSource(const TDatagramSource& source, const std::string& host, const std::string& port) {
    if (source.stream) return !host.empty() && source.address == host;
    return !host.empty() && source.address == host &&
           std::to_string(source.port) == (port.empty() ? "5060" : port);
}

}  // namespace

// The account's server (the usual path of every request and response), the
// peer's own Contact, the dialog's first route, and for an incoming call the
// sent-by of its INVITE and the address it came from.
// Datagrams handed to Receive without a source (tests that feed the engine
// directly) are not checked.
bool TSipEngine::FromCallPeer(ISipCall& call) {
    if (Source_.address.empty()) return true;
    const ISipAccountPtr account = call.GetAccount();
    if (account && SameSource(Source_, account->GetServerAddress(),
                              std::to_string(account->GetServerPort()))) {
        return true;
    }
    if (SameSource(Source_, call.GetRemoteSipHost(), call.GetRemoteSipPort())) return true;
    // The first route, where the dialog's requests go (a proxy that
    // record-routed may sit apart from the account's server).
    const std::optional<THostPort> route = UriHostPort(call.Dialog().FirstRoute());
    if (route && SameSource(Source_, route->host, std::to_string(route->port))) return true;
    if (!call.GetIncoming()) return false;
    if (SameSource(Source_, call.GetReceivedHost(), call.GetReceivedPort())) return true;
    // Where the INVITE really came from (its top Via's received and rport).
    const TResponseDestination origin = ResponseDestination(call.GetViaHeaders());
    return SameSource(Source_, origin.host, std::to_string(origin.port));
}

bool TSipEngine::FromAccountServer() {
    if (Source_.address.empty()) return true;
    std::lock_guard<TSipAccounts> list(Accounts_);
    for (int i = 0; i < Accounts_.Count(); ++i) {
        const ISipAccountPtr account = Accounts_.AccountAt(i);
        if (SameSource(Source_, account->GetServerAddress(), std::to_string(account->GetServerPort())))
            return true;
    }
    return false;
}

bool TSipEngine::AddressedToAccount(ISipAccount& account, const std::string& requestUser) {
    if (requestUser.empty()) return false;
    if (requestUser == account.GetUserName()) return true;
    const std::string contact = account.GetContactUri();
    const std::size_t start = contact.find(':') + 1;
    const std::size_t at = contact.find('@', start);
    return at != std::string::npos && contact.compare(start, at - start, requestUser) == 0;
}

bool TSipEngine::AdmitInDialogRequest(const ISipCallPtr& call, const TSipMessage& request) {
    std::lock_guard<ISipCall> guard(*call);
    // Over UDP the tags are what proves a request the dialog's: a peer with
    // several nodes, or a proxy named by host name, sends from addresses
    // the call never saw, and its request is served there (by its Via).
    // Anyone else on another address gets no answer at all: nothing to
    // learn from, and nothing to reflect at a third party.
    const bool fromPeer = FromCallPeer(*call);
    const ISipAccountPtr account = call->GetAccount();
    const sip_dialog::TRequestVerdict verdict = sip_dialog::CheckInDialogRequest(*call, request);
    if (!fromPeer && verdict == sip_dialog::TRequestVerdict::kNoDialog) return false;
    switch (verdict) {
    case sip_dialog::TRequestVerdict::kAccept:
        return true;
    case sip_dialog::TRequestVerdict::kNoDialog:
        AnswerNoDialog(request, account.get());
        return false;
    case sip_dialog::TRequestVerdict::kOutOfOrder:
        SendToVia(request, account.get(), ComposeResponse(request, "500 Server Internal Error"), false);
        return false;
    }
    return false;
}

bool TSipEngine::AdmitCancel(const ISipCallPtr& call, const TSipMessage& cancel) {
    std::lock_guard<ISipCall> guard(*call);
    if (!FromCallPeer(*call)) return false;
    if (sip_dialog::CancelMatchesPendingInvite(*call, cancel)) return true;
    const ISipAccountPtr account = call->GetAccount();
    AnswerNoDialog(cancel, account.get());
    return false;
}

// A request on a call's Call-ID: a CANCEL of its INVITE, a copy of the
// INVITE that made it (no To tag), or a request inside its dialog.
bool TSipEngine::AdmitByDialog(const TSipMessage& request) {
    const ISipCallPtr call = FindCall(request.CallId);
    if (!call) return true;
    if (request.CSeqMethod == "CANCEL") return AdmitCancel(call, request);
    if (request.CSeqMethod == "INVITE" && request.ToTag.empty()) return true;
    return AdmitInDialogRequest(call, request);
}

// Which request a response answers (branch and CSeq method) the client
// transactions have settled before dispatch; here it must also come from the
// call's peer and name the call's dialog.
// Another fork's 2xx names our From tag but a To tag of its own.
bool TSipEngine::AdmitResponse(const ISipCallPtr& call, const TSipMessage& response,
                               bool otherFork) {
    std::lock_guard<ISipCall> guard(*call);
    if (!FromCallPeer(*call)) return false;
    return sip_dialog::ResponseMatchesDialog(*call, response, !otherFork && IsEstablished(*call));
}
