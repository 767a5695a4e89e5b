// Small byte-string helpers for the fixed-position SIP parsing and composing:
// 1-based positions with clamping, trimming of control characters and blanks,
// and ASCII-only case folding.
#pragma once

#include <cstddef>
#include <string_view>

namespace sip_text {

// Up to `count` characters from the 1-based position `position`; nothing when
// the position lies beyond the end.
inline std::string_view Mid(std::string_view text, std::size_t position,
                            std::size_t count = std::string_view::npos) {
    if (position == 0) position = 1;
    if (position > text.size()) return {};
    return text.substr(position - 1, count);
}

// Strips every character up to and including the blank from both ends.
inline std::string_view Trim(std::string_view text) {
    std::size_t first = 0;
    while (first < text.size() && static_cast<unsigned char>(text[first]) <= ' ') ++first;
    std::size_t last = text.size();
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
    return text.substr(first, last - first);
}

// The text before the first `c`, or all of it when `c` is absent.
inline std::string_view Before(std::string_view text, char c) {
    const std::size_t at = text.find(c);
    return at == std::string_view::npos ? text : text.substr(0, at);
}

// The text after the first `c`, or all of it when `c` is absent.
inline std::string_view After(std::string_view text, char c) {
    const std::size_t at = text.find(c);
    return at == std::string_view::npos ? text : text.substr(at + 1);
}

inline char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

// True when the text begins with `prefix`, ASCII letters compared in one case.
inline bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        // Names are mostly written as expected, so folding waits for a mismatch.
        if (text[i] != prefix[i] && FoldAscii(text[i]) != FoldAscii(prefix[i])) return false;
    }
    return true;
}

// A decimal number from 0 to 2^31 - 1 (the range of a CSeq number), else
// `fallback` (signs, blanks and larger numbers included).
inline int NumberOr(std::string_view text, int fallback) {
    if (text.empty() || text.size() > 10) return fallback;
    long long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return fallback;
        value = value * 10 + (c - '0');
    }
    return value <= 0x7FFFFFFF ? static_cast<int>(value) : fallback;
}

}  // namespace sip_text
