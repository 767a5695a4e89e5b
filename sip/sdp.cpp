#include "sip/sdp.h"

#include <algorithm>

#include "sip/compose_common.h"
#include "sip/sdp_crypto.h"
#include "sip/sdp_formats.h"
#include "sip/sdp_payload_numbers.h"
#include "sip/text.h"

#include <cstdlib>

using namespace sip_compose;

namespace {

constexpr int kComfortNoisePayloadType = 13;

// "v=0" to "t=0 0", the lines offer and answer share but for the address,
// appended to `text`.
void AppendSessionLines(std::string& text, ISipCall& call, std::string_view contactHost,
                        std::string_view mediaAddress) {
    text.append("v=0\r\no=- ").append(std::to_string(call.GetSdpSessionId())).append(" ");
    text.append(std::to_string(call.GetSdpVersion())).append(" IN IP4 ").append(contactHost);
    text.append("\r\ns=Quillon SIP component\r\nc=IN IP4 ").append(mediaAddress).append("\r\nt=0 0\r\n");
}

}  // namespace

std::string BuildSdpOffer(ISipCall& call, const std::string& payloadList) {
    const std::string contactHost = CallAccount(call)->GetContactHost();
    const std::string direction = call.GetDirection();
    const std::string mediaAddress = direction == "sendonly" ? "0.0.0.0" : contactHost;
    const TCallCrypto crypto = call.GetCrypto();
    std::string text;
    AppendSessionLines(text, call, contactHost, mediaAddress);
    // Comfort noise is offered so that a peer which stops sending between
    // talkspurts can say how loud its background is.
    const bool savp = !crypto.offered.empty() && !crypto.bestEffort;
    // A codec the far end numbered otherwise keeps its number for the whole
    // session (RFC 3264 section 8.3.2); a codec of ours under that number
    // is left out.
    const IAudioCodecPtr codec = call.GetCodec();
    const int own = codec ? codec->GetOwnPayloadType() : -1;
    const int wire = codec ? codec->GetPayloadType() : -1;
    std::vector<int> listed;
    for (std::string_view rest = payloadList; !rest.empty();) {
        const std::size_t blank = rest.find(' ');
        if (const std::string_view token = rest.substr(0, blank); !token.empty())
            listed.push_back(std::atoi(std::string(token).c_str()));
        rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
    }
    std::string types;
    std::string formats;
    for (const TPayloadNumber& n : OfferedPayloadNumbers(listed, own, wire)) {
        if (!types.empty()) types += ' ';
        types += std::to_string(n.wire);
        formats += OfferFormatLines(n.own, n.wire);
    }
    text += "m=audio " + std::to_string(call.GetLocalRtpPort()) + (savp ? " RTP/SAVP " : " RTP/AVP ") +
            types + " 101 13\r\n" + formats;
    text += "a=rtpmap:101 telephone-event/8000\r\n";
    text += "a=fmtp:101 0-15\r\n";
    text += "a=rtpmap:13 CN/8000\r\n";
    text += "a=ptime:20\r\n";
    for (const TSdpCrypto& line : crypto.offered)
        text += SdpCryptoLine(line);
    text += "a=" + direction + "\r\n";
    return text;
}

void AppendSdpAnswer(std::string& text, ISipCall& call, std::string_view direction) {
    const std::string contactHost = CallAccount(call)->GetContactHost();
    const IAudioCodecPtr codec = call.GetCodec();
    const TCallCrypto crypto = call.GetCrypto();
    const std::vector<int> agreed = call.GetNegotiatedPayloadTypes();
    const std::string event = std::to_string(call.GetTelephoneEventTypes().receive);
    const bool comfortNoise = std::find(agreed.begin(), agreed.end(), kComfortNoisePayloadType) != agreed.end();
    const bool savp = crypto.Agreed() && !crypto.bestEffort;
    // The answer is sent once per offer, re-INVITEs included: written in
    // place, without a temporary string per line.
    text.reserve(text.size() + 320);
    AppendSessionLines(text, call, contactHost, contactHost);
    text.append("m=audio ").append(std::to_string(call.GetLocalRtpPort())).append(savp ? " RTP/SAVP " : " RTP/AVP ");
    // Without a chosen codec the number is left empty rather than invented.
    if (codec) text.append(std::to_string(codec->GetPayloadType()));
    text.append(" ").append(event).append(comfortNoise ? " 13\r\n" : "\r\n");
    if (codec)
        text += AnswerFormatLines(codec->GetOwnPayloadType(), codec->GetPayloadType(), codec->GetFormatParameters());
    text.append("a=rtpmap:").append(event).append(" telephone-event/8000\r\n");
    text.append("a=fmtp:").append(event).append(" 0-16\r\n");
    if (comfortNoise)
        text.append("a=rtpmap:13 CN/8000\r\n");
    if (crypto.Agreed())
        text += SdpCryptoLine(*crypto.local);
    text.append("a=").append(direction).append("\r\n");
}

std::string BuildSdpAnswer(ISipCall& call, std::string_view direction) {
    std::string text;
    AppendSdpAnswer(text, call, direction);
    return text;
}

std::vector<int> AnswerPayloadTypes(int chosen, const std::vector<int>& offered) {
    std::vector<int> agreed{chosen};
    if (chosen != kComfortNoisePayloadType &&
        std::find(offered.begin(), offered.end(), kComfortNoisePayloadType) != offered.end())
        agreed.push_back(kComfortNoisePayloadType);
    return agreed;
}

std::optional<int> SdpPort(std::string_view token) {
    if (token.empty() || token.size() > 5) return std::nullopt;
    int port = 0;
    for (const char c : token) {
        if (c < '0' || c > '9') return std::nullopt;
        port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) return std::nullopt;
    return port;
}

namespace {

bool IsDirection(std::string_view attribute) {
    return attribute == "sendrecv" || attribute == "sendonly" || attribute == "recvonly" ||
           attribute == "inactive";
}

// "c=IN IP4 address[/ttl]": the address, or nothing for another network type.
std::optional<std::string> ConnectionAddress(std::string_view value) {
    constexpr std::string_view kIp4 = "IN IP4 ";
    if (!value.starts_with(kIp4)) return std::nullopt;
    const std::string_view address = sip_text::Before(sip_text::Trim(value.substr(kIp4.size())), '/');
    return std::string(address);
}

// "ptime:30" and the like: the whole number after `name`, or nothing.
std::optional<int> PacketTime(std::string_view attribute, std::string_view name) {
    if (!attribute.starts_with(name)) return std::nullopt;
    const std::string_view digits = sip_text::Trim(attribute.substr(name.size()));
    if (digits.empty() || digits.size() > 5) return std::nullopt;
    int value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value > 0 ? std::optional<int>(value) : std::nullopt;
}

// "18 annexb=no" (an fmtp value) or "96 opus/48000/2" (an rtpmap value):
// the payload type and the text after it, added to `into`.
void ReadTypedValue(std::string_view value, std::vector<std::pair<int, std::string>>& into) {
    const std::size_t blank = value.find(' ');
    if (blank == 0 || blank == std::string_view::npos || blank > 3) return;
    int payloadType = 0;
    for (const char c : value.substr(0, blank)) {
        if (c < '0' || c > '9') return;
        payloadType = payloadType * 10 + (c - '0');
    }
    into.emplace_back(payloadType, std::string(sip_text::Trim(value.substr(blank + 1))));
}

std::string ValueOf(const std::vector<std::pair<int, std::string>>& values, int payloadType) {
    for (const auto& [type, value] : values) {
        if (type == payloadType) return value;
    }
    return {};
}

// "96 telephone-event/8000": the payload type, when the name is
// telephone-event at 8 kHz and the number a dynamic one.
std::optional<int> TelephoneEventType(std::string_view value) {
    const std::size_t blank = value.find(' ');
    if (blank == 0 || blank == std::string_view::npos || blank > 3) return std::nullopt;
    int payloadType = 0;
    for (const char c : value.substr(0, blank)) {
        if (c < '0' || c > '9') return std::nullopt;
        payloadType = payloadType * 10 + (c - '0');
    }
    const std::string_view encoding = sip_text::Trim(value.substr(blank + 1));
    constexpr std::string_view kName = "telephone-event/8000";
    if (encoding.size() < kName.size() || !sip_text::StartsWithNoCase(encoding, kName)) return std::nullopt;
    if (encoding.size() > kName.size() && encoding[kName.size()] != '/') return std::nullopt;
    if (payloadType < 96 || payloadType > 127) return std::nullopt;
    return payloadType;
}

}  // namespace

std::string FormatParametersOf(const TSdpAudio& audio, int payloadType) {
    return ValueOf(audio.formatParameters, payloadType);
}

std::string RtpMapOf(const TSdpAudio& audio, int payloadType) {
    return ValueOf(audio.rtpMaps, payloadType);
}

TSdpAudio ReadSdpAudio(std::string_view body) {
    TSdpAudio audio;
    std::string sessionAddress;
    std::string sessionDirection = "sendrecv";
    std::optional<std::string> mediaAddress;
    std::optional<std::string> mediaDirection;
    std::optional<int> sessionPtime, mediaPtime, sessionMaxPtime, mediaMaxPtime;
    enum { Session, Audio, OtherMedia } section = Session;
    bool done = false;
    while (!body.empty() && !done) {
        const std::size_t end = body.find('\n');
        std::string_view line = sip_text::Trim(body.substr(0, end));
        body = end == std::string_view::npos ? std::string_view() : body.substr(end + 1);
        if (line.size() < 2 || line[1] != '=') continue;
        const char type = line[0];
        const std::string_view value = line.substr(2);
        if (type == 'm') {
            if (section == Audio) done = true;  // only the first audio stream counts
            else if (value.starts_with("audio ")) {
                section = Audio;
                audio.present = true;
                const std::string_view rest = sip_text::Trim(value.substr(6));
                audio.portToken = std::string(rest.substr(0, rest.find(' ')));
                if (audio.portToken.size() < rest.size()) {
                    const std::string_view afterPort = sip_text::Trim(rest.substr(audio.portToken.size()));
                    audio.profile = std::string(afterPort.substr(0, afterPort.find(' ')));
                }
            } else {
                section = OtherMedia;
            }
            continue;
        }
        if (section == OtherMedia) continue;
        if (type == 'c') {
            if (const auto address = ConnectionAddress(value)) {
                if (section == Session) sessionAddress = *address;
                else mediaAddress = *address;
            }
        } else if (type == 'a' && IsDirection(value)) {
            if (section == Session) sessionDirection = std::string(value);
            else mediaDirection = std::string(value);
        } else if (type == 'a' && section == Audio && value.starts_with("crypto:")) {
            // Security descriptions belong to the stream; those the agent
            // cannot meet are passed over.
            if (auto crypto = ParseSdpCrypto(value.substr(7)))
                audio.crypto.push_back(std::move(*crypto));
        } else if (type == 'a') {
            if (const auto ptime = PacketTime(value, "ptime:"))
                (section == Session ? sessionPtime : mediaPtime) = ptime;
            else if (const auto maxPtime = PacketTime(value, "maxptime:"))
                (section == Session ? sessionMaxPtime : mediaMaxPtime) = maxPtime;
            else if (section == Audio && value.starts_with("fmtp:"))
                ReadTypedValue(value.substr(5), audio.formatParameters);
            else if (section == Audio && value.starts_with("rtpmap:")) {
                ReadTypedValue(value.substr(7), audio.rtpMaps);
                if (!audio.telephoneEvent)
                    audio.telephoneEvent = TelephoneEventType(value.substr(7));
            }
        }
    }
    audio.address = mediaAddress.value_or(sessionAddress);
    audio.direction = mediaDirection.value_or(sessionDirection);
    audio.ptimeMs = mediaPtime.value_or(sessionPtime.value_or(0));
    audio.maxPtimeMs = mediaMaxPtime.value_or(sessionMaxPtime.value_or(0));
    return audio;
}

std::string AnswerDirection(std::string_view offerDirection, std::string_view address,
                            bool localHold) {
    if (address == "0.0.0.0" || offerDirection == "inactive") return "inactive";
    // What the offerer will receive and send; we mirror it, and holding
    // ourselves takes away our receiving.
    const bool weSend = offerDirection != "sendonly";                      // the offerer receives
    const bool weReceive = offerDirection != "recvonly" && !localHold;  // the offerer sends
    if (weSend && weReceive) return "sendrecv";
    if (weSend) return "sendonly";
    return weReceive ? "recvonly" : "inactive";
}
