#include "sip/request_check.h"

#include <string_view>

#include "sip/text.h"

namespace {

using sip_text::Before;
using sip_text::StartsWithNoCase;
using sip_text::Trim;

bool AllDigits(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// A CSeq number is below 2^31 (RFC 3261 8.1.1.5).
bool ValidCSeqNumber(std::string_view number) {
    return AllDigits(number) && sip_text::NumberOr(number, -1) >= 0;
}

// A length that fits: digits only, and no more than the body that came. A
// length beyond the datagram means the message was cut on its way.
bool ValidContentLength(const TSipMessage& request) {
    if (!request.ContentLength) return true;
    const std::string_view value = *request.ContentLength;
    if (!AllDigits(value) || value.size() > 9) return false;
    return static_cast<std::size_t>(sip_text::NumberOr(value, 0)) <= request.Body.size();
}

bool IsSdp(std::string_view contentType) {
    const std::string_view mediaType = Trim(Before(contentType, ';'));
    return mediaType.size() == 15 && StartsWithNoCase(mediaType, "application/sdp");
}

TRequestFault BadRequest() { return {"400 Bad Request", ""}; }

}  // namespace

std::optional<TRequestFault> CheckRequest(const TSipMessage& request) {
    if (request.ViaHeaders.empty() || request.CallId.empty() || request.FromHeader.empty() ||
        request.ToHeader.empty() || request.CSeqNumber.empty())
        return BadRequest();
    if (!ValidCSeqNumber(request.CSeqNumber) || request.CSeqMethod != request.RequestMethod)
        return BadRequest();
    if (!ValidContentLength(request)) return BadRequest();
    // The body a Content-Length shorter than the datagram leaves is the one
    // that counts; an INVITE without one carries no offer.
    const std::size_t bodySize =
        request.ContentLength ? static_cast<std::size_t>(sip_text::NumberOr(*request.ContentLength, 0))
                              : request.Body.size();
    if (request.RequestMethod == "INVITE" && bodySize > 0 && !IsSdp(request.ContentType))
        return TRequestFault{"415 Unsupported Media Type", "Accept: application/sdp\r\n"};
    return std::nullopt;
}

bool CanRefuse(const TSipMessage& request) {
    return !request.ViaHeaders.empty() && request.RequestMethod != "ACK";
}
