#include "sip/dialog_match.h"

#include "sip/message.h"
#include "sip/text.h"

namespace sip_dialog {
namespace {

bool SameCallId(ISipCall& call, const TSipMessage& message) {
    return !message.CallId.empty() && message.CallId == call.Dialog().CallId();
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
    const TDialog& dialog = call.Dialog();
    if (!dialog.Names(request)) return TRequestVerdict::kNoDialog;
    const std::optional<uint32_t> cseq = ParseCSeq(request.CSeqNumber);
    const std::optional<uint32_t> last = dialog.RemoteCSeq();
    if (!cseq || (last && *cseq < *last)) return TRequestVerdict::kOutOfOrder;
    return TRequestVerdict::kAccept;
}

bool CancelMatchesPendingInvite(ISipCall& call, const TSipMessage& cancel) {
    // An incoming call keeps the idle state until it is answered.
    const TCallState state = call.GetState();
    if (!call.GetIncoming() || (state != csIdle && state != csRinging)) return false;
    if (!SameCallId(call, cancel) || cancel.FromTag.empty() ||
        cancel.FromTag != call.Dialog().RemoteTag()) {
        return false;
    }
    const std::optional<uint32_t> cseq = ParseCSeq(cancel.CSeqNumber);
    if (!cseq || cseq != call.Dialog().RemoteCSeq()) return false;
    const std::string inviteBranch = TopViaBranch(call.GetViaHeaders());
    return !inviteBranch.empty() && TopViaBranch(cancel.ViaHeaders) == inviteBranch;
}

bool ResponseMatchesDialog(ISipCall& call, const TSipMessage& response, bool established) {
    if (!SameCallId(call, response) || response.FromTag != call.Dialog().LocalTag()) return false;
    return !established || response.ToTag == call.Dialog().RemoteTag();
}

}  // namespace sip_dialog
