#include "sip/compose_dialog.h"

#include "sip/auth.h"
#include "sip/compose_common.h"
#include "sip/header_values.h"
#include "sip/sdp.h"
#include "sip/text.h"
#include "sip/transport.h"

using namespace sip_compose;

namespace {

// Requests inside the dialog go to its remote target, along the route set.
std::string RemoteTarget(ISipCall& call) { return call.Dialog().RemoteTarget(); }

bool InDialog(ISipCall& call) { return !call.Dialog().RemoteTag().empty(); }

std::string InviteRequestUri(ISipCall& call) {
    return InDialog(call) ? RemoteTarget(call) : call.Dialog().RemoteUri();
}

// The credentials line of a call request over `uri`, the URI the line shows.
// Every request of the call that answers the same nonce counts one more use.
std::string CallCredentials(ISipCall& call, ISipAccount& account, TDigestRequest request,
                            const TDigestTarget& target) {
    TDigestUse use = call.GetDigestUse();
    std::string line =
        DigestHeaderLine(request, CallChallenge(call), use, AccountCredentials(account), target);
    call.SetDigestUse(use);
    return line;
}

std::string ContactLine(ISipCall& call, ISipAccount& account) {
    return "Contact: <" + CallContactUri(call, account) + ">\r\n";
}

std::string CallIdLine(ISipCall& call) { return "Call-ID: " + call.GetCallId() + "\r\n"; }

std::string CSeqLine(uint32_t cseq, std::string_view method) {
    std::string line = "CSeq: " + std::to_string(cseq) + " ";
    line.append(method).append(kCrLf);
    return line;
}

// INVITE up to and including Max-Forwards.
std::string InviteHead(ISipCall& call, ISipAccount& account, const std::string& requestUri) {
    std::string text = "INVITE " + requestUri + " SIP/2.0\r\n";
    text += "From: " + AccountNameAddr(account) + ";tag=" + call.Dialog().LocalTag() + "\r\n";
    text += "To: <" + call.Dialog().RemoteUri() + ">";
    if (InDialog(call)) text += ";tag=" + call.Dialog().RemoteTag();
    text.append(kCrLf);
    text += AccountViaLine(account, call.GetBranch());
    if (InDialog(call)) text += call.Dialog().RouteLines();
    text += CSeqLine(call.Dialog().LocalCSeq(), "INVITE");
    text += CallIdLine(call);
    text.append(kAllowLine);
    text += ContactLine(call, account);
    text.append(kMaxForwardsLine);
    return text;
}

std::string SdpBody(std::string_view sdp) {
    return "Content-Type: application/sdp\r\n" + ContentLengthAndBody(sdp);
}

// The call's Via lines, or the pending INVITE's own when the call took none
// over from an answer to that INVITE.
std::string CancelVia(ISipCall& call, ISipAccount& account) {
    std::string via = call.GetViaHeaders();
    if (!via.empty()) return via;
    return AccountViaLine(account, call.GetBranch());
}

// Whether the call holds a challenge to answer; a credentials line for no
// challenge at all (empty realm and nonce) means nothing to a server.
bool Challenged(ISipCall& call) { return !call.GetNonce().empty(); }

// ACK up to and including Call-ID for a 2xx, to `requestUri` with `via`.
std::string AckHead(const std::string& requestUri, const TSipMessage& response,
                    const std::string& via) {
    std::string text = "ACK " + requestUri + " SIP/2.0\r\n";
    text += via;
    text.append(kMaxForwardsLine);
    text += response.FromHeader + "\r\n";
    text += response.ToHeader + "\r\n";
    text += "Call-ID: " + response.CallId + "\r\n";
    return text;
}

// The parts of the agent's own INVITE that its failure ACK repeats. The
// agent writes every header with its full name, one value a line.
struct TInviteParts {
    std::string_view requestUri;
    std::string_view topVia;  // the whole line, CR LF included
    std::string_view from;
    std::string_view callId;
    std::string_view cseqNumber;
    std::string routes;  // every Route line, in order
};

TInviteParts ReadInviteParts(std::string_view invite) {
    TInviteParts parts;
    std::size_t start = 0;
    for (bool first = true; start < invite.size(); first = false) {
        const std::size_t end = invite.find("\r\n", start);
        if (end == std::string_view::npos || end == start) break;  // the blank line ends the head
        const std::string_view line = invite.substr(start, end - start);
        const std::string_view withEnd = invite.substr(start, end + 2 - start);
        start = end + 2;
        if (first) {
            const std::string_view afterMethod = sip_text::After(line, ' ');
            parts.requestUri = sip_text::Before(afterMethod, ' ');
        } else if (line.starts_with("Via: ")) {
            if (parts.topVia.empty()) parts.topVia = withEnd;
        } else if (line.starts_with("Route: ")) {
            parts.routes.append(withEnd);
        } else if (line.starts_with("From: ")) {
            parts.from = line;
        } else if (line.starts_with("Call-ID: ")) {
            parts.callId = line.substr(9);
        } else if (line.starts_with("CSeq: ")) {
            parts.cseqNumber = sip_text::Before(line.substr(6), ' ');
        }
    }
    return parts;
}

std::string AckCSeqLine(const TSipMessage& response) {
    return "CSeq: " + response.CSeqNumber + " ACK\r\n";
}

std::string ReferText(ISipCall& call, const std::string& referTarget, bool withCredentials) {
    const ISipAccountPtr account = CallAccount(call);
    const std::string requestUri = RemoteTarget(call);
    std::string text = "REFER " + requestUri + " SIP/2.0\r\n";
    // A transaction of our own: never the Via lines an incoming INVITE
    // brought, which name the caller and its proxies.
    text += AccountViaLine(*account, call.GetBranch());
    text += call.Dialog().RouteLines();
    text += "From: <" + call.Dialog().LocalUri() + ">;tag=" + call.Dialog().LocalTag() + "\r\n";
    text += "To: <" + call.Dialog().RemoteUri() + ">;tag=" + call.Dialog().RemoteTag() + "\r\n";
    text += CallIdLine(call);
    if (withCredentials) {
        text += CallCredentials(call, *account, TDigestRequest::Refer,
                                TDigestTarget{"REFER", requestUri, ""});
    }
    text += "Refer-To: <" + sip_header::TargetUri(referTarget, DomainPart(*account)) + ">\r\n";
    text += "Referred-By: <" + call.Dialog().LocalUri() + ">\r\n";
    text += ContactLine(call, *account);
    text += CSeqLine(call.Dialog().LocalCSeq(), "REFER");
    text += "Content-Length: 0\r\n\r\n";
    return text;
}

}  // namespace

std::string ComposeInvite(ISipCall& call, const std::string& payloadList) {
    const ISipAccountPtr account = CallAccount(call);
    return InviteHead(call, *account, InviteRequestUri(call)) +
           SdpBody(BuildSdpOffer(call, payloadList));
}

std::string ComposeInviteWithCredentials(ISipCall& call, const std::string& payloadList) {
    const ISipAccountPtr account = CallAccount(call);
    const std::string requestUri = InviteRequestUri(call);
    const std::string offer = BuildSdpOffer(call, payloadList);
    call.SetAuthorizationLine(CallCredentials(call, *account, TDigestRequest::Invite,
                                              TDigestTarget{"INVITE", requestUri, offer}));
    return InviteHead(call, *account, requestUri) + call.GetAuthorizationLine() + SdpBody(offer);
}

std::string ComposeAckWithCredentials(ISipCall& call, const TSipMessage& response) {
    const ISipAccountPtr account = CallAccount(call);
    // The ACK of a 2xx is a transaction of its own (RFC 3261 13.2.2.4): a new
    // branch, never the INVITE's.
    // It goes to the remote target the 2xx left in the dialog.
    std::string text =
        AckHead(RemoteTarget(call), response, AccountViaLine(*account, NewBranch()));
    // The ACK of a 2xx is a request of its own inside the dialog: a proxy
    // that record-routed passes it on only along the route set.
    text += call.Dialog().RouteLines();
    text += ContactLine(call, *account);
    text += AckCSeqLine(response);
    if (Challenged(call)) {
        text += CallCredentials(call, *account, TDigestRequest::Ack,
                                TDigestTarget{"ACK", call.Dialog().RemoteUri(), ""});
    }
    text += "Content-Length: 0\r\n\r\n";
    return text;
}

std::string ComposeAckForFailure(std::string_view invite, const TSipMessage& response) {
    const TInviteParts parts = ReadInviteParts(invite);
    std::string text = "ACK ";
    text.append(parts.requestUri).append(" SIP/2.0\r\n");
    // One Via, the INVITE's own: the ACK belongs to the INVITE's transaction.
    text.append(parts.topVia);
    text += parts.routes;
    text.append(kMaxForwardsLine);
    text.append(parts.from).append(kCrLf);
    // The answer's To carries the tag of whoever refused.
    text += response.ToHeader + "\r\n";
    text.append("Call-ID: ").append(parts.callId).append(kCrLf);
    text.append("CSeq: ").append(parts.cseqNumber).append(" ACK\r\n");
    text += "Content-Length: 0\r\n\r\n";
    return text;
}

std::string ComposeAck(const TSipMessage& response) {
    // The agent's first INVITE of a call is sent to the URI its To names, so
    // that URI stands in for the Request-URI; the answer's top Via is the
    // INVITE's (with the marks the far end added to it).
    const std::string requestUri =
        !response.ToUri().empty() ? std::string(response.ToUri())
                                  : "sip:" + response.ToUser + "@" + std::string(response.ToHostPort());
    const std::string& vias = response.ViaHeaders;
    const std::size_t topEnd = vias.find("\r\n");
    std::string text = "ACK " + requestUri + " SIP/2.0\r\n";
    text += topEnd == std::string::npos ? vias : vias.substr(0, topEnd + 2);
    text.append(kMaxForwardsLine);
    text += response.FromHeader + "\r\n";
    text += response.ToHeader + "\r\n";
    text += "Call-ID: " + response.CallId + "\r\n";
    text += AckCSeqLine(response);
    text += "Content-Length: 0\r\n\r\n";
    return text;
}

std::string ComposeBye(ISipCall& call) {
    const ISipAccountPtr account = CallAccount(call);
    std::string text = "BYE " + RemoteTarget(call) + " SIP/2.0\r\n";
    text += AccountViaLine(*account, call.GetBranch());
    text += call.Dialog().RouteLines();
    text += "To: <" + call.Dialog().RemoteUri() + ">;tag=" + call.Dialog().RemoteTag() + "\r\n";
    text += "From: <" + call.Dialog().LocalUri() + ">;tag=" + call.Dialog().LocalTag() + "\r\n";
    text += CallIdLine(call);
    text.append(kMaxForwardsLine);
    text += CSeqLine(call.Dialog().LocalCSeq(), "BYE");
    text += "Content-Length: 0\r\n\r\n";
    return text;
}

std::string ComposeCancel(ISipCall& call) {
    const ISipAccountPtr account = CallAccount(call);
    const std::string remoteUri = call.Dialog().RemoteUri();
    std::string text = "CANCEL " + remoteUri + " SIP/2.0\r\n";
    text += CancelVia(call, *account);
    text += "From: " + account->GetQuotedDisplayName() + "<" + call.Dialog().LocalUri() +
            ">;tag=" + call.Dialog().LocalTag() + "\r\n";
    text += "To: <" + remoteUri + ">\r\n";
    text += CallIdLine(call);
    text += CSeqLine(call.Dialog().LocalCSeq(), "CANCEL");
    if (Challenged(call)) {
        text += CallCredentials(call, *account, TDigestRequest::Cancel,
                                TDigestTarget{"CANCEL", remoteUri, ""});
    }
    text.append(kMaxForwardsLine);
    text += "Content-Length: 0\r\n\r\n";
    return text;
}

std::string ComposeRefer(ISipCall& call, const std::string& referTarget) {
    return ReferText(call, referTarget, false);
}

std::string ComposeReferWithCredentials(ISipCall& call) {
    return ReferText(call, call.GetReferTarget(), true);
}

namespace {

// Route lines of a 2xx's Record-Route entries, last first (our side called).
std::string ForkRouteLines(const TSipMessage& answer) {
    std::string lines;
    for (int index = answer.RecordRouteCount() - 1; index >= 0; --index)
        lines += "Route: " + answer.RecordRouteAt(index) + "\r\n";
    return lines;
}

std::string ForkRequest(ISipCall& call, const TSipMessage& answer, std::string_view method,
                        int cseq) {
    const ISipAccountPtr account = CallAccount(call);
    const std::string target =
        answer.Contact.empty() ? "sip:" + answer.ToUser + "@" + std::string(answer.ToHost()) : answer.Contact;
    std::string text = std::string(method) + " " + target + " SIP/2.0\r\n";
    text += AccountViaLine(*account, NewBranch());
    text += ForkRouteLines(answer);
    text += answer.FromHeader + "\r\n";
    text += answer.ToHeader + "\r\n";
    text += "Call-ID: " + answer.CallId + "\r\n";
    text += CSeqLine(cseq, method);
    text.append(kMaxForwardsLine);
    text += "Content-Length: 0\r\n\r\n";
    return text;
}

}  // namespace

std::string ComposeAckForFork(ISipCall& call, const TSipMessage& answer) {
    return ForkRequest(call, answer, "ACK", sip_text::NumberOr(answer.CSeqNumber, 0));
}

std::string ComposeByeForFork(ISipCall& call, const TSipMessage& answer, int cseq) {
    return ForkRequest(call, answer, "BYE", cseq);
}

std::string ComposeReferNotify(ISipCall& call, const std::string& sipfrag, bool final) {
    const ISipAccountPtr account = CallAccount(call);
    std::string text = "NOTIFY " + RemoteTarget(call) + " SIP/2.0\r\n";
    text += AccountViaLine(*account, call.GetBranch());
    text += call.Dialog().RouteLines();
    text += "From: <" + call.Dialog().LocalUri() + ">;tag=" + call.Dialog().LocalTag() + "\r\n";
    text += "To: <" + call.Dialog().RemoteUri() + ">;tag=" + call.Dialog().RemoteTag() + "\r\n";
    text += CallIdLine(call);
    text += CSeqLine(call.Dialog().LocalCSeq(), "NOTIFY");
    text += ContactLine(call, *account);
    text.append(kMaxForwardsLine);
    text += "Event: refer\r\n";
    text += final ? "Subscription-State: terminated;reason=noresource\r\n"
                  : "Subscription-State: active;expires=60\r\n";
    text += "Content-Type: message/sipfrag;version=2.0\r\n";
    text += ContentLengthAndBody(sipfrag + "\r\n");
    return text;
}

std::string ComposeInfo(ISipCall& call, char digit) {
    const ISipAccountPtr account = CallAccount(call);
    std::string text = "INFO " + RemoteTarget(call) + " SIP/2.0\r\n";
    text += "Via: SIP/2.0/" + ViaTransportToken(account->GetTransport()) + " " + account->GetLocalIp() +
            ":" + std::to_string(account->GetLocalPort()) + ";branch=" + NewBranch() + "\r\n";
    text += call.Dialog().RouteLines();
    text += "From: " + account->GetQuotedDisplayName() + "<" + call.Dialog().LocalUri() +
            ">;tag=" + call.Dialog().LocalTag() + "\r\n";
    text += "To: <" + call.Dialog().RemoteUri() + ">;tag=" + call.Dialog().RemoteTag() + "\r\n";
    text += CallIdLine(call);
    text += CSeqLine(call.Dialog().LocalCSeq(), "INFO");
    text.append(kMaxForwardsLine);
    text += ContactLine(call, *account);
    text += "Content-Type: application/dtmf-relay\r\n";
    std::string body = "Signal= ";
    body += digit;
    body += "\r\nDuration= 160\r\n";
    text += ContentLengthAndBody(body);
    return text;
}
