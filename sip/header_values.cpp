#include "sip/header_values.h"

#include <algorithm>
#include <stdexcept>

#include "sip/text.h"

namespace sip_header {
namespace {

bool IsAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// unreserved and user-unreserved of RFC 3261 section 25.1, less ";", "?",
// "=", "&" and "/": legal in a user part, but a peer that looks for "tag=",
// a header part or "SIP/2.0" anywhere in a line would misread them, and
// their escaped forms mean the same.
bool IsUserCharacter(char c) {
    static constexpr std::string_view kMarks = "-_.!~*'()+$,";
    return IsAlnum(c) || kMarks.find(c) != std::string_view::npos;
}

bool IsPort(std::string_view text) {
    if (text.empty() || text.size() > 5) return false;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const int port = sip_text::NumberOr(text, 0);
    return port >= 1 && port <= 65535;
}

// A host name or IPv4 address: dot-separated labels of letters, digits and
// inner hyphens.
bool IsHostName(std::string_view host) {
    if (host.empty()) return false;
    std::size_t start = 0;
    while (start <= host.size()) {
        const std::size_t dot = std::min(host.find('.', start), host.size());
        const std::string_view label = host.substr(start, dot - start);
        if (label.empty()) return dot == host.size() && start > 0;  // one trailing dot
        if (label.front() == '-' || label.back() == '-') return false;
        if (!std::all_of(label.begin(), label.end(), [](char c) { return IsAlnum(c) || c == '-'; }))
            return false;
        start = dot + 1;
    }
    return true;
}

bool IsIpv6Reference(std::string_view host) {
    if (host.size() < 4 || host.front() != '[' || host.back() != ']') return false;
    const std::string_view inner = host.substr(1, host.size() - 2);
    return inner.find(':') != std::string_view::npos &&
           std::all_of(inner.begin(), inner.end(),
                       [](char c) { return IsHexDigit(c) || c == ':' || c == '.'; });
}

std::string HostError(std::string_view what, std::string_view host) {
    std::string text(what);
    text.append(" is not a host name or address");
    if (std::none_of(host.begin(), host.end(), IsControl)) text.append(": \"").append(host).append("\"");
    return text;
}

}  // namespace

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

void RequireNoControl(std::string_view value, std::string_view what) {
    if (std::any_of(value.begin(), value.end(), IsControl))
        throw std::invalid_argument(std::string(what) + " must not contain control characters");
}

std::string QuotedString(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (IsControl(c)) continue;
        if (c == '"' || c == '\\') quoted.push_back('\\');
        quoted.push_back(c);
    }
    quoted.push_back('"');
    return quoted;
}

std::string EscapeUserPart(std::string_view user) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(user.size());
    for (std::size_t i = 0; i < user.size(); ++i) {
        const char c = user[i];
        const bool formedEscape =
            c == '%' && i + 2 < user.size() && IsHexDigit(user[i + 1]) && IsHexDigit(user[i + 2]);
        if (IsUserCharacter(c) || formedEscape) {
            escaped.push_back(c);
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        escaped.push_back('%');
        escaped.push_back(kHex[byte >> 4]);
        escaped.push_back(kHex[byte & 0x0F]);
    }
    return escaped;
}

void RequireHost(std::string_view host, std::string_view what) {
    if (host.empty()) throw std::invalid_argument(std::string(what) + " is empty");
    if (host.size() > kMaxHostLength) throw std::invalid_argument(std::string(what) + " is too long");
    std::string_view name = host;
    // A colon after the closing bracket of an IPv6 reference, or the only
    // colon of a name, starts the port.
    const std::size_t colon = name.front() == '[' ? name.find("]:") : name.find(':');
    if (colon != std::string_view::npos) {
        const std::size_t portStart = name.front() == '[' ? colon + 2 : colon + 1;
        if (!IsPort(name.substr(portStart))) throw std::invalid_argument(HostError(what, host));
        name = name.substr(0, name.front() == '[' ? colon + 1 : colon);
    }
    if (!IsHostName(name) && !IsIpv6Reference(name))
        throw std::invalid_argument(HostError(what, host));
}

std::string TargetUri(std::string_view target, std::string_view domain) {
    // A sips: target stays one: the user asked for TLS all the way.
    const bool secure = sip_text::StartsWithNoCase(target, "sips:");
    if (secure) target.remove_prefix(5);
    if (sip_text::StartsWithNoCase(target, "sip:")) target.remove_prefix(4);
    const std::size_t at = target.rfind('@');
    const std::string_view user = target.substr(0, at);
    const std::string_view host = at == std::string_view::npos ? domain : target.substr(at + 1);
    if (user.empty()) throw std::invalid_argument("the number or target is empty");
    const std::string escapedUser = EscapeUserPart(user);
    if (escapedUser.size() > kMaxUserPartLength) {
        throw std::invalid_argument("the number or target is too long (at most " +
                                    std::to_string(kMaxUserPartLength) + " characters)");
    }
    RequireHost(host, "the host of the number or target");
    return (secure ? "sips:" : "sip:") + escapedUser + "@" + std::string(host);
}

void RequireDialTarget(std::string_view target) {
    RequireNoControl(target, "the number or target");
    TargetUri(target, "localhost");
}

}  // namespace sip_header
