#include "sip/compose_common.h"

#include <stdexcept>

#include "sip/header_values.h"

namespace sip_compose {

std::string ContentLengthAndBody(std::string_view body) {
    std::string text = "Content-Length: " + std::to_string(body.size());
    text.append(kCrLf).append(kCrLf).append(body);
    return text;
}

std::string AccountViaLine(ISipAccount& account, std::string_view branch) {
    const TSignallingTransport transport = account.GetTransport();
    // On a connection, "alias" asks the server to send its requests for us
    // back over it (RFC 5923): it is the only way to reach us over TLS, and
    // a router in between may let nothing else in.
    std::string line = "Via: SIP/2.0/" + ViaTransportToken(transport) + " " + account.GetLocalIp() +
                       ":" + std::to_string(account.GetLocalPort()) + ";rport" +
                       (IsStreamTransport(transport) ? ";alias" : "") + ";branch=";
    line.append(branch).append(kCrLf);
    return line;
}

std::string AccountNameAddr(ISipAccount& account) {
    return account.GetQuotedDisplayName() + "<sip:" +
           sip_header::EscapeUserPart(account.GetUserName()) + "@" + DomainPart(account) + ">";
}

std::string CallContactUri(ISipCall& call, ISipAccount& account) {
    std::string uri = account.GetContactUri();
    if (!call.Dialog().Secure() || account.GetTransport() != TSignallingTransport::kTls) return uri;
    // The scheme says TLS already; ";transport=tls" beside it is deprecated
    // (RFC 5630 3.1.3).
    const std::string parameter = UriTransportParameter(TSignallingTransport::kTls);
    const std::size_t found = uri.find(parameter);
    if (found != std::string::npos) uri.erase(found, parameter.size());
    return "sips:" + uri.substr(uri.find(':') + 1);
}

ISipAccountPtr CallAccount(ISipCall& call) {
    ISipAccountPtr account = call.GetAccount();
    if (!account) throw std::logic_error("call without account");
    return account;
}

TDigestChallenge AccountChallenge(ISipAccount& account) {
    return TDigestChallenge{account.GetAuthStatus(), account.GetRealm(), account.GetNonce(),
                            account.GetOpaque(), account.GetQop()};
}

TDigestChallenge CallChallenge(ISipCall& call) {
    return TDigestChallenge{call.GetAuthStatus(), call.GetRealm(), call.GetNonce(),
                            call.GetOpaque(), call.GetQop()};
}

TDigestCredentials AccountCredentials(ISipAccount& account) {
    return TDigestCredentials{account.GetUserName(), account.GetPassword()};
}

std::string DomainPart(ISipAccount& account) {
    const int port = account.GetServerPort();
    if (port == DefaultServerPort(account.GetTransport()) || port <= 0) return account.GetDomain();
    return account.GetDomain() + ":" + std::to_string(port);
}

}  // namespace sip_compose
