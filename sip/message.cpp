#include "sip/message.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <optional>

#include "sip/auth.h"
#include "sip/text.h"

namespace {

using sip_text::After;
using sip_text::Before;
using sip_text::Mid;
using sip_text::StartsWithNoCase;
using sip_text::Trim;

constexpr std::size_t kMaxBody = 100000;
constexpr std::size_t kMaxCallId = 100;
constexpr std::size_t kMaxTag = 100;
constexpr std::size_t kMaxUriRest = 1000;
constexpr std::size_t kMaxContact = 1000;
constexpr std::size_t kMaxRecordRoute = 1000;
constexpr std::size_t kMaxCSeq = 100;
constexpr std::size_t kMaxBranch = 100;
constexpr std::size_t kMaxContactPort = 15;
constexpr std::size_t kMaxSdpAddress = 20;
constexpr std::size_t kMaxAudioPortDigits = 10;

// Eight bytes at a time: a mask with the high bit set in the lowest byte
// below 14 (NUL, LF and CR among them) and possibly in bytes above it, which
// are never looked at. Bytes of 0x80 and up are never marked.
inline std::uint64_t LowBytes(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
    return (word - kOnes * 14) & ~word & kHighs;
}

bool IsLineStop(char c) { return c == '\n' || c == '\r' || c == '\0'; }

// The first NUL, CR or LF in [at, end), or end. One pass over the bytes: the
// word test only finds the first candidate in a word (a tab is one too), from
// which the word's rest is checked byte by byte.
const char* FindLineStop(const char* at, const char* const end) {
    if constexpr (std::endian::native == std::endian::little) {
        for (; end - at >= 8; at += 8) {
            std::uint64_t word;
            std::memcpy(&word, at, sizeof word);
            const std::uint64_t mask = LowBytes(word);
            if (mask == 0) continue;
            for (const char* p = at + std::countr_zero(mask) / 8; p < at + 8; ++p)
                if (IsLineStop(*p)) return p;
        }
    }
    for (; at < end; ++at)
        if (IsLineStop(*at)) return at;
    return end;
}

// Splits like a string list reading text: CR LF, a lone CR and a lone LF each
// end a line, a NUL ends the text, and a final terminator adds no empty line.
// Each byte is looked at once.
template <typename Visit>
void ForEachLine(std::string_view text, Visit&& visit) {
    const char* const end = text.data() + text.size();
    const char* start = text.data();
    while (start < end) {
        const char* stop = FindLineStop(start, end);
        if (stop < end && *stop == '\0') {
            if (stop > start) visit(std::string_view(start, static_cast<std::size_t>(stop - start)));
            return;
        }
        visit(std::string_view(start, static_cast<std::size_t>(stop - start)));
        if (stop < end && *stop == '\r') ++stop;
        if (stop < end && *stop == '\n') ++stop;
        start = stop;
    }
}

// A plain scan for a set of characters: header values are short, and
// find_first_of searches the set once per character.
template <char... Set>
std::size_t FindAny(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i)
        if (((text[i] == Set) || ...)) return i;
    return std::string_view::npos;
}

std::size_t FindChar(std::string_view text, char c) {
    if (text.empty()) return std::string_view::npos;  // an empty view may hold no pointer
    const void* at = std::memchr(text.data(), c, text.size());
    return at ? static_cast<std::size_t>(static_cast<const char*>(at) - text.data()) : std::string_view::npos;
}

std::string_view BeforeChar(std::string_view text, char c) {
    const std::size_t at = FindChar(text, c);
    return at == std::string_view::npos ? text : text.substr(0, at);
}

std::string_view AfterChar(std::string_view text, char c) {
    const std::size_t at = FindChar(text, c);
    return at == std::string_view::npos ? text : text.substr(at + 1);
}

bool IsDecimalInteger(std::string_view token, int& value) {
    if (!token.empty() && token.front() == '+') token.remove_prefix(1);
    if (token.empty()) return false;
    const char* first = token.data();
    const char* last = token.data() + token.size();
    const auto result = std::from_chars(first, last, value);
    return result.ec == std::errc() && result.ptr == last;
}

// Collects the fields while the lines are walked; the payload tokens wait
// here until every line has been seen.
class TMessageParser {
public:
    explicit TMessageParser(TSipMessage& message) : M(message) {}

    void StartLine(std::string_view line);
    void Line(std::string_view line);
    void Finish();

private:
    void StatusLine(std::string_view line);
    void CSeqLine(std::string_view line);
    void PartyLine(std::string_view line, std::string& header, std::string& tag,
                   std::string& user);
    void ViaLine(std::string_view line);
    void ContactLine(std::string_view value);
    void RecordRouteLine(std::string_view value);
    void ConnectionLine(std::string_view line);
    void AudioLine(std::string_view line);
    void RtpMapLine(std::string_view value);
    void ChallengeLine(std::string_view value);
    bool ContentLine(std::string_view name, std::string_view value);

    TSipMessage& M;
    bool InBody = false;  // past the blank line: SDP and other body lines only
    std::vector<std::string_view> PayloadTokens;
    std::string_view EventToken = "101";  // telephone-event's number, never a codec
    bool ChallengeKept = false;
    bool RportSeen = false;
};

void TMessageParser::StartLine(std::string_view line) {
    const std::size_t blank = line.find(' ');
    if (blank != std::string_view::npos) {
        const std::string_view rest = Trim(line.substr(blank));
        const std::size_t version = rest.find("SIP/2.0");
        if (version != std::string_view::npos) {
            M.RequestUri = Trim(rest.substr(0, version));
            if (!M.RequestUri.empty()) M.RequestMethod = line.substr(0, blank);
        }
    }
    std::string_view userFrom;
    if (line.starts_with("INVITE ")) {
        userFrom = Mid(line, 12);
    } else if (line.starts_with("MESSAGE ")) {
        userFrom = Mid(line, 13);
    } else {
        return;
    }
    const std::string_view trimmed = Trim(userFrom);
    const std::size_t at = trimmed.find('@');
    if (at != std::string_view::npos) M.RequestUser = Trim(trimmed.substr(0, at));
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && StartsWithNoCase(a, b);
}

// The line is cut once at its first colon and the header is told by its
// name's length and letters; the SDP lines ("c=", "m=", "a=") are told by
// their first two characters, as written.
void TMessageParser::Line(std::string_view line) {
    if (line.empty()) {
        InBody = true;
        return;
    }
    const char first = static_cast<char>(line[0] | 0x20);
    if (first == 's') {
        if (StartsWithNoCase(line, "SIP/2.0")) return StatusLine(line);
        if (StartsWithNoCase(line, "Signal=")) M.DtmfSignal = Trim(Mid(line, 8));
        return;
    }
    if (line.size() >= 2 && line[1] == '=') {
        if (line[0] == 'c') ConnectionLine(line);
        else if (line[0] == 'm' && line.starts_with("m=audio")) AudioLine(line);
        else if (line[0] == 'a' && InBody && line.starts_with("a=rtpmap:")) RtpMapLine(line.substr(9));
        return;
    }
    const void* colonAt = std::memchr(line.data(), ':', line.size());
    if (colonAt == nullptr) return;
    const std::size_t colon = static_cast<std::size_t>(static_cast<const char*>(colonAt) - line.data());
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = line.substr(colon + 1);
    if (!InBody && (first == 'c' || first == 'l') && ContentLine(Trim(name), value)) return;
    switch (first) {
    case 'c':
        if (EqualNoCase(name, "Call-ID")) M.CallId = Trim(value.substr(0, kMaxCallId));
        else if (EqualNoCase(name, "CSeq")) CSeqLine(line);
        else if (EqualNoCase(name, "Contact")) ContactLine(value.substr(0, kMaxContact));
        return;
    case 'i':
        if (name.size() == 1) M.CallId = Trim(value.substr(0, kMaxCallId));
        return;
    case 'f':
        if (name.size() == 1 || EqualNoCase(name, "From"))
            PartyLine(line, M.FromHeader, M.FromTag, M.FromUser);
        return;
    case 't':
        if (name.size() == 1 || EqualNoCase(name, "To")) PartyLine(line, M.ToHeader, M.ToTag, M.ToUser);
        return;
    case 'v':
        if (name.size() == 1 || EqualNoCase(name, "Via")) ViaLine(line);
        return;
    case 'm':
        if (name.size() == 1) ContactLine(value.substr(0, kMaxContact));
        return;
    case 'r':
        if (EqualNoCase(name, "Record-Route")) RecordRouteLine(value);
        return;
    case 'w':
        if (EqualNoCase(name, "WWW-Authenticate")) ChallengeLine(value);
        return;
    case 'p':
        if (EqualNoCase(name, "Proxy-Authenticate")) ChallengeLine(value);
        return;
    default:
        return;
    }
}

// Content-Length and Content-Type (and their compact forms), which only
// the headers hold: a body line "l: 5" is nobody's length. Blanks before
// the colon are allowed here.
bool TMessageParser::ContentLine(std::string_view name, std::string_view value) {
    if (name.size() == 1 || EqualNoCase(name, "Content-Length") || EqualNoCase(name, "Content-Type")) {
        const bool length = name.size() == 1 ? (name[0] | 0x20) == 'l' : name.size() == 14;
        if (length) M.ContentLength = Trim(value);
        else M.ContentType = Trim(value);
        return true;
    }
    return false;
}

void TMessageParser::StatusLine(std::string_view line) {
    M.StatusCode.append(Mid(line, 9, 3));
}

void TMessageParser::CSeqLine(std::string_view line) {
    const std::size_t lastBlank = line.rfind(' ');
    M.CSeqMethod = lastBlank == std::string_view::npos ? line : line.substr(lastBlank + 1);

    std::string_view number = Mid(line, 6, kMaxCSeq);
    while (!number.empty() && number.front() == ' ') number.remove_prefix(1);
    const std::size_t blank = number.find(' ');
    M.CSeqNumber = blank == std::string_view::npos ? std::string_view() : Trim(number.substr(0, blank));
}

// The part of a From or To value after its display name: a quoted display
// name may hold "<", ">", "sip:" or ";tag=" of its own, none of which count.
std::string_view AfterDisplayName(std::string_view value) {
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    if (value.empty() || value.front() != '"') return value;
    for (std::size_t i = 1; i < value.size(); ++i) {
        if (value[i] == '\\') ++i;
        else if (value[i] == '"') return value.substr(i + 1);
    }
    return {};  // never closed: no address in it
}

// The value of the "tag" parameter among `params` (";name=value" pairs),
// cut at the next parameter, blank or comma.
std::string_view TagParameter(std::string_view params) {
    while (!params.empty()) {
        const std::size_t semicolon = FindChar(params, ';');
        if (semicolon == std::string_view::npos) return {};
        params = params.substr(semicolon + 1);
        const std::string_view param = Trim(BeforeChar(params, ';'));
        if (StartsWithNoCase(param, "tag=")) {
            const std::string_view value = param.substr(4);
            return value.substr(0, std::min(FindAny<' ', '\t', ','>(value), kMaxTag));
        }
    }
    return {};
}

// The parts of a From or To line: [display name] <uri>;parameters, or
// uri;parameters without the brackets.
struct TPartyAddress {
    std::string_view uri;     // empty when a bracket is never closed
    std::string_view params;  // the header's own parameters, the tag among them
    bool hasAddress = false;  // a "sip:" URI with a user part: the three below
    std::string_view user;
    std::string_view hostPort;
    std::string_view host;
};

// Without `hostParts` the host and host:port are left empty: the parse
// itself wants only the tag and the user.
TPartyAddress CutParty(std::string_view line, bool hostParts = true) {
    TPartyAddress party;
    const std::string_view address = AfterDisplayName(AfterChar(line, ':'));
    std::string_view uriText;
    const std::size_t open = FindChar(address, '<');
    if (open != std::string_view::npos) {
        const std::string_view inside = address.substr(open + 1);
        const std::size_t close = FindChar(inside, '>');
        if (close != std::string_view::npos) party.uri = inside.substr(0, close);
        uriText = inside.substr(0, close);
        if (close != std::string_view::npos) party.params = inside.substr(close + 1);
    } else {
        // Without brackets every ";" begins a header parameter (the tag
        // among them), never a URI parameter.
        const std::size_t semicolon = FindChar(address, ';');
        uriText = Trim(address.substr(0, semicolon));
        party.uri = uriText;
        if (semicolon != std::string_view::npos) party.params = address.substr(semicolon);
    }

    const std::size_t sip = uriText.find("sip:");
    if (sip == std::string_view::npos) return party;
    const std::string_view rest = uriText.substr(sip + 4, kMaxUriRest);
    const std::size_t at = FindChar(rest, '@');
    if (at == std::string_view::npos) return party;
    party.hasAddress = true;
    party.user = rest.substr(0, at);
    if (!hostParts) return party;
    const std::string_view afterAt = rest.substr(at + 1);
    party.hostPort = afterAt.substr(0, std::min(afterAt.size(), FindAny<' ', '>'>(afterAt)));
    party.host = afterAt.substr(0, std::min(afterAt.size(), FindAny<' ', ':', ';', '>'>(afterAt)));
    return party;
}

// The tag is read from the parameters only, so neither a display name nor a
// URI can pass for it. The other address parts are cut when asked for.
void TMessageParser::PartyLine(std::string_view line, std::string& header, std::string& tag,
                               std::string& user) {
    header = line;
    const TPartyAddress party = CutParty(line, false);
    tag = TagParameter(party.params);
    if (party.hasAddress) user = party.user;
}

void TMessageParser::ViaLine(std::string_view line) {
    M.ViaHeaders.reserve(M.ViaHeaders.size() + line.size() + 2);
    M.ViaHeaders.append(line).append("\r\n");
    // The first "rport=" of all the Via lines decides the value.
    if (!RportSeen) {
        const std::size_t rport = line.find("rport=");
        if (rport != std::string_view::npos) {
            RportSeen = true;
            std::size_t end = rport + 6;
            while (end < line.size() && line[end] >= '0' && line[end] <= '9') ++end;
            M.ViaRport = line.substr(rport + 6, end - rport - 6);
        }
    }

    if (!M.ViaHost.empty()) return;
    const std::size_t udp = line.find("/UDP");
    if (udp == std::string_view::npos) {
        M.ViaHost = line;
        return;
    }
    std::string_view sentBy = Trim(Mid(line, udp + 1 + 5));
    sentBy = BeforeChar(sentBy, ';');
    M.ViaHost = sentBy;
    M.ViaPort = "5060";
    const std::size_t colon = FindChar(sentBy, ':');
    if (colon != std::string_view::npos) {
        M.ViaPort = sentBy.substr(colon + 1);
        M.ViaHost = sentBy.substr(0, colon);
    }
}

// The remote target is the Contact URI as given, its parameters included
// (gr, transport, ob, alias); only parameters outside the brackets (expires,
// q), or after the URI of a value written without brackets, are the
// header's own. URI headers ("?...") may not appear in a Request-URI.
void TMessageParser::ContactLine(std::string_view value) {
    std::string_view contact = Trim(AfterDisplayName(value));
    if (contact.find('<') != std::string_view::npos) {
        contact = Trim(After(contact, '<'));
        contact = Trim(Before(contact, '>'));
    } else {
        contact = Trim(Before(Before(contact, ';'), ','));
    }
    contact = Before(contact, '?');
    M.Contact = contact;

    const std::size_t at = contact.find('@');
    if (at == std::string_view::npos) return;
    std::string_view host = Before(contact.substr(at + 1), ';');
    // A port left over from an earlier Contact line would pair the new host
    // with the wrong port.
    M.ContactPort.clear();
    const std::size_t colon = host.find(':');
    if (colon != std::string_view::npos) {
        M.ContactPort = host.substr(colon + 1, kMaxContactPort);
        host = host.substr(0, colon);
    }
    M.ContactHost = host;
}

void TMessageParser::RecordRouteLine(std::string_view value) {
    M.RecordRoutes.reserve(M.RecordRoutes.size() + 2);
    value = Trim(value.substr(0, kMaxRecordRoute));
    for (std::size_t comma = value.find(','); comma != std::string_view::npos;
         comma = value.find(',')) {
        M.RecordRoutes.emplace_back(Trim(value.substr(0, comma)));
        value = value.substr(comma + 1);
    }
    M.RecordRoutes.emplace_back(Trim(value));
}

void TMessageParser::ConnectionLine(std::string_view line) {
    const std::size_t ip4 = line.find("IP4");
    if (ip4 != std::string_view::npos) M.SdpAddress = Trim(Mid(line, ip4 + 1 + 4, kMaxSdpAddress));
}

void TMessageParser::AudioLine(std::string_view line) {
    const std::string_view rest = Trim(Mid(line, 8));
    std::size_t digits = 0;
    while (digits < rest.size() && digits < kMaxAudioPortDigits && rest[digits] >= '0' &&
           rest[digits] <= '9')
        ++digits;
    M.SdpAudioPort.append(rest.substr(0, digits));

    const std::size_t profile = line.find("RTP/AVP");
    if (profile == std::string_view::npos) return;
    std::string_view tokens = Trim(line.substr(profile + 7));
    while (!tokens.empty()) {
        const std::size_t blank = tokens.find(' ');
        const std::string_view token = tokens.substr(0, blank);
        if (!token.empty()) PayloadTokens.push_back(token);
        if (blank == std::string_view::npos) break;
        tokens = tokens.substr(blank + 1);
    }
}

// A peer may give telephone-event any dynamic number (96, 100, ...); that
// number is left out of the codecs the way 101 is.
void TMessageParser::RtpMapLine(std::string_view value) {
    const std::size_t blank = value.find(' ');
    int payloadType = 0;
    if (blank == std::string_view::npos || !IsDecimalInteger(value.substr(0, blank), payloadType) ||
        payloadType < 96 || payloadType > 127)
        return;
    if (StartsWithNoCase(Trim(value.substr(blank + 1)), "telephone-event/")) EventToken = value.substr(0, blank);
}

// A response may offer several challenges (another algorithm first, say);
// the first one the agent can answer is kept, the others are ignored.
void TMessageParser::ChallengeLine(std::string_view value) {
    if (ChallengeKept) return;
    std::optional<TParsedChallenge> challenge = ParseDigestChallenge(value);
    if (!challenge) return;
    ChallengeKept = true;
    // Moved, not copied: a nonce is long enough to cost an allocation each.
    M.Realm = std::move(challenge->realm);
    M.Nonce = std::move(challenge->nonce);
    M.Opaque = std::move(challenge->opaque);
    M.Qop = std::move(challenge->qop);
    M.Stale = challenge->stale;
}

void TMessageParser::Finish() {
    M.PayloadTypes.reserve(PayloadTokens.size());
    for (const std::string_view token : PayloadTokens) {
        int payload = 0;
        if (token != "101" && token != EventToken && IsDecimalInteger(token, payload))
            M.PayloadTypes.push_back(payload);
    }
    for (const std::string& route : M.RecordRoutes) {
        M.RecordRouteHeaders.append("Record-Route: ").append(route).append("\r\n");
    }
}

}  // namespace

TSipMessage::TSipMessage(std::string datagram) : RawText(std::move(datagram)) {
    const std::string_view text(RawText);
    TMessageParser parser(*this);

    int lineCount = 0;
    // Where the first empty line begins. The first CR LF CR LF always makes
    // one, so when the first one sits right after such a pair the body's
    // start is known without searching the text again.
    std::size_t firstEmpty = std::string_view::npos;
    ForEachLine(text, [&](std::string_view line) {
        if (lineCount++ == 0) parser.StartLine(line);
        if (line.empty() && firstEmpty == std::string_view::npos)
            firstEmpty = static_cast<std::size_t>(line.data() - text.data());
        parser.Line(line);
    });

    if (lineCount >= 2) {
        const bool afterPair = firstEmpty != std::string_view::npos && firstEmpty >= 2 &&
                               text.substr(firstEmpty - 2, 4) == "\r\n\r\n";
        const std::size_t blankLine = afterPair ? firstEmpty - 2 : text.find("\r\n\r\n");
        if (blankLine != std::string_view::npos) Body = text.substr(blankLine + 4, kMaxBody);
    }
    parser.Finish();
    HasRecordRoutes_ = !RecordRoutes.empty();
}

const TSdpAudio& TSipMessage::Sdp() const {
    if (!Sdp_) Sdp_ = ReadSdpAudio(Body);
    return *Sdp_;
}

std::string TSipMessage::RecordRouteAt(int index) const {
    if (index < 0 || index >= RecordRouteCount()) return std::string();
    return RecordRoutes[static_cast<std::size_t>(index)];
}

std::string_view TSipMessage::ViaBranch() const {
    const std::string_view first = std::string_view(ViaHeaders).substr(0, ViaHeaders.find("\r\n"));
    const std::size_t branch = first.find(";branch=");
    if (branch == std::string_view::npos) return {};
    const std::string_view value = first.substr(branch + 8, kMaxBranch);
    return value.substr(0, std::min(value.size(), FindAny<';', ',', ' ', '\r'>(value)));
}

std::string_view TSipMessage::FromUri() const { return CutParty(FromHeader).uri; }
std::string_view TSipMessage::FromHostPort() const { return CutParty(FromHeader).hostPort; }
std::string_view TSipMessage::FromHost() const { return CutParty(FromHeader).host; }
std::string_view TSipMessage::ToUri() const { return CutParty(ToHeader).uri; }
std::string_view TSipMessage::ToHostPort() const { return CutParty(ToHeader).hostPort; }
std::string_view TSipMessage::ToHost() const { return CutParty(ToHeader).host; }
