#include "sip/sdp_payload_numbers.h"

#include "sip/telephone_event_types.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace {

constexpr int kFirstDynamicType = 96;
constexpr int kComfortNoisePayloadType = 13;

struct TKnownEncoding {
    std::string_view name;  // lower case
    int clockRate;
    int own;
};

// The encodings the agent can code, by the numbers it gives them.
constexpr TKnownEncoding kKnownEncodings[] = {
    {"pcmu", 8000, 0},  {"gsm", 8000, 3},     {"pcma", 8000, 8},
    {"g729", 8000, 18}, {"speex", 8000, 110}, {"opus", 48000, 111},
};

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

// "opus/48000/2" -> the clock rate, 0 when it is not a number.
int ClockRateOf(std::string_view rtpmap) {
    const std::size_t slash = rtpmap.find('/');
    if (slash == std::string_view::npos) return 0;
    const std::string_view digits = rtpmap.substr(slash + 1, rtpmap.find('/', slash + 1) - slash - 1);
    if (digits.empty() || digits.size() > 6) return 0;
    int rate = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return 0;
        rate = rate * 10 + (c - '0');
    }
    return rate;
}

}  // namespace

int OwnPayloadType(int wire, std::string_view rtpmap) {
    if (wire < 0 || wire > 127) return -1;
    if (wire < kFirstDynamicType || rtpmap.empty()) return wire;
    const std::string name = Lower(rtpmap.substr(0, rtpmap.find('/')));
    const int rate = ClockRateOf(rtpmap);
    for (const TKnownEncoding& known : kKnownEncodings) {
        if (name == known.name && rate == known.clockRate) return known.own;
    }
    return -1;
}

std::vector<TPayloadNumber> PayloadNumbers(const TSdpAudio& audio, const std::vector<int>& listed) {
    std::vector<TPayloadNumber> numbers;
    for (const int wire : listed) {
        const int own = OwnPayloadType(wire, RtpMapOf(audio, wire));
        if (own < 0) continue;
        const bool seen = std::any_of(numbers.begin(), numbers.end(),
                                      [&](const TPayloadNumber& n) { return n.own == own || n.wire == wire; });
        if (!seen) numbers.push_back({own, wire});
    }
    return numbers;
}

std::vector<int> OwnPayloadTypes(const std::vector<TPayloadNumber>& numbers) {
    std::vector<int> own;
    own.reserve(numbers.size());
    for (const TPayloadNumber& n : numbers) own.push_back(n.own);
    return own;
}

int WirePayloadType(const std::vector<TPayloadNumber>& numbers, int own) {
    for (const TPayloadNumber& n : numbers) {
        if (n.own == own) return n.wire;
    }
    return own;
}

std::vector<TPayloadNumber> OfferedPayloadNumbers(const std::vector<int>& own, int currentOwn, int currentWire) {
    std::vector<TPayloadNumber> offered;
    for (const int type : own) {
        const bool current = type == currentOwn;
        const int number = current ? currentWire : type;
        if (!current && number == currentWire) continue;
        offered.push_back({type, number});
    }
    return offered;
}

std::vector<int> ReceivedPayloadTypes(const std::vector<TPayloadNumber>& offered, int own, int answered) {
    const int ours = WirePayloadType(offered, own);
    std::vector<int> received{ours};
    if (answered == ours || answered < 0 || answered > 127) return received;
    const bool taken = answered == kOwnTelephoneEventPayloadType || answered == kComfortNoisePayloadType ||
                       std::any_of(offered.begin(), offered.end(),
                                   [&](const TPayloadNumber& n) { return n.wire == answered; });
    if (!taken) received.push_back(answered);
    return received;
}
