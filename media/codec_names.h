// The names an administrator uses for codecs ("opus,g729,pcmu"), mapped to
// the payload types the agent offers them under. The order of a list is the
// order of preference: offers name the codecs in it, answers pick from it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace media {

// The payload types the agent uses for its codecs. G.729 has a static
// number; Opus is dynamic and offered as 111.
inline constexpr int kPcmuPayloadType = 0;
inline constexpr int kGsmPayloadType = 3;
inline constexpr int kPcmaPayloadType = 8;
inline constexpr int kG729PayloadType = 18;
inline constexpr int kSpeexPayloadType = 110;
inline constexpr int kOpusPayloadType = 111;

// Every codec name the agent knows, in its default order of preference.
const std::vector<std::string>& KnownCodecNames();

// "opus, g729,PCMU" -> {111, 18, 0}. Names are case-blind and may carry
// blanks around them; a name given twice counts once. Throws
// std::invalid_argument naming the codec and the known names for an unknown
// or empty name.
std::vector<int> ParseCodecList(std::string_view list);

// The name of a payload type ("g729"), or its number as text when unknown.
std::string CodecName(int payloadType);

// {111, 18} -> "opus,g729".
std::string CodecListText(const std::vector<int>& payloadTypes);

}  // namespace media
