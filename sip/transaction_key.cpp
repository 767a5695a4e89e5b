#include "sip/transaction_key.h"

#include "sip/message.h"
#include "sip/text.h"

namespace {

constexpr std::string_view kVersion = "SIP/2.0";

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if ((text[i] | 0x20) != (prefix[i] | 0x20)) return false;
    }
    return true;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// The value of `name`=... among the ';' parameters of a Via line.
std::string_view ViaParameter(std::string_view line, std::string_view name) {
    std::size_t at = 0;
    while ((at = line.find(';', at)) != std::string_view::npos) {
        ++at;
        std::string_view rest = Trim(line.substr(at));
        if (StartsWithNoCase(rest, name) && rest.size() > name.size() && rest[name.size()] == '=') {
            rest.remove_prefix(name.size() + 1);
            return Trim(rest.substr(0, rest.find_first_of(";, ")));
        }
    }
    return {};
}

// Without a branch (an old peer) the transaction is told by Call-ID and CSeq
// number, which a retransmission repeats as well.
void FillBranchFallback(TWireFacts& facts) {
    if (facts.branch.empty()) facts.branch = facts.callId + '/' + facts.cseq;
}

}  // namespace

TWireFacts WireFactsOfText(std::string_view text) {
    TWireFacts facts;
    std::size_t lineStart = 0;
    bool first = true;
    bool viaSeen = false;
    while (lineStart < text.size()) {
        std::size_t lineEnd = text.find("\r\n", lineStart);
        if (lineEnd == std::string_view::npos) lineEnd = text.size();
        const std::string_view line = text.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 2;
        if (line.empty()) break;  // the end of the headers
        if (first) {
            first = false;
            if (line.starts_with("SIP/2.0 ")) {
                facts.status = sip_text::NumberOr(std::string(line.substr(8, 3)), 0);
                if (facts.status < 100) return {};
            } else {
                const std::size_t blank = line.find(' ');
                if (blank == std::string_view::npos || !line.ends_with(kVersion)) return {};
                facts.request = true;
            }
            continue;
        }
        if (!viaSeen && (StartsWithNoCase(line, "Via:") || StartsWithNoCase(line, "v:"))) {
            viaSeen = true;
            facts.branch = ViaParameter(line, "branch");
        } else if (StartsWithNoCase(line, "Call-ID:")) {
            facts.callId = Trim(line.substr(8));
        } else if (StartsWithNoCase(line, "CSeq:")) {
            const std::string_view value = Trim(line.substr(5));
            const std::size_t blank = value.find(' ');
            if (blank != std::string_view::npos) {
                facts.cseq = value.substr(0, blank);
                facts.method = Trim(value.substr(blank + 1));
            }
        }
    }
    if (facts.method.empty()) return {};
    FillBranchFallback(facts);
    return facts;
}

TWireFacts WireFactsOf(const TSipMessage& message) {
    TWireFacts facts;
    // A NOTIFY's sipfrag body reads as a status line too: a request is told
    // by its URI.
    facts.request = !message.RequestUri.empty();
    if (!facts.request) facts.status = sip_text::NumberOr(message.StatusCode, 0);
    if (!facts.request && facts.status < 100) return {};
    facts.method = message.CSeqMethod;
    facts.branch = message.ViaBranch();
    facts.callId = message.CallId;
    facts.cseq = message.CSeqNumber;
    if (facts.method.empty()) return {};
    FillBranchFallback(facts);
    return facts;
}
