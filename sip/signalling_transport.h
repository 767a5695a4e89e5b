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
// Whether the request line of `message` names a sips: URI, which may only be
// reached over TLS hop by hop (RFC 3261 26.2.2).
bool RequestUriIsSips(std::string_view message);
// Whether `uri` (a bare URI or a name-addr "<sips:...>") is a sips: URI.
bool IsSipsUri(std::string_view uri);

// `message` with the sent-protocol of its top Via naming `transport`
// instead; unchanged when it has no Via.
std::string WithTopViaTransport(std::string_view message, TSignallingTransport transport);

// A request that could be fragmented on UDP goes over TCP instead (RFC 3261
// 18.1.1). The path MTU is never known here, so 1300 bytes is the largest
// request that still goes as one datagram.
inline constexpr std::size_t kLargestUdpRequest = 1300;
