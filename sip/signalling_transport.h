// Which transport an account's signalling uses (UDP, TCP or TLS) and how each
// is named in settings, in Via sent-protocols and in URIs.
#pragma once

#include <string>
#include <string_view>

enum class TSignallingTransport { kUdp, kTcp, kTls };

// "udp", "tcp" or "tls" (any case); raises std::invalid_argument otherwise.
TSignallingTransport ParseSignallingTransport(std::string_view text);
// The setting's own spelling: "udp", "tcp", "tls".
std::string SignallingTransportName(TSignallingTransport transport);
// The Via sent-protocol transport: "UDP", "TCP", "TLS".
std::string ViaTransportToken(TSignallingTransport transport);
// 5061 for TLS, 5060 otherwise (RFC 3261 19.1.2).
int DefaultServerPort(TSignallingTransport transport);
// TCP and TLS carry a stream: no retransmissions, Content-Length framing.
inline bool IsStreamTransport(TSignallingTransport transport) {
    return transport != TSignallingTransport::kUdp;
}
// ";transport=tcp" or ";transport=tls" for URIs; empty for UDP, the default.
std::string UriTransportParameter(TSignallingTransport transport);

// The transport of the top Via of a whole message text ("Via: SIP/2.0/TCP
// ..."); UDP when the text has no Via or names another transport.
TSignallingTransport TopViaTransport(std::string_view message);
