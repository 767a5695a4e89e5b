// Reading an a=fmtp value ("useinbandfec=1; maxaveragebitrate=20000",
// "annexb=no"): parameters separated by semicolons, each name=value with
// blanks around either ignored, names compared without case.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace media {

// The value of `name`, or nothing when the parameter is not there.
std::optional<std::string> FormatParameter(std::string_view parameters, std::string_view name);

// Whether `name` is "1" or "yes" (case-blind); `absent` when not there.
bool FormatFlag(std::string_view parameters, std::string_view name, bool absent);

}  // namespace media
