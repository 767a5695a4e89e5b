#include "sip/via.h"

#include <algorithm>

#include "sip/text.h"

namespace {

using sip_text::NumberOr;
using sip_text::StartsWithNoCase;
using sip_text::Trim;

// Where the top Via value lies in the text: [begin, end).
struct TSpan {
    std::size_t begin = 0;
    std::size_t end = 0;
};

TSpan TopValueSpan(std::string_view headers) {
    const std::size_t lineEnd = std::min(headers.find('\r'), headers.find('\n'));
    const std::string_view line = headers.substr(0, lineEnd);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !(StartsWithNoCase(line, "Via:") || StartsWithNoCase(line, "v:")))
        return {};
    std::size_t begin = colon + 1;
    while (begin < line.size() && (line[begin] == ' ' || line[begin] == '\t')) ++begin;
    std::size_t end = line.find(',', begin);
    if (end == std::string_view::npos) end = line.size();
    while (end > begin && (line[end - 1] == ' ' || line[end - 1] == '\t')) --end;
    return {begin, end};
}

int PortOr(std::string_view text, int fallback) {
    const int port = NumberOr(text, 0);
    return port >= 1 && port <= 65535 ? port : fallback;
}

}  // namespace

TTopVia ParseTopVia(std::string_view viaHeaders) {
    TTopVia via;
    const TSpan span = TopValueSpan(viaHeaders);
    std::string_view value = viaHeaders.substr(span.begin, span.end - span.begin);
    // "SIP/2.0/UDP host:port;param;param=value"
    const std::size_t blank = value.find_first_of(" \t");
    if (blank == std::string_view::npos) return via;
    value = Trim(value.substr(blank));
    const std::size_t semicolon = value.find(';');
    const std::string_view sentBy = Trim(value.substr(0, semicolon));
    const std::size_t colon = sentBy.find(':');
    via.host = std::string(sentBy.substr(0, colon));
    if (colon != std::string_view::npos) via.port = PortOr(Trim(sentBy.substr(colon + 1)), 5060);
    std::string_view params = semicolon == std::string_view::npos ? std::string_view() : value.substr(semicolon + 1);
    while (!params.empty()) {
        const std::size_t next = params.find(';');
        const std::string_view param = Trim(params.substr(0, next));
        const std::size_t equals = param.find('=');
        const std::string_view name = Trim(param.substr(0, equals));
        const std::string_view paramValue =
            equals == std::string_view::npos ? std::string_view() : Trim(param.substr(equals + 1));
        if (name.size() == 8 && StartsWithNoCase(name, "received")) {
            via.received = std::string(paramValue);
        } else if (name.size() == 5 && StartsWithNoCase(name, "rport")) {
            via.rport = true;
            const int port = PortOr(paramValue, 0);
            if (port != 0) via.rportValue = port;
        }
        if (next == std::string_view::npos) break;
        params.remove_prefix(next + 1);
    }
    return via;
}

std::string StampTopVia(std::string_view viaHeaders, std::string_view sourceAddress,
                        uint16_t sourcePort) {
    const TSpan span = TopValueSpan(viaHeaders);
    if (span.end == span.begin) return std::string(viaHeaders);
    const TTopVia via = ParseTopVia(viaHeaders);
    std::string value(viaHeaders.substr(span.begin, span.end - span.begin));
    if (via.rport && !via.rportValue) {
        // Replace the bare "rport" parameter by one with the source port.
        std::size_t at = 0;
        while ((at = value.find(';', at)) != std::string::npos) {
            std::size_t nameBegin = at + 1;
            while (nameBegin < value.size() && value[nameBegin] == ' ') ++nameBegin;
            std::size_t nameEnd = nameBegin;
            while (nameEnd < value.size() && value[nameEnd] != ';' && value[nameEnd] != '=' &&
                   value[nameEnd] != ' ')
                ++nameEnd;
            const std::string_view name = std::string_view(value).substr(nameBegin, nameEnd - nameBegin);
            if (name.size() == 5 && StartsWithNoCase(name, "rport")) {
                std::size_t paramEnd = value.find(';', nameEnd);
                if (paramEnd == std::string::npos) paramEnd = value.size();
                value.replace(nameBegin, paramEnd - nameBegin, "rport=" + std::to_string(sourcePort));
                break;
            }
            at = nameEnd;
        }
    }
    // With rport the received parameter is added always (RFC 3581 4).
    if (via.received.empty() && !sourceAddress.empty() && (via.rport || via.host != sourceAddress))
        value.append(";received=").append(sourceAddress);
    std::string stamped(viaHeaders.substr(0, span.begin));
    stamped += value;
    stamped.append(viaHeaders.substr(span.end));
    return stamped;
}

TResponseDestination ResponseDestination(std::string_view viaHeaders) {
    const TTopVia via = ParseTopVia(viaHeaders);
    TResponseDestination destination;
    destination.host = via.received.empty() ? via.host : via.received;
    destination.port = via.rportValue.value_or(via.port);
    return destination;
}
