// The rtpmap and fmtp lines of the codecs that need them: static payload
// types of RFC 3551 with a fixed clock (0, 3, 8) need none; a dynamic type
// (Speex) always carries its rtpmap (RFC 4566); G.729 states its
// Annex B use (RFC 4856) and Opus its rtpmap and parameters (RFC 7587).
#pragma once

#include <string>
#include <string_view>

// The lines an offer carries for our codec `own` under the number `wire`
// (the far end's, when it gave the codec another); empty for one that needs
// none.
std::string OfferFormatLines(int own, int wire);
inline std::string OfferFormatLines(int payloadType) { return OfferFormatLines(payloadType, payloadType); }

// The lines an answer carries for our codec `own` under the offer's number
// `wire`, with `parameters` (the codec's own, after it read the offer's) as
// its fmtp when not empty.
std::string AnswerFormatLines(int own, int wire, std::string_view parameters);
