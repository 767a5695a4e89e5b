// Pieces shared by the message composers. Every message is one text joined
// from fixed literals and field values in a fixed order; these are the
// literals more than one message uses, and the helpers that keep the
// credentials material of an account or call in step with what was sent.
#pragma once

#include <string>
#include <string_view>

#include "sip/auth.h"
#include "sip/sipints.h"

namespace sip_compose {

inline constexpr std::string_view kCrLf = "\r\n";
inline constexpr std::string_view kUserAgentLine = "User-Agent: Telvira Softphone 1.164\r\n";
inline constexpr std::string_view kAllowLine =
    "Allow: INVITE, ACK, CANCEL, OPTIONS, BYE, REFER, NOTIFY, INFO, MESSAGE\r\n";
inline constexpr std::string_view kMaxForwardsLine = "Max-Forwards: 70\r\n";

// "Content-Length: " with the byte length of `body`, CR LF, the empty line
// and the body itself.
std::string ContentLengthAndBody(std::string_view body);

// The account's Via line: "Via: SIP/2.0/UDP ip:port;rport;branch=...", with
// the account's transport.
std::string AccountViaLine(ISipAccount& account, std::string_view branch);

// The domain as URIs write it: with the server's port when that is not the
// transport's default (5060, 5061 for TLS),
// so a proxy on another port is addressed as given.
std::string DomainPart(ISipAccount& account);

// "<display><sip:user@domain>" as From and To of the account's own requests.
std::string AccountNameAddr(ISipAccount& account);

// Our Contact URI in a call's messages: sips: in a secure dialog of a TLS
// account (RFC 3261 8.1.1.8, 12.1.1), the account's own otherwise.
std::string CallContactUri(ISipCall& call, ISipAccount& account);

// The account a call belongs to, never null. Every call is created with one;
// a call without it is a programming error and raises.
ISipAccountPtr CallAccount(ISipCall& call);

// The challenge an account keeps from its last REGISTER challenge.
TDigestChallenge AccountChallenge(ISipAccount& account);
// The challenge a call keeps from its last INVITE or REFER challenge.
TDigestChallenge CallChallenge(ISipCall& call);

// The account's user name and password, the credentials of every request.
TDigestCredentials AccountCredentials(ISipAccount& account);

}  // namespace sip_compose
