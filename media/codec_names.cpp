#include "media/codec_names.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <stdexcept>

namespace media {
namespace {

struct TNamed {
    const char* name;
    int payloadType;
};

// The default order: the codecs that save a shared uplink first, then
// G.711 (which every provider takes), then the older ones.
constexpr std::array<TNamed, 6> kNamed{{
    {"opus", kOpusPayloadType},
    {"g729", kG729PayloadType},
    {"pcmu", kPcmuPayloadType},
    {"pcma", kPcmaPayloadType},
    {"gsm", kGsmPayloadType},
    {"speex", kSpeexPayloadType},
}};

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

std::string KnownText() {
    std::string text;
    for (const auto& named : kNamed) {
        if (!text.empty()) text += ", ";
        text += named.name;
    }
    return text;
}

}  // namespace

const std::vector<std::string>& KnownCodecNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
        for (const auto& named : kNamed) all.emplace_back(named.name);
        return all;
    }();
    return names;
}

std::vector<int> ParseCodecList(std::string_view list) {
    std::vector<int> payloadTypes;
    for (;;) {
        const std::size_t comma = list.find(',');
        const std::string name = Lower(TrimBlanks(list.substr(0, comma)));
        const auto found = std::find_if(kNamed.begin(), kNamed.end(),
                                        [&name](const TNamed& named) { return name == named.name; });
        if (found == kNamed.end()) {
            throw std::invalid_argument("unknown codec \"" + name + "\" (known: " + KnownText() + ")");
        }
        if (std::find(payloadTypes.begin(), payloadTypes.end(), found->payloadType) == payloadTypes.end())
            payloadTypes.push_back(found->payloadType);
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    return payloadTypes;
}

std::string CodecName(int payloadType) {
    for (const auto& named : kNamed) {
        if (named.payloadType == payloadType) return named.name;
    }
    return std::to_string(payloadType);
}

std::string CodecListText(const std::vector<int>& payloadTypes) {
    std::string text;
    for (const int payloadType : payloadTypes) {
        if (!text.empty()) text += ',';
        text += CodecName(payloadType);
    }
    return text;
}

}  // namespace media
