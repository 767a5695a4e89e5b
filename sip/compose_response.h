// The responses the agent sends: those built from a received request alone,
// and those to the INVITE a call received. Each returns the whole datagram.
#pragma once

#include <string>
#include <string_view>

#include "sip/message.h"
#include "sip/sipints.h"

// "SIP/2.0 " + `status` (such as "100 Trying") echoing the request's Via,
// To, From, Record-Route, Call-ID and CSeq. No tag is added.
std::string ComposeResponse(const TSipMessage& request, const std::string& status);
// The same with `tag` added to a To that has none: every response that
// could start or answer a dialog carries our tag (RFC 3261 8.2.6.2).
std::string ComposeResponseWithTag(const TSipMessage& request, const std::string& status,
                                   const std::string& tag);
// `status` for a request that may lack any header but its Via: only the
// headers it has are echoed, To with `tag` when it has none, then
// `extraHeaders` (whole lines).
std::string ComposeRefusal(const TSipMessage& request, const std::string& status,
                           const std::string& tag, std::string_view extraHeaders = {});
// "405 Method Not Allowed" with the Allow line and our To tag.
std::string ComposeMethodNotAllowed(const TSipMessage& request, const std::string& tag);
// "200 OK" with From before To.
std::string ComposeOk(const TSipMessage& request);
// "200 OK" to OPTIONS, naming what the agent accepts and allows, with
// `tag` added to a To that has none.
std::string ComposeOptionsOk(const TSipMessage& request, const std::string& tag);
// "488 Not Acceptable Here" to an offer without an acceptable codec, with
// `tag` added to a To that has none.
std::string ComposeNotAcceptable(const TSipMessage& request, const std::string& tag);

// A response (such as "486 Busy here") to the INVITE the call received.
std::string ComposeCallResponse(ISipCall& call, const std::string& status);
// "200 OK" to the call's INVITE with the SDP answer in `direction`.
std::string ComposeOkWithAnswer(ISipCall& call, std::string_view direction = "sendrecv");
// "200 OK" to an INVITE that brought no offer: the offer is ours (the
// answer comes in the ACK), of `payloadList` as in ComposeInvite.
std::string ComposeOkWithOffer(ISipCall& call, const std::string& payloadList);
// "302 Moved Temporarily" sending the caller to `target` in the domain.
std::string ComposeRedirect(ISipCall& call, const std::string& target);
