// Whether a received message belongs to a call: the rules that keep anybody
// but the call's peer from ending, moving or listening to it. A request inside
// the dialog names the dialog by Call-ID and both tags (RFC 3261 12.2.2); a
// CANCEL names the INVITE still pending (9.2); a response names the request
// it answers and, inside a dialog, the dialog as well.
#pragma once

#include <string>
#include <string_view>

#include "sip/sipints.h"

class TSipMessage;

namespace sip_dialog {

// The branch parameter of the first Via line of `viaHeaders`, or empty.
std::string TopViaBranch(std::string_view viaHeaders);

enum class TRequestVerdict {
    kAccept,     // the call's peer, in order
    kNoDialog,   // answer 481 Call/Transaction Does Not Exist and change nothing
    kOutOfOrder, // a CSeq below the peer's last: answer 500 and change nothing
};

// A request inside the call's dialog (BYE, INFO, re-INVITE, NOTIFY, REFER,
// ...): the Call-ID, the From tag equal to the call's remote tag and the To
// tag equal to its local tag, and a CSeq not below the last one the peer
// used. The caller holds the call's lock.
TRequestVerdict CheckInDialogRequest(ISipCall& call, const TSipMessage& request);

// A CANCEL acts only on an incoming INVITE not yet answered with a final
// response: same Call-ID, From tag, CSeq number and top Via branch as that
// INVITE. The caller holds the call's lock.
bool CancelMatchesPendingInvite(ISipCall& call, const TSipMessage& cancel);

// A response to a request of the call: its From tag is the call's local tag
// and, once the dialog is established, its To tag is the call's remote tag.
// (Which request it answers, branch and CSeq method, is the client
// transaction's business.) The caller holds the call's lock.
bool ResponseMatchesDialog(ISipCall& call, const TSipMessage& response, bool established);

}  // namespace sip_dialog
