#include "sip/stream_framer.h"

#include <charconv>
#include <optional>
#include <string_view>

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsNameNoCase(std::string_view name, std::string_view expected) {
    if (name.size() != expected.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (Lower(name[i]) != expected[i]) return false;
    }
    return true;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

struct TBodyLength {
    bool present = false;
    bool valid = true;
    std::size_t length = 0;
};

// The Content-Length ("l" in compact form) of a head ending in CR LF CR LF.
TBodyLength ContentLengthOf(std::string_view head) {
    TBodyLength result;
    std::size_t line = head.find("\r\n");
    while (line != std::string_view::npos && line + 2 < head.size()) {
        const std::size_t start = line + 2;
        const std::size_t end = head.find("\r\n", start);
        const std::string_view text = head.substr(start, end - start);
        const std::size_t colon = text.find(':');
        if (colon != std::string_view::npos) {
            const std::string_view name = Trim(text.substr(0, colon));
            if (IsNameNoCase(name, "content-length") || IsNameNoCase(name, "l")) {
                const std::string_view value = Trim(text.substr(colon + 1));
                std::size_t length = 0;
                const auto [stop, error] = std::from_chars(value.data(), value.data() + value.size(), length);
                result.present = true;
                result.valid = error == std::errc() && stop == value.data() + value.size() && !value.empty();
                result.length = length;
                return result;
            }
        }
        line = end;
    }
    return result;
}

// A request line "METHOD uri SIP/2.0" or a status line "SIP/2.0 code ...".
bool IsStartLine(std::string_view line) {
    if (line.starts_with("SIP/2.0 ")) return true;
    return line.size() > 8 && line.ends_with(" SIP/2.0") && line.find(' ') != std::string_view::npos &&
           line.front() != ' ';
}

}  // namespace

TSipStreamFramer::TSipStreamFramer(std::size_t maxHead, std::size_t maxBody)
    : MaxHead_(maxHead), MaxBody_(maxBody) {}

TFramedInput TSipStreamFramer::Feed(const char* data, std::size_t size) {
    TFramedInput out;
    if (Broken()) return out;
    Buffer_.append(data, size);
    while (!Broken() && TakeOne(out)) {
    }
    return out;
}

void TSipStreamFramer::Break(const std::string& reason) {
    Error_ = reason;
    Buffer_.clear();
}

// Between messages: CR LF CR LF is a keep-alive asking for an answer, a lone
// CR LF is that answer (RFC 5626 4.4.1). A lone CR LF that may yet become a
// pair waits for the next bytes.
bool TSipStreamFramer::SkipKeepAlives(TFramedInput& out) {
    std::size_t at = 0;
    while (Buffer_.compare(at, 2, "\r\n") == 0) {
        if (Buffer_.compare(at + 2, 2, "\r\n") == 0) {
            ++out.pings;
            at += 4;
        } else if (Buffer_.size() < at + 4) {
            // "\r\n" and maybe the start of another: wait, unless the byte
            // after it already shows a message starting.
            if (Buffer_.size() == at + 2 || Buffer_[at + 2] == '\r') break;
            ++out.pongs;
            at += 2;
        } else {
            ++out.pongs;
            at += 2;
        }
    }
    Buffer_.erase(0, at);
    return !Buffer_.empty() && Buffer_.compare(0, 1, "\r") != 0;
}

bool TSipStreamFramer::TakeOne(TFramedInput& out) {
    if (!SkipKeepAlives(out)) {
        if (Buffer_.size() > 3) Break("stray bytes between messages");
        return false;
    }
    // A first line that starts no message is known as soon as it ends.
    const std::size_t firstLineEnd = Buffer_.find("\r\n");
    if (firstLineEnd != std::string::npos &&
        !IsStartLine(std::string_view(Buffer_).substr(0, firstLineEnd))) {
        Break("no SIP message starts here");
        return false;
    }
    const std::size_t headEnd = Buffer_.find("\r\n\r\n");
    if (headEnd == std::string::npos) {
        if (Buffer_.size() > MaxHead_) Break("message head too long");
        return false;
    }
    const std::size_t headSize = headEnd + 4;
    if (headSize > MaxHead_) {
        Break("message head too long");
        return false;
    }
    const std::string_view head(Buffer_.data(), headSize);
    const TBodyLength body = ContentLengthOf(head);
    // On a stream the length is the only boundary there is (RFC 3261 18.3).
    if (!body.present || !body.valid) {
        Break("Content-Length missing or not a number");
        return false;
    }
    if (body.length > MaxBody_) {
        Break("message body too long");
        return false;
    }
    if (Buffer_.size() < headSize + body.length) return false;
    out.messages.push_back(Buffer_.substr(0, headSize + body.length));
    Buffer_.erase(0, headSize + body.length);
    return true;
}
