#include "sip/sdp_formats.h"

namespace {

// Both sides of an Opus call here are narrow-band (the booth's audio runs at
// 8 kHz): playback and capture rates say so, so the far end spends no bits
// on what would be thrown away.
constexpr std::string_view kOpusParameters =
    "useinbandfec=1; maxplaybackrate=8000; sprop-maxcapturerate=8000; maxaveragebitrate=20000";

// The encoding of our `own` type under the far end's number `wire`.
std::string RtpMapLine(int own, int wire) {
    std::string_view encoding;
    switch (own) {
    case 0:
        encoding = "PCMU/8000";
        break;
    case 3:
        encoding = "GSM/8000";
        break;
    case 8:
        encoding = "PCMA/8000";
        break;
    case 18:
        encoding = "G729/8000";
        break;
    case 110:
        encoding = "speex/8000";
        break;
    case 111:
        encoding = "opus/48000/2";
        break;
    default:
        return {};
    }
    // A static type under its own number needs no line (RFC 3551).
    if (own == wire && own < 18) return {};
    return "a=rtpmap:" + std::to_string(wire) + " " + std::string(encoding) + "\r\n";
}

std::string FmtpLine(int payloadType, std::string_view parameters) {
    if (parameters.empty()) return {};
    return "a=fmtp:" + std::to_string(payloadType) + " " + std::string(parameters) + "\r\n";
}

}  // namespace

std::string OfferFormatLines(int own, int wire) {
    switch (own) {
    case 18:
        return RtpMapLine(18, wire) + FmtpLine(wire, "annexb=yes");
    case 111:
        return RtpMapLine(111, wire) + FmtpLine(wire, kOpusParameters);
    default:
        // A static type under its own number needs no line; a dynamic one
        // (Speex's 110) means nothing to the far end without its rtpmap.
        return RtpMapLine(own, wire);
    }
}

std::string AnswerFormatLines(int own, int wire, std::string_view parameters) {
    return RtpMapLine(own, wire) + FmtpLine(wire, parameters);
}
