// The rtpmap and fmtp lines of the codecs that need them: static payload
// types of RFC 3551 with a fixed clock (0, 3, 8) need none; G.729 states its
// Annex B use (RFC 4856) and Opus its rtpmap and parameters (RFC 7587).
#pragma once

#include <string>
#include <string_view>

// The lines an offer carries for `payloadType`; empty for one that needs
// none.
std::string OfferFormatLines(int payloadType);

// The lines an answer carries for `payloadType`, with `parameters` (the
// codec's own, after it read the offer's) as its fmtp when not empty.
std::string AnswerFormatLines(int payloadType, std::string_view parameters);
