// The SDP bodies the agent sends: the offer of its INVITEs and the answer of
// its 200 OK. Every line ends with CR LF, the last one included.
#pragma once

#include <string>

#include "sip/sipints.h"

// Offer of `payloadList` (payload type numbers separated by single blanks)
// followed by telephone events 101. A call on hold ("sendonly") offers the
// connection address 0.0.0.0; the origin keeps the contact host.
std::string BuildSdpOffer(ISipCall& call, const std::string& payloadList);

// Answer naming only the call's chosen codec and telephone events 101,
// always "sendrecv" on the contact host.
std::string BuildSdpAnswer(ISipCall& call);
