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

namespace {

bool IsParameter(std::string_view param, std::string_view name) {
    const std::string_view paramName = Trim(param.substr(0, param.find('=')));
    return paramName.size() == name.size() && StartsWithNoCase(paramName, name);
}

}  // namespace

// What the sender wrote in received and rport is never kept: responses
// follow those marks, and a sender could otherwise aim them at anybody.
std::string StampTopVia(std::string_view viaHeaders, std::string_view sourceAddress,
                        uint16_t sourcePort, bool connection) {
    return StampTopViaRouted(viaHeaders, sourceAddress, sourcePort, connection).headers;
}

TStampedVia StampTopViaRouted(std::string_view viaHeaders, std::string_view sourceAddress,
                              uint16_t sourcePort, bool connection) {
    const TSpan span = TopValueSpan(viaHeaders);
    if (span.end == span.begin || sourceAddress.empty())
        return {std::string(viaHeaders), ResponseDestination(viaHeaders)};
    const TTopVia via = ParseTopVia(viaHeaders);
    const std::string_view value = viaHeaders.substr(span.begin, span.end - span.begin);
    // With rport the received parameter is added always (RFC 3581 4).
    const bool markReceived = via.rport || connection || via.host != sourceAddress;
    const std::string receivedParam = ";received=" + std::string(sourceAddress);

    const std::size_t firstSemicolon = value.find(';');
    std::string stampedValue(value.substr(0, firstSemicolon));
    bool receivedWritten = false;
    std::string_view params =
        firstSemicolon == std::string_view::npos ? std::string_view() : value.substr(firstSemicolon + 1);
    while (!params.empty()) {
        const std::size_t next = params.find(';');
        const std::string_view param = params.substr(0, next);
        if (IsParameter(param, "rport")) {
            stampedValue.append(";rport=").append(std::to_string(sourcePort));
        } else if (IsParameter(param, "received")) {
            if (markReceived && !receivedWritten) stampedValue += receivedParam;
            receivedWritten = true;
        } else {
            stampedValue.append(";").append(param);
        }
        if (next == std::string_view::npos) break;
        params.remove_prefix(next + 1);
    }
    if (markReceived && !receivedWritten) stampedValue += receivedParam;
    if (connection && !via.rport) stampedValue.append(";rport=").append(std::to_string(sourcePort));

    TStampedVia stamped;
    stamped.headers.reserve(viaHeaders.size() + stampedValue.size() - value.size());
    stamped.headers.append(viaHeaders.substr(0, span.begin)).append(stampedValue);
    stamped.headers.append(viaHeaders.substr(span.end));
    // The source is in received, or is the sent-by host itself; the port is
    // the one written in rport (a port 0 written there reads as none).
    stamped.destination.host = std::string(sourceAddress);
    const bool portWritten = (via.rport || connection) && sourcePort != 0;
    stamped.destination.port = portWritten ? sourcePort : via.port;
    return stamped;
}

TResponseDestination ResponseDestination(std::string_view viaHeaders) {
    const TTopVia via = ParseTopVia(viaHeaders);
    TResponseDestination destination;
    destination.host = via.received.empty() ? via.host : via.received;
    destination.port = via.rportValue.value_or(via.port);
    return destination;
}
