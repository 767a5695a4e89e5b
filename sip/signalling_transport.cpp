#include "sip/signalling_transport.h"

#include <stdexcept>
#include <utility>


namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

// The start of the first "Via:" or "v:" header line after the start line.
std::size_t FindTopVia(std::string_view message) {
    std::size_t line = message.find("\r\n");
    while (line != std::string_view::npos) {
        const std::size_t start = line + 2;
        if (start >= message.size() || message.compare(start, 2, "\r\n") == 0) break;
        const std::size_t colon = message.find(':', start);
        const std::size_t end = message.find("\r\n", start);
        if (colon != std::string_view::npos && colon < end) {
            std::string_view name = message.substr(start, colon - start);
            while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
            if (EqualsNoCase(name, "Via") || EqualsNoCase(name, "v")) return colon + 1;
        }
        line = end;
    }
    return std::string_view::npos;
}

// Where the transport token of the top Via's sent-protocol starts and how
// long it is; npos when the message has no such Via.
std::pair<std::size_t, std::size_t> TopViaTransportToken(std::string_view message) {
    const std::size_t value = FindTopVia(message);
    if (value == std::string_view::npos) return {std::string_view::npos, 0};
    const std::size_t slash = message.find("SIP/2.0/", value);
    const std::size_t end = message.find("\r\n", value);
    if (slash == std::string_view::npos || slash > end) return {std::string_view::npos, 0};
    const std::size_t token = slash + 8;
    std::size_t stop = token;
    while (stop < message.size() && message[stop] != ' ' && message[stop] != '\t' && message[stop] != '\r')
        ++stop;
    return {token, stop - token};
}

}  // namespace

TSignallingTransport ParseSignallingTransport(std::string_view text) {
    if (EqualsNoCase(text, "udp")) return TSignallingTransport::kUdp;
    if (EqualsNoCase(text, "tcp")) return TSignallingTransport::kTcp;
    if (EqualsNoCase(text, "tls")) return TSignallingTransport::kTls;
    throw std::invalid_argument("unknown transport \"" + std::string(text) +
                                "\" (udp, tcp or tls)");
}

std::string SignallingTransportName(TSignallingTransport transport) {
    switch (transport) {
    case TSignallingTransport::kTcp:
        return "tcp";
    case TSignallingTransport::kTls:
        return "tls";
    case TSignallingTransport::kUdp:
        break;
    }
    return "udp";
}

std::string ViaTransportToken(TSignallingTransport transport) {
    std::string token = SignallingTransportName(transport);
    for (char& c : token) c = static_cast<char>(c - 'a' + 'A');
    return token;
}

int DefaultServerPort(TSignallingTransport transport) {
    return transport == TSignallingTransport::kTls ? 5061 : 5060;
}

std::string UriTransportParameter(TSignallingTransport transport) {
    if (!IsStreamTransport(transport)) return {};
    return ";transport=" + SignallingTransportName(transport);
}

TSignallingTransport TopViaTransport(std::string_view message) {
    const auto [token, length] = TopViaTransportToken(message);
    if (token == std::string_view::npos) return TSignallingTransport::kUdp;
    const std::string_view name = message.substr(token, length);
    if (EqualsNoCase(name, "TCP")) return TSignallingTransport::kTcp;
    if (EqualsNoCase(name, "TLS")) return TSignallingTransport::kTls;
    return TSignallingTransport::kUdp;
}

std::string WithTopViaTransport(std::string_view message, TSignallingTransport transport) {
    const auto [token, length] = TopViaTransportToken(message);
    std::string rewritten(message);
    if (token != std::string_view::npos) rewritten.replace(token, length, ViaTransportToken(transport));
    return rewritten;
}

bool IsSipsUri(std::string_view uri) {
    while (!uri.empty() && (uri.front() == ' ' || uri.front() == '\t')) uri.remove_prefix(1);
    const std::size_t open = uri.find('<');
    if (open != std::string_view::npos) uri.remove_prefix(open + 1);
    return uri.size() >= 5 && EqualsNoCase(uri.substr(0, 5), "sips:");
}

bool RequestUriIsSips(std::string_view message) {
    const std::size_t space = message.find(' ');
    const std::size_t end = message.find("\r\n");
    if (space == std::string_view::npos || (end != std::string_view::npos && space > end)) return false;
    // A status line ("SIP/2.0 200 OK") has no Request-URI.
    if (message.substr(0, space) == "SIP/2.0") return false;
    return IsSipsUri(message.substr(space + 1, 5));
}
