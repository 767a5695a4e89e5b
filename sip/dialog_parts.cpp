#include "sip/dialog_parts.h"

#include "sip/text.h"

namespace {

using sip_text::NumberOr;
using sip_text::StartsWithNoCase;
using sip_text::Trim;

// The URI inside the first angle brackets of a name-addr, or the value up to
// its parameters when it has none.
std::string_view AddrSpec(std::string_view value) {
    value = Trim(value);
    const std::size_t open = value.find('<');
    if (open != std::string_view::npos) {
        value = value.substr(open + 1);
        return value.substr(0, value.find('>'));
    }
    return value.substr(0, value.find(';'));
}

}  // namespace

std::string ReferToUri(std::string_view rawText) {
    while (!rawText.empty()) {
        const std::size_t end = rawText.find('\n');
        std::string_view line = rawText.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) break;  // end of the headers
        if (StartsWithNoCase(line, "Refer-To:")) return std::string(AddrSpec(line.substr(9)));
        if (StartsWithNoCase(line, "r:")) return std::string(AddrSpec(line.substr(2)));
        if (end == std::string_view::npos) break;
        rawText.remove_prefix(end + 1);
    }
    return {};
}

std::string DialableTarget(std::string_view uri) {
    uri = Trim(uri);
    if (!StartsWithNoCase(uri, "sip:")) return {};
    uri.remove_prefix(4);
    return std::string(uri.substr(0, uri.find_first_of(";?>")));
}

std::optional<int> SipfragStatus(std::string_view body) {
    body = Trim(body.substr(0, body.find('\n')));
    if (!StartsWithNoCase(body, "SIP/2.0 ") || body.size() < 11) return std::nullopt;
    const std::string_view code = body.substr(8, 3);
    if (body.size() > 11 && body[11] != ' ') return std::nullopt;
    const int status = NumberOr(code, 0);
    if (status < 100 || status > 699) return std::nullopt;
    return status;
}

std::optional<THostPort> UriHostPort(std::string_view uri) {
    uri = AddrSpec(uri);
    if (!StartsWithNoCase(uri, "sip:")) return std::nullopt;
    uri.remove_prefix(4);
    const std::size_t at = uri.find('@');
    if (at != std::string_view::npos) uri.remove_prefix(at + 1);
    uri = uri.substr(0, uri.find_first_of(";?"));
    THostPort target;
    const std::size_t colon = uri.find(':');
    target.host = std::string(uri.substr(0, colon));
    if (target.host.empty()) return std::nullopt;
    if (colon != std::string_view::npos) {
        const int port = NumberOr(uri.substr(colon + 1), 0);
        if (port < 1 || port > 65535) return std::nullopt;
        target.port = port;
    }
    return target;
}
