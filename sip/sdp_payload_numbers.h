// Dynamic payload types are the offerer's choice (RFC 3264 section 6.1): a
// far end may offer Opus as 96 or 107, or use 111, which we give Opus, for
// something else entirely. The agent chooses among its codecs by its own
// numbers (media/codec_names.h) and speaks to the far end in the far end's:
// these functions translate between the two by the a=rtpmap lines.
#pragma once

#include <string_view>
#include <vector>

#include "sip/sdp.h"

// Our number for the codec an SDP lists as `wire` with `rtpmap` (its
// a=rtpmap value after the number, "opus/48000/2"; empty when none was
// given). A static type (below 96) is known by its number; a dynamic one by
// its encoding name and clock rate, or, without an rtpmap, by its number as
// we would use it. -1 for a codec we do not know.
int OwnPayloadType(int wire, std::string_view rtpmap);

// A codec listed on an m= line: our number for it and the far end's.
struct TPayloadNumber {
    int own = -1;
    int wire = -1;
    bool operator==(const TPayloadNumber&) const = default;
};

// The codecs of `listed` (an m= line's types, in order) that we know, with
// both numbers; a codec listed twice counts once, under its first number.
std::vector<TPayloadNumber> PayloadNumbers(const TSdpAudio& audio, const std::vector<int>& listed);

// Our numbers of `numbers`, in order.
std::vector<int> OwnPayloadTypes(const std::vector<TPayloadNumber>& numbers);

// The far end's number for our `own`, or `own` itself when it is not listed.
int WirePayloadType(const std::vector<TPayloadNumber>& numbers, int own);

// The numbers an offer of ours gives our codecs `own` (in order): each its
// own, but the call's codec `currentOwn` keeps the far end's number
// `currentWire` for the whole session (RFC 3264 section 8.3.2), and a codec
// of ours that would share that number is left out. -1 for no codec yet.
std::vector<TPayloadNumber> OfferedPayloadNumbers(const std::vector<int>& own, int currentOwn, int currentWire);

// The numbers the far end may send our `own` under once it answered our
// `offered` codecs naming it `answered`: the number our offer gave it (an
// answerer sends under the offerer's numbers, RFC 3264 section 6.1), then,
// for a peer that sends under its own instead, `answered` when our offer
// gave that number to nothing else (telephone-event and comfort noise
// included).
std::vector<int> ReceivedPayloadTypes(const std::vector<TPayloadNumber>& offered, int own, int answered);
