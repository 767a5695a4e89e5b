#include "sip/sdp.h"

#include "sip/compose_common.h"

using namespace sip_compose;

namespace {

// "v=0" to "t=0 0", the lines offer and answer share but for the address.
std::string SessionLines(ISipCall& call, const std::string& contactHost,
                         const std::string& mediaAddress) {
    std::string text = "v=0\r\n";
    text += "o=- " + std::to_string(call.GetSdpSessionId()) + " " +
            std::to_string(call.GetSdpVersion()) + " IN IP4 " + contactHost + "\r\n";
    text += "s=Quillon SIP component\r\n";
    text += "c=IN IP4 " + mediaAddress + "\r\n";
    text += "t=0 0\r\n";
    return text;
}

}  // namespace

std::string BuildSdpOffer(ISipCall& call, const std::string& payloadList) {
    const std::string contactHost = CallAccount(call)->GetContactHost();
    const std::string direction = call.GetDirection();
    const std::string mediaAddress = direction == "sendonly" ? "0.0.0.0" : contactHost;
    std::string text = SessionLines(call, contactHost, mediaAddress);
    text += "m=audio " + std::to_string(call.GetLocalRtpPort()) + " RTP/AVP " + payloadList +
            " 101\r\n";
    text += "a=rtpmap:101 telephone-event/8000\r\n";
    text += "a=fmtp:101 0-15\r\n";
    text += "a=ptime:20\r\n";
    text += "a=" + direction + "\r\n";
    return text;
}

std::string BuildSdpAnswer(ISipCall& call) {
    const std::string contactHost = CallAccount(call)->GetContactHost();
    const IAudioCodecPtr codec = call.GetCodec();
    // Without a chosen codec the number is left empty rather than invented.
    const std::string codecPt = codec ? std::to_string(codec->GetPayloadType()) : std::string();
    std::string text = SessionLines(call, contactHost, contactHost);
    text += "m=audio " + std::to_string(call.GetLocalRtpPort()) + " RTP/AVP " + codecPt +
            " 101\r\n";
    text += "a=rtpmap:101 telephone-event/8000\r\n";
    text += "a=fmtp:101 0-16\r\n";
    text += "a=sendrecv\r\n";
    return text;
}
