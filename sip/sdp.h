// The SDP bodies the agent sends: the offer of its INVITEs and the answer of
// its 200 OK. Every line ends with CR LF, the last one included.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sip/sipints.h"

// Offer of `payloadList` (payload type numbers separated by single blanks)
// followed by telephone events 101 and comfort noise 13. A call on hold ("sendonly") offers the
// connection address 0.0.0.0; the origin keeps the contact host. A call with
// crypto to offer offers RTP/SAVP with one attribute for each.
std::string BuildSdpOffer(ISipCall& call, const std::string& payloadList);

// Answer naming only the call's chosen codec and telephone events (under the
// number the call receives them with) on the
// contact host, with `direction` (AnswerDirection) as its attribute; RTP/SAVP
// with our one crypto attribute once the call's keys are agreed; comfort
// noise 13 too when it is among the call's negotiated payload types.
std::string BuildSdpAnswer(ISipCall& call, std::string_view direction = "sendrecv");
// The same answer appended to `text`.
void AppendSdpAnswer(std::string& text, ISipCall& call, std::string_view direction = "sendrecv");

// The payload types an answer agrees to from an offer of `offered`: the
// chosen codec, and comfort noise 13 when the offer has it (RFC 3389).
std::vector<int> AnswerPayloadTypes(int chosen, const std::vector<int>& offered);

// The port of an m= line: a whole decimal number from 1 to 65535, nothing
// before or after it. Anything else (a sign, "4000x", "70000", "0") is no
// port, and the offer is refused rather than read as some other port.
std::optional<int> SdpPort(std::string_view token);

// What the first audio stream of an SDP body says, as the agent answers it.
struct TSdpAudio {
    bool present = false;          // an "m=audio" line was seen
    std::string portToken;         // the m= line's port text, as written
    std::string address;           // the stream's IPv4 connection address
    std::string direction = "sendrecv";  // its direction attribute, media level first
    // a=ptime and a=maxptime (ms), media level first; 0 when not given. The
    // peer's packets may be of any length: they are placed by RTP time.
    int ptimeMs = 0;
    int maxPtimeMs = 0;
    std::string profile;              // the m= line's transport, "RTP/AVP" or "RTP/SAVP"
    std::vector<TSdpCrypto> crypto;   // its crypto attributes the agent can meet, in order
    // The stream asks for SRTP: answered only with keys, or refused.
    bool Secure() const { return profile == "RTP/SAVP"; }
    // Its a=fmtp values by payload type, in the order given.
    std::vector<std::pair<int, std::string>> formatParameters;
    // Its a=rtpmap values ("opus/48000/2") by payload type, in the order given.
    std::vector<std::pair<int, std::string>> rtpMaps;
    // The dynamic payload type (96-127) its a=rtpmap gives telephone-event/8000.
    std::optional<int> telephoneEvent;
};

// The a=fmtp value `audio` gives for `payloadType`; empty when none.
std::string FormatParametersOf(const TSdpAudio& audio, int payloadType);

// The a=rtpmap value `audio` gives for `payloadType`; empty when none.
std::string RtpMapOf(const TSdpAudio& audio, int payloadType);

// Reads `body` by RFC 4566 rules: session-level c= and direction apply until
// the stream gives its own; later streams are ignored.
TSdpAudio ReadSdpAudio(std::string_view body);

// The direction of our answer (RFC 3264 section 6.1) to an offer with
// `offerDirection` and connection `address`, with `localHold` when we hold
// the call ourselves: sendonly is answered recvonly, recvonly sendonly, and
// inactive, like the old hold address 0.0.0.0, inactive.
std::string AnswerDirection(std::string_view offerDirection, std::string_view address,
                            bool localHold);
