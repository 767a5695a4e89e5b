// Pieces of received messages that the dialog rules read beyond the parser's
// fixed fields: the Refer-To target of a REFER, the status line a NOTIFY's
// sipfrag carries, and the host and port a SIP URI names.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The URI of the Refer-To header ("Refer-To:" or the compact "r:") of a
// raw message, without angle brackets and header parameters; empty when
// there is none.
std::string ReferToUri(std::string_view rawText);

// The user part and host of a "sip:" URI as a dialable number:
// "sip:300@pbx.example:5070;transport=udp" gives "300@pbx.example:5070".
std::string DialableTarget(std::string_view uri);

// The status code of the sipfrag status line ("SIP/2.0 180 Ringing") that
// begins `body`; nothing when the body begins otherwise.
std::optional<int> SipfragStatus(std::string_view body);

// The reason phrase RFC 3261 gives a status code ("Busy Here" for 486);
// "Unknown" for a code it does not name.
std::string ReasonPhrase(int status);

struct THostPort {
    std::string host;
    int port = 5060;
};

// The host and port a sip: or sips: URI names ("<sip:proxy.example:5070;lr>",
// "sip:bob@10.0.0.1"; 5061 for a sips: URI without one); nothing for
// anything else.
std::optional<THostPort> UriHostPort(std::string_view uri);
