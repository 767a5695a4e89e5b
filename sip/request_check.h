// Whether a received request is whole enough to be handled: the headers
// every request must carry, a CSeq that names the request's own method with
// a number in range, a Content-Length that fits the datagram, and an INVITE
// body of a type the agent reads. A request that fails gets its error
// response and goes no further.
#pragma once

#include <optional>
#include <string>

#include "sip/message.h"

struct TRequestFault {
    std::string status;       // such as "400 Bad Request"
    std::string extraHeaders;  // whole lines, CR LF ended (the Accept of a 415)
};

// The fault of `request` (a message with a request line), or nothing when
// it may be handled.
std::optional<TRequestFault> CheckRequest(const TSipMessage& request);

// Whether an error response can be sent for `request` at all: only a Via
// tells where it goes, and an ACK is never answered.
bool CanRefuse(const TSipMessage& request);
