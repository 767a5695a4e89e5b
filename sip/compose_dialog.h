// The requests of a call: INVITE (first and re-INVITE), ACK, BYE, CANCEL,
// REFER and INFO. Each returns the whole datagram. The caller holds the
// call's lock and has given the call its branch and CSeq for a new
// transaction beforehand; the composers only read, except for the
// credentials material noted below.
#pragma once

#include <string>
#include <string_view>

#include "sip/message.h"
#include "sip/sipints.h"

// INVITE with an SDP offer of `payloadList` (payload type numbers separated
// by single blanks). A re-INVITE (remote tag known) goes to the remote
// target along the route set, as every other request inside the dialog.
std::string ComposeInvite(ISipCall& call, const std::string& payloadList);
// The same with the credentials of the call's challenge, computed over the
// offer sent. The line is stored in the call (SetAuthorizationLine) and the
// use of the challenge's nonce counted in the call (SetDigestUse).
std::string ComposeInviteWithCredentials(ISipCall& call, const std::string& payloadList);

// ACK for a 2xx answer to the call's INVITE, a new transaction with a branch
// of its own, to the remote target and along the route set the call's
// dialog took from that answer; with a credentials line when the call was
// challenged (the use of the nonce is counted in the call).
std::string ComposeAckWithCredentials(ISipCall& call, const TSipMessage& response);
// ACK for a final failure answer to `invite`, the request as the agent sent
// it (RFC 3261 17.1.1.3): the INVITE's Request-URI, its one top Via, Route
// lines, From, Call-ID and CSeq number (method ACK), and the To of the
// answer with the tag of whoever refused.
std::string ComposeAckForFailure(std::string_view invite, const TSipMessage& response);
// The same from the answer alone, for an INVITE the agent no longer has
// (its transaction ended long before the answer came): the To URI stands in
// for the Request-URI, and the answer's top Via for the INVITE's.
std::string ComposeAck(const TSipMessage& response);

std::string ComposeBye(ISipCall& call);
// CANCEL of the INVITE with the call's current CSeq, with a credentials line
// when the call holds a challenge.
std::string ComposeCancel(ISipCall& call);
// REFER to `referTarget` in the account's domain, with a Via of the account
// and the call's branch (the caller gives it a new one).
std::string ComposeRefer(ISipCall& call, const std::string& referTarget);
// REFER retried after a challenge, to the call's stored refer target.
std::string ComposeReferWithCredentials(ISipCall& call);
// ACK and BYE for a 2xx from another fork than the one the call keeps
// (RFC 3261 13.2.2.4): that fork's tag, Contact and route set, a branch of
// their own; the BYE with `cseq`.
std::string ComposeAckForFork(ISipCall& call, const TSipMessage& answer);
std::string ComposeByeForFork(ISipCall& call, const TSipMessage& answer, int cseq);

// NOTIFY of the progress of a transfer we were asked for (RFC 3515): the
// status line `sipfrag` (such as "SIP/2.0 100 Trying") as a message/sipfrag
// body, the subscription still active or, with `final`, terminated. Sent in
// the call's dialog with the call's branch and CSeq.
std::string ComposeReferNotify(ISipCall& call, const std::string& sipfrag, bool final);
// One DTMF digit by INFO, with a branch made for this message only.
std::string ComposeInfo(ISipCall& call, char digit);
