#include "sip/compose_response.h"

#include "sip/compose_common.h"
#include "sip/header_values.h"
#include "sip/sdp.h"

using namespace sip_compose;

namespace {

std::string RequestCallIdLine(const TSipMessage& request) {
    return "Call-ID: " + request.CallId + "\r\n";
}

std::string RequestCSeqLine(const TSipMessage& request) {
    return "CSeq: " + request.CSeqNumber + " " + request.CSeqMethod + "\r\n";
}

// Status line, Via, To and From of a response to the call's INVITE, in the
// call's own terms (To is this side).
std::string CallResponseHead(ISipCall& call, const std::string& status) {
    std::string text = "SIP/2.0 " + status + "\r\n";
    text += call.GetViaHeaders();
    text += "To: <" + call.Dialog().LocalUri() + ">;tag=" + call.Dialog().LocalTag() + "\r\n";
    text += "From: <" + call.Dialog().RemoteUri() + ">;tag=" + call.Dialog().RemoteTag() + "\r\n";
    return text;
}

// Record-Route, Call-ID and CSeq of a response to the call's INVITE.
std::string CallResponseIds(ISipCall& call) {
    std::string text = call.Dialog().RecordRouteLines();
    text += "Call-ID: " + call.GetCallId() + "\r\n";
    text += "CSeq: " + std::to_string(call.Dialog().RemoteCSeq().value_or(0)) + " INVITE\r\n";
    return text;
}

}  // namespace

std::string ComposeResponse(const TSipMessage& request, const std::string& status) {
    std::string text = "SIP/2.0 " + status + "\r\n";
    text += request.ViaHeaders;
    text += request.ToHeader + "\r\n";
    text += request.FromHeader + "\r\n";
    text += request.RecordRouteHeaders;
    text += RequestCallIdLine(request);
    text += RequestCSeqLine(request);
    text += "Content-Length: 0\r\n\r\n";
    return text;
}

std::string ComposeResponseWithTag(const TSipMessage& request, const std::string& status,
                                   const std::string& tag) {
    std::string text = "SIP/2.0 " + status + "\r\n";
    text += request.ViaHeaders;
    text += request.ToHeader;
    if (request.ToTag.empty() && !tag.empty()) text += ";tag=" + tag;
    text += "\r\n";
    text += request.FromHeader + "\r\n";
    text += request.RecordRouteHeaders;
    text += RequestCallIdLine(request);
    text += RequestCSeqLine(request);
    text += "Content-Length: 0\r\n\r\n";
    return text;
}

std::string ComposeRefusal(const TSipMessage& request, const std::string& status,
                           const std::string& tag, std::string_view extraHeaders) {
    std::string text = "SIP/2.0 " + status + "\r\n";
    text += request.ViaHeaders;
    if (!request.ToHeader.empty()) {
        text += request.ToHeader;
        if (request.ToTag.empty()) text += ";tag=" + tag;
        text += "\r\n";
    }
    if (!request.FromHeader.empty()) text += request.FromHeader + "\r\n";
    if (!request.CallId.empty()) text += RequestCallIdLine(request);
    if (!request.CSeqNumber.empty()) text += RequestCSeqLine(request);
    text.append(extraHeaders);
    text += "Content-Length: 0\r\n\r\n";
    return text;
}

std::string ComposeMethodNotAllowed(const TSipMessage& request, const std::string& tag) {
    return ComposeRefusal(request, "405 Method Not Allowed", tag, kAllowLine);
}

std::string ComposeOk(const TSipMessage& request) {
    std::string text = "SIP/2.0 200 OK\r\n";
    text += request.ViaHeaders;
    text += request.FromHeader + "\r\n";
    text += request.ToHeader + "\r\n";
    text += request.RecordRouteHeaders;
    text += RequestCallIdLine(request);
    text += RequestCSeqLine(request);
    text += "Content-Length: 0\r\n\r\n";
    return text;
}

std::string ComposeOptionsOk(const TSipMessage& request, const std::string& tag) {
    std::string text = "SIP/2.0 200 OK\r\n";
    text += request.ViaHeaders;
    text += request.ToHeader;
    if (request.ToTag.empty()) text += ";tag=" + tag;
    text += "\r\n";
    text += request.FromHeader + "\r\n";
    text += request.RecordRouteHeaders;
    text += RequestCSeqLine(request);
    text += "Accept: application/sdp\r\n";
    text.append(kAllowLine);
    text += RequestCallIdLine(request);
    text += "Content-Length: 0\r\n\r\n";
    return text;
}

std::string ComposeNotAcceptable(const TSipMessage& request, const std::string& tag) {
    std::string text = "SIP/2.0 488 Not Acceptable Here\r\n";
    text += request.ViaHeaders;
    text += request.FromHeader + "\r\n";
    text += request.ToHeader;
    if (request.ToTag.empty()) text += ";tag=" + tag;
    text += "\r\n";
    text += RequestCallIdLine(request);
    text += RequestCSeqLine(request);
    text += "Content-Length: 0\r\n\r\n";
    return text;
}

std::string ComposeCallResponse(ISipCall& call, const std::string& status) {
    return CallResponseHead(call, status) + CallResponseIds(call) + "Content-Length: 0\r\n\r\n";
}

namespace {

// "200 OK" to the call's INVITE up to the Content-Type of its SDP body,
// appended to `text`.
void AppendOkWithSdpHead(std::string& text, ISipCall& call) {
    const ISipAccountPtr account = CallAccount(call);
    const TDialog& dialog = call.Dialog();
    text.append("SIP/2.0 200 OK\r\n").append(call.GetViaHeaders());
    text.append(call.GetToHeader()).append(";tag=").append(dialog.LocalTag()).append("\r\n");
    text.append(call.GetFromHeader()).append("\r\n");
    text.append(dialog.RecordRouteLines());
    text.append("Call-ID: ").append(call.GetCallId()).append("\r\n");
    text.append("CSeq: ").append(std::to_string(dialog.RemoteCSeq().value_or(0))).append(" INVITE\r\n");
    text.append("Contact: <").append(CallContactUri(call, *account)).append(">\r\n");
    text.append(kAllowLine);
    text.append("Content-Type: application/sdp\r\n");
}

std::string OkWithSdpHead(ISipCall& call) {
    std::string text;
    AppendOkWithSdpHead(text, call);
    return text;
}

}  // namespace

// Answered on every re-INVITE: the body is written once and the message
// in one buffer, without the copies that joining parts would make.
std::string ComposeOkWithAnswer(ISipCall& call, std::string_view direction) {
    std::string body;
    AppendSdpAnswer(body, call, direction);
    std::string text;
    text.reserve(1024 + body.size());
    AppendOkWithSdpHead(text, call);
    text.append("Content-Length: ").append(std::to_string(body.size())).append("\r\n\r\n").append(body);
    return text;
}

std::string ComposeOkWithOffer(ISipCall& call, const std::string& payloadList) {
    return OkWithSdpHead(call) + ContentLengthAndBody(BuildSdpOffer(call, payloadList));
}

std::string ComposeRedirect(ISipCall& call, const std::string& target) {
    const ISipAccountPtr account = CallAccount(call);
    std::string text = CallResponseHead(call, "302 Moved Temporarily") + CallResponseIds(call);
    text += "Contact: <" + sip_header::TargetUri(target, DomainPart(*account)) + ">\r\n";
    text.append(kAllowLine);
    text += "Content-Length: 0\r\n\r\n";
    return text;
}
