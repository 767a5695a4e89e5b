#include "sip/dialog_parts.h"

#include <utility>

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

std::string ReasonPhrase(int status) {
    static const std::pair<int, const char*> kReasons[] = {
        {100, "Trying"}, {180, "Ringing"}, {181, "Call Is Being Forwarded"}, {182, "Queued"},
        {183, "Session Progress"}, {200, "OK"}, {202, "Accepted"}, {300, "Multiple Choices"},
        {301, "Moved Permanently"}, {302, "Moved Temporarily"}, {380, "Alternative Service"},
        {400, "Bad Request"}, {401, "Unauthorized"}, {403, "Forbidden"}, {404, "Not Found"},
        {405, "Method Not Allowed"}, {407, "Proxy Authentication Required"},
        {408, "Request Timeout"}, {410, "Gone"}, {415, "Unsupported Media Type"},
        {480, "Temporarily Unavailable"}, {481, "Call/Transaction Does Not Exist"},
        {482, "Loop Detected"}, {483, "Too Many Hops"}, {484, "Address Incomplete"},
        {486, "Busy Here"}, {487, "Request Terminated"}, {488, "Not Acceptable Here"},
        {491, "Request Pending"}, {500, "Server Internal Error"}, {501, "Not Implemented"},
        {502, "Bad Gateway"}, {503, "Service Unavailable"}, {504, "Server Time-out"},
        {600, "Busy Everywhere"}, {603, "Decline"}, {604, "Does Not Exist Anywhere"},
        {606, "Not Acceptable"}};
    for (const auto& [code, reason] : kReasons)
        if (code == status) return reason;
    return "Unknown";
}

std::optional<THostPort> UriHostPort(std::string_view uri) {
    uri = AddrSpec(uri);
    THostPort target;
    if (StartsWithNoCase(uri, "sips:")) {
        uri.remove_prefix(5);
        target.port = 5061;
    } else if (StartsWithNoCase(uri, "sip:")) {
        uri.remove_prefix(4);
    } else {
        return std::nullopt;
    }
    const std::size_t at = uri.find('@');
    if (at != std::string_view::npos) uri.remove_prefix(at + 1);
    uri = uri.substr(0, uri.find_first_of(";?"));
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
