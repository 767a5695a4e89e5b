#include "sip/compose_register.h"

#include "sip/auth.h"
#include "sip/compose_common.h"
#include "sip/header_values.h"
#include "sip/transport.h"

using namespace sip_compose;

namespace {

// The first five lines every REGISTER variant shares.
std::string RegisterHead(ISipAccount& account) {
    const std::string nameAddr = AccountNameAddr(account);
    std::string text = "REGISTER sip:" + DomainPart(account) + " SIP/2.0\r\n";
    text += AccountViaLine(account, account.GetBranch());
    text += "From: " + nameAddr + ";tag=" + account.GetTag() + "\r\n";
    text += "To: " + nameAddr + "\r\n";
    text += "Call-ID: " + account.GetCallId() + "\r\n";
    return text;
}

std::string CSeqLine(ISipAccount& account, std::string_view method) {
    std::string line = "CSeq: " + std::to_string(account.GetCSeq()) + " ";
    line.append(method).append(kCrLf);
    return line;
}

std::string RegisterContactLine(ISipAccount& account) {
    return "Contact: <" + account.GetContactUri() +
           ">;expires=" + std::to_string(account.GetExpires()) + ";q=0.90\r\n";
}

std::string ExpiresLine(ISipAccount& account) {
    return "Expires: " + std::to_string(account.GetExpires()) + "\r\n";
}

// The credentials of a (un-)REGISTER, computed over "sip:" and the domain.
// The account counts the uses of its challenge's nonce across refreshes.
std::string RegisterCredentials(ISipAccount& account, TDigestRequest request) {
    TDigestUse use = account.GetDigestUse();
    const TDigestTarget target{"REGISTER", "sip:" + DomainPart(account), ""};
    std::string line = DigestHeaderLine(request, AccountChallenge(account), use,
                                        AccountCredentials(account), target);
    account.SetDigestUse(use);
    return line;
}

std::string MessageUri(ISipAccount& account, const std::string& target) {
    return sip_header::TargetUri(target, DomainPart(account));
}

}  // namespace

std::string CutMessageText(const std::string& text) {
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) {
        return text.substr(0, text.size() - 2);
    }
    return text;
}

std::string ComposeRegister(ISipAccount& account) {
    std::string text = RegisterHead(account);
    text += CSeqLine(account, "REGISTER");
    text += RegisterContactLine(account);
    text.append(kUserAgentLine).append(kAllowLine).append(kMaxForwardsLine);
    text += ExpiresLine(account);
    text += "Content-Length: 0\r\n\r\n";
    return text;
}

std::string ComposeRegisterWithCredentials(ISipAccount& account) {
    std::string text = RegisterHead(account);
    text.append(kUserAgentLine);
    text += CSeqLine(account, "REGISTER");
    text += RegisterContactLine(account);
    text += RegisterCredentials(account, TDigestRequest::Register);
    text.append(kAllowLine).append(kMaxForwardsLine);
    text += ExpiresLine(account);
    text += "Content-Length: 0\r\n\r\n";
    return text;
}

std::string ComposeUnregister(ISipAccount& account) {
    std::string text = RegisterHead(account);
    text += CSeqLine(account, "REGISTER");
    text += "Contact: *\r\n";
    text.append(kAllowLine).append(kMaxForwardsLine);
    text += "Expires: 0\r\nContent-Length: 0\r\n\r\n";
    return text;
}

std::string ComposeUnregisterWithCredentials(ISipAccount& account) {
    std::string text = RegisterHead(account);
    text += CSeqLine(account, "REGISTER");
    text += "Contact: *\r\n";
    text += RegisterCredentials(account, TDigestRequest::Unregister);
    text.append(kMaxForwardsLine);
    text += "Expires: 0\r\nContent-Length: 0\r\n\r\n";
    return text;
}

std::string ComposeMessage(ISipAccount& account, const std::string& target,
                           const std::string& text) {
    const std::string uri = MessageUri(account, target);
    std::string message = "MESSAGE " + uri + " SIP/2.0\r\n";
    message += AccountViaLine(account, NewBranch());
    message += "From: " + AccountNameAddr(account) + ";tag=" + account.GetTag() + "\r\n";
    message += "To: <" + uri + ">\r\n";
    message += "Call-ID: " + NewHexId() + "\r\n";
    message += CSeqLine(account, "MESSAGE");
    message += "Contact: <" + account.GetContactUri() + ">\r\n";
    message.append(kAllowLine).append(kMaxForwardsLine);
    message += "Content-Type: text/plain;charset=UTF-8\r\n";
    message += ContentLengthAndBody(CutMessageText(text));
    return message;
}

std::string ComposeMessageWithCredentials(const TSipMessage& challenge, ISipAccount& account,
                                          const std::string& target) {
    const std::string uri = MessageUri(account, target);
    const TDigestChallenge kept{challenge.StatusCode, challenge.Realm, challenge.Nonce,
                                challenge.Opaque, challenge.Qop};
    // The challenge is answered once and not kept, so its nonce is used once.
    // With auth-int the hash covers the body as it goes out.
    const std::string body = CutMessageText(account.GetPendingMessage());
    TDigestUse use;
    const std::string credentials = DigestHeaderLine(TDigestRequest::Message, kept, use,
                                                     AccountCredentials(account),
                                                     TDigestTarget{"MESSAGE", uri, body});
    std::string message = "MESSAGE " + uri + " SIP/2.0\r\n";
    // The challenged MESSAGE's transaction is over; the retry is a new one.
    message += AccountViaLine(account, NewBranch());
    message += "From: " + AccountNameAddr(account) + ";tag=" + account.GetTag() + "\r\n";
    message += "To: <" + uri + ">\r\n";
    // The challenged MESSAGE's own Call-ID, which the answer echoes: the
    // retry stays recognisable as the same message to the server.
    message += "Call-ID: " + challenge.CallId + "\r\n";
    message += CSeqLine(account, "MESSAGE");
    message.append(kAllowLine);
    message += "Contact: <" + account.GetContactUri() + ">\r\n";
    message.append(kMaxForwardsLine);
    message += credentials;
    message += "Content-Type: text/plain;charset=UTF-8\r\n";
    message += ContentLengthAndBody(body);
    return message;
}
