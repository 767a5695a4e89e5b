#include "sip/dialog_match.h"

#include "sip/message.h"
#include "sip/text.h"

namespace sip_dialog {
namespace {

bool SameCallId(ISipCall& call, const TSipMessage& message) {
    return !message.CallId.empty() && message.CallId == call.GetCallId();
}

}  // namespace

std::string TopViaBranch(std::string_view viaHeaders) {
    const std::string_view first = viaHeaders.substr(0, viaHeaders.find("\r\n"));
    const std::size_t at = first.find(";branch=");
    if (at == std::string_view::npos) return {};
    const std::string_view rest = first.substr(at + 8);
    return std::string(rest.substr(0, rest.find_first_of(";, \t")));
}

TRequestVerdict CheckInDialogRequest(ISipCall& call, const TSipMessage& request) {
    const std::string remoteTag = call.GetRemoteTag();
    const std::string localTag = call.GetLocalTag();
    if (!SameCallId(call, request) || remoteTag.empty() || localTag.empty() ||
        request.FromTag != remoteTag || request.ToTag != localTag) {
        return TRequestVerdict::kNoDialog;
    }
    const int cseq = sip_text::NumberOr(request.CSeqNumber, -1);
    if (cseq < 0 || cseq < call.GetRemoteCSeq()) return TRequestVerdict::kOutOfOrder;
    return TRequestVerdict::kAccept;
}

bool CancelMatchesPendingInvite(ISipCall& call, const TSipMessage& cancel) {
    // An incoming call keeps the idle state until it is answered.
    const TCallState state = call.GetState();
    if (!call.GetIncoming() || (state != csIdle && state != csRinging)) return false;
    if (!SameCallId(call, cancel) || cancel.FromTag.empty() ||
        cancel.FromTag != call.GetRemoteTag()) {
        return false;
    }
    if (sip_text::NumberOr(cancel.CSeqNumber, -1) != call.GetRemoteCSeq()) return false;
    const std::string inviteBranch = TopViaBranch(call.GetViaHeaders());
    return !inviteBranch.empty() && TopViaBranch(cancel.ViaHeaders) == inviteBranch;
}

bool ResponseMatchesDialog(ISipCall& call, const TSipMessage& response, bool established) {
    if (!SameCallId(call, response) || response.FromTag != call.GetLocalTag()) return false;
    return !established || response.ToTag == call.GetRemoteTag();
}

}  // namespace sip_dialog
