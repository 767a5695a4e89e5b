// Who may act on a call: requests inside its dialog, a CANCEL of its INVITE
// and responses to its requests are taken only from the call's peer, with the
// dialog's identifiers, in order. Anything else leaves the call as it was.
#include "engine/engine.h"
#include "sip/compose.h"
#include "sip/dialog_match.h"
#include "sip/message.h"

namespace {

// A Contact or Via without a port means the SIP default.
bool SameSource(const TDatagramSource& source, const std::string& host, const std::string& port) {
    return !host.empty() && source.address == host &&
           std::to_string(source.port) == (port.empty() ? "5060" : port);
}

}  // namespace

// The account's server (the usual path of every request and response), the
// peer's own Contact, and for an incoming call the sent-by of its INVITE.
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
    return call.GetIncoming() && SameSource(Source_, call.GetReceivedHost(), call.GetReceivedPort());
}

void TSipEngine::AnswerNoDialog(const TSipMessage& request, ISipAccount& account) {
    SendToVia(request, account, ComposeResponse(request, "481 Call/Transaction Does Not Exist"));
}

bool TSipEngine::AdmitInDialogRequest(const ISipCallPtr& call, const TSipMessage& request) {
    std::lock_guard<ISipCall> guard(*call);
    // A forger on another address gets no answer at all: nothing to learn
    // from, and nothing to reflect at a third party.
    if (!FromCallPeer(*call)) return false;
    const ISipAccountPtr account = call->GetAccount();
    switch (sip_dialog::CheckInDialogRequest(*call, request)) {
    case sip_dialog::TRequestVerdict::kAccept:
        return true;
    case sip_dialog::TRequestVerdict::kNoDialog:
        if (account) AnswerNoDialog(request, *account);
        return false;
    case sip_dialog::TRequestVerdict::kOutOfOrder:
        if (account) SendToVia(request, *account, ComposeResponse(request, "500 Server Internal Error"));
        return false;
    }
    return false;
}

bool TSipEngine::AdmitCancel(const ISipCallPtr& call, const TSipMessage& cancel) {
    std::lock_guard<ISipCall> guard(*call);
    if (!FromCallPeer(*call)) return false;
    if (sip_dialog::CancelMatchesPendingInvite(*call, cancel)) return true;
    const ISipAccountPtr account = call->GetAccount();
    if (account) AnswerNoDialog(cancel, *account);
    return false;
}

// The request it answers is the call's latest: its CSeq number and, for the
// requests sent on the call's branch (INVITE, BYE, CANCEL), that branch.
bool TSipEngine::AdmitResponse(const ISipCallPtr& call, const TSipMessage& response, bool byBranch) {
    std::lock_guard<ISipCall> guard(*call);
    if (!FromCallPeer(*call)) return false;
    if (response.CSeqNumber != std::to_string(call->GetCSeq())) return false;
    if (byBranch && sip_dialog::TopViaBranch(response.ViaHeaders) != call->GetBranch()) return false;
    return sip_dialog::ResponseMatchesDialog(*call, response, IsEstablished(*call));
}
