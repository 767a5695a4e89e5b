#include "sip/message.h"

#include <algorithm>
#include <charconv>
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

// Splits like a string list reading text: CR LF, a lone CR and a lone LF each
// end a line, a NUL ends the text, and a final terminator adds no empty line.
template <typename Visit>
void ForEachLine(std::string_view text, Visit&& visit) {
    const std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    const char* start = begin;
    while (start < end) {
        // Lines nearly always end in LF; a lone CR is looked for only within
        // the stretch before it.
        const void* lf = std::memchr(start, '\n', static_cast<std::size_t>(end - start));
        const char* stop = lf ? static_cast<const char*>(lf) : end;
        const void* cr = std::memchr(start, '\r', static_cast<std::size_t>(stop - start));
        if (cr) stop = static_cast<const char*>(cr);
        visit(std::string_view(start, static_cast<std::size_t>(stop - start)));
        if (stop < end && *stop == '\r') ++stop;
        if (stop < end && *stop == '\n') ++stop;
        start = stop;
    }
}

// Header values are short: a plain scan costs less than a library search,
// whose set-up outweighs the scan (and find_first_of searches the set once
// per character).
std::size_t FindAny(std::string_view text, std::string_view set) {
    for (std::size_t i = 0; i < text.size(); ++i)
        for (const char c : set)
            if (text[i] == c) return i;
    return std::string_view::npos;
}

std::size_t FindChar(std::string_view text, char c) {
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == c) return i;
    return std::string_view::npos;
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
    void RecordRouteLine(std::string_view line);
    void ConnectionLine(std::string_view line);
    void AudioLine(std::string_view line);
    void RtpMapLine(std::string_view value);
    void ChallengeLine(std::string_view line);
    bool ContentLine(std::string_view line);

    TSipMessage& M;
    bool InBody = false;  // past the blank line: SDP and other body lines only
    std::vector<std::string_view> PayloadTokens;
    std::string_view EventToken = "101";  // telephone-event's number, never a codec
    bool ChallengeKept = false;
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

void TMessageParser::Line(std::string_view line) {
    if (line.empty()) {
        InBody = true;
        return;
    }
    if (!InBody && ContentLine(line)) return;
    switch (line[0] | 0x20) {
    case 's':
        if (StartsWithNoCase(line, "SIP/2.0")) return StatusLine(line);
        if (StartsWithNoCase(line, "Signal=")) M.DtmfSignal = Trim(Mid(line, 8));
        return;
    case 'c':
        if (StartsWithNoCase(line, "Call-ID:")) M.CallId = Trim(Mid(line, 9, kMaxCallId));
        else if (StartsWithNoCase(line, "CSeq:")) CSeqLine(line);
        else if (StartsWithNoCase(line, "Contact:")) ContactLine(Mid(line, 9, kMaxContact));
        else if (line.starts_with("c=")) ConnectionLine(line);
        return;
    case 'i':
        if (StartsWithNoCase(line, "i:")) M.CallId = Trim(Mid(line, 3, kMaxCallId));
        return;
    case 'f':
        if (StartsWithNoCase(line, "From:") || StartsWithNoCase(line, "f:"))
            PartyLine(line, M.FromHeader, M.FromTag, M.FromUser);
        return;
    case 't':
        if (StartsWithNoCase(line, "To:") || StartsWithNoCase(line, "t:"))
            PartyLine(line, M.ToHeader, M.ToTag, M.ToUser);
        return;
    case 'v':
        if (StartsWithNoCase(line, "Via:") || StartsWithNoCase(line, "v:")) ViaLine(line);
        return;
    case 'm':
        if (StartsWithNoCase(line, "m:")) ContactLine(Mid(line, 3, kMaxContact));
        else if (line.starts_with("m=audio")) AudioLine(line);
        return;
    case 'a':
        if (InBody && line.starts_with("a=rtpmap:")) RtpMapLine(line.substr(9));
        return;
    case 'r':
        if (StartsWithNoCase(line, "Record-Route:")) RecordRouteLine(line);
        return;
    case 'w':
        if (StartsWithNoCase(line, "WWW-Authenticate:")) ChallengeLine(line);
        return;
    case 'p':
        if (StartsWithNoCase(line, "Proxy-Authenticate:")) ChallengeLine(line);
        return;
    default:
        return;
    }
}

// Content-Length and Content-Type (and their compact forms), which only
// the headers hold: a body line "l: 5" is nobody's length.
bool TMessageParser::ContentLine(std::string_view line) {
    const char first = static_cast<char>(line[0] | 0x20);
    if (first != 'c' && first != 'l') return false;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string_view name = Trim(line.substr(0, colon));
    const std::string_view value = Trim(line.substr(colon + 1));
    const auto is = [&](std::string_view full, std::string_view compact) {
        return (name.size() == full.size() && StartsWithNoCase(name, full)) ||
               (name.size() == compact.size() && StartsWithNoCase(name, compact));
    };
    if (is("Content-Length", "l")) {
        M.ContentLength = value;
        return true;
    }
    if (is("Content-Type", "c")) {
        M.ContentType = value;
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
            return value.substr(0, std::min(FindAny(value, " \t,"), kMaxTag));
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

TPartyAddress CutParty(std::string_view line) {
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
    const std::string_view afterAt = rest.substr(at + 1);
    party.hostPort = afterAt.substr(0, std::min(afterAt.size(), FindAny(afterAt, " >")));
    party.host = afterAt.substr(0, std::min(afterAt.size(), FindAny(afterAt, " :;>")));
    return party;
}

// The tag is read from the parameters only, so neither a display name nor a
// URI can pass for it. The other address parts are cut when asked for.
void TMessageParser::PartyLine(std::string_view line, std::string& header, std::string& tag,
                               std::string& user) {
    header = line;
    const TPartyAddress party = CutParty(line);
    tag = TagParameter(party.params);
    if (party.hasAddress) user = party.user;
}

void TMessageParser::ViaLine(std::string_view line) {
    // The first "rport=" of all the Via lines so far decides the value, so
    // only a line before any such mark can change it.
    const bool rportSeen = M.ViaHeaders.find("rport=") != std::string::npos;
    M.ViaHeaders.reserve(M.ViaHeaders.size() + line.size() + 2);
    M.ViaHeaders.append(line).append("\r\n");
    if (!rportSeen) {
        const std::size_t rport = M.ViaHeaders.find("rport=");
        if (rport != std::string::npos) {
            std::size_t end = rport + 6;
            while (end < M.ViaHeaders.size() && M.ViaHeaders[end] >= '0' && M.ViaHeaders[end] <= '9') ++end;
            M.ViaRport = M.ViaHeaders.substr(rport + 6, end - rport - 6);
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

void TMessageParser::RecordRouteLine(std::string_view line) {
    M.RecordRoutes.reserve(M.RecordRoutes.size() + 2);
    std::string_view value = Trim(Mid(line, 14, kMaxRecordRoute));
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
void TMessageParser::ChallengeLine(std::string_view line) {
    if (ChallengeKept) return;
    std::optional<TParsedChallenge> challenge = ParseDigestChallenge(After(line, ':'));
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

std::string TSipMessage::RecordRouteAt(int index) const {
    if (index < 0 || index >= RecordRouteCount()) return std::string();
    return RecordRoutes[static_cast<std::size_t>(index)];
}

std::string_view TSipMessage::ViaBranch() const {
    const std::string_view first = std::string_view(ViaHeaders).substr(0, ViaHeaders.find("\r\n"));
    const std::size_t branch = first.find(";branch=");
    if (branch == std::string_view::npos) return {};
    const std::string_view value = first.substr(branch + 8, kMaxBranch);
    return value.substr(0, std::min(value.size(), FindAny(value, ";, \r")));
}

std::string_view TSipMessage::FromUri() const { return CutParty(FromHeader).uri; }
std::string_view TSipMessage::FromHostPort() const { return CutParty(FromHeader).hostPort; }
std::string_view TSipMessage::FromHost() const { return CutParty(FromHeader).host; }
std::string_view TSipMessage::ToUri() const { return CutParty(ToHeader).uri; }
std::string_view TSipMessage::ToHostPort() const { return CutParty(ToHeader).hostPort; }
std::string_view TSipMessage::ToHost() const { return CutParty(ToHeader).host; }
