#include "sip/sdp_formats.h"

namespace {

// Both sides of an Opus call here are narrow-band (the booth's audio runs at
// 8 kHz): playback and capture rates say so, so the far end spends no bits
// on what would be thrown away.
constexpr std::string_view kOpusParameters =
    "useinbandfec=1; maxplaybackrate=8000; sprop-maxcapturerate=8000; maxaveragebitrate=20000";

std::string RtpMapLine(int payloadType) {
    switch (payloadType) {
    case 18:
        return "a=rtpmap:18 G729/8000\r\n";
    case 111:
        return "a=rtpmap:111 opus/48000/2\r\n";
    default:
        return {};
    }
}

std::string FmtpLine(int payloadType, std::string_view parameters) {
    if (parameters.empty()) return {};
    return "a=fmtp:" + std::to_string(payloadType) + " " + std::string(parameters) + "\r\n";
}

}  // namespace

std::string OfferFormatLines(int payloadType) {
    switch (payloadType) {
    case 18:
        return RtpMapLine(18) + FmtpLine(18, "annexb=yes");
    case 111:
        return RtpMapLine(111) + FmtpLine(111, kOpusParameters);
    default:
        return {};
    }
}

std::string AnswerFormatLines(int payloadType, std::string_view parameters) {
    const std::string rtpmap = RtpMapLine(payloadType);
    if (rtpmap.empty()) return {};
    return rtpmap + FmtpLine(payloadType, parameters);
}
