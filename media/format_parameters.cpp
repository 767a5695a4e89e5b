#include "media/format_parameters.h"

#include <algorithm>
#include <cctype>

namespace media {
namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

bool SameNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::optional<std::string> FormatParameter(std::string_view parameters, std::string_view name) {
    while (!parameters.empty()) {
        const std::size_t end = parameters.find(';');
        const std::string_view item = parameters.substr(0, end);
        const std::size_t equals = item.find('=');
        if (equals != std::string_view::npos && SameNoCase(Trim(item.substr(0, equals)), name))
            return std::string(Trim(item.substr(equals + 1)));
        if (end == std::string_view::npos) break;
        parameters.remove_prefix(end + 1);
    }
    return std::nullopt;
}

bool FormatFlag(std::string_view parameters, std::string_view name, bool absent) {
    const auto value = FormatParameter(parameters, name);
    if (!value) return absent;
    return *value == "1" || SameNoCase(*value, "yes");
}

}  // namespace media
