#include "sip/auth.h"

#include <openssl/evp.h>

#include <array>
#include <cstring>
#include <initializer_list>
#include <stdexcept>

#include "sip/header_values.h"
#include "sip/text.h"
#include "sip/transport.h"

namespace {

std::string HexLower(const unsigned char* bytes, unsigned int length) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text(length * 2, '0');
    for (unsigned int i = 0; i < length; ++i) {
        text[2 * i] = kDigits[bytes[i] >> 4];
        text[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
    return text;
}

std::string Quoted(std::string_view text) {
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted.append("\"").append(text).append("\"");
    return quoted;
}

std::string JoinWithColons(std::initializer_list<std::string_view> parts) {
    std::string joined;
    bool first = true;
    for (const std::string_view part : parts) {
        if (!first) joined.append(":");
        joined.append(part);
        first = false;
    }
    return joined;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && sip_text::StartsWithNoCase(a, b);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The closing quote of a quoted string whose text begins at `at`, or end.
// Nonces run to dozens of characters, so the quote is searched for with
// memchr and the text before it looked at again only for a backslash.
const char* ClosingQuote(const char* at, const char* const end) {
    while (at < end) {
        const void* found = std::memchr(at, '"', static_cast<std::size_t>(end - at));
        const char* const quote = found ? static_cast<const char*>(found) : end;
        const void* escape = std::memchr(at, '\\', static_cast<std::size_t>(quote - at));
        if (escape == nullptr) return quote;
        // An escaped character is skipped, whatever it is.
        const char* const backslash = static_cast<const char*>(escape);
        at = end - backslash >= 2 ? backslash + 2 : end;
    }
    return end;
}

// Walks "Scheme name=value, name="quoted", Scheme2 ..." one piece at a time:
// a scheme (a token not followed by "=") or a parameter. Names and values
// are views of the text; a quoted value keeps its backslashes until it is
// taken (Unquoted), so a value nobody wants is never copied.
class TChallengeReader {
public:
    explicit TChallengeReader(std::string_view text) : Text_(text) {}

    // False at the end. Otherwise `name` is set and `isParameter` tells
    // whether it came with a value; `quoted` whether that value was quoted.
    bool Next(std::string_view& name, std::string_view& value, bool& isParameter, bool& quoted) {
        const char* const end = Text_.data() + Text_.size();
        const char* at = Text_.data() + Pos_;
        while (at < end && (IsBlank(*at) || *at == ',')) ++at;
        if (at >= end) return false;
        const char* const start = at;
        while (at < end && !IsBlank(*at) && *at != ',' && *at != '=') ++at;
        name = std::string_view(start, static_cast<std::size_t>(at - start));
        while (at < end && IsBlank(*at)) ++at;
        isParameter = at < end && *at == '=';
        quoted = false;
        value = {};
        if (isParameter) {
            ++at;
            while (at < end && IsBlank(*at)) ++at;
            if (at < end && *at == '"') {
                quoted = true;
                const char* const valueStart = ++at;
                at = ClosingQuote(at, end);
                value = std::string_view(valueStart, static_cast<std::size_t>(at - valueStart));
                if (at < end) ++at;
            } else {
                const char* const valueStart = at;
                while (at < end && !IsBlank(*at) && *at != ',') ++at;
                value = std::string_view(valueStart, static_cast<std::size_t>(at - valueStart));
            }
        }
        Pos_ = static_cast<std::size_t>(at - Text_.data());
        return true;
    }

private:
    std::string_view Text_;
    std::size_t Pos_ = 0;
};

// A value as the reader gave it, a quoted one without its escapes (an
// unterminated one runs to the end of the text).
std::string Unquoted(std::string_view value, bool quoted) {
    if (!quoted || value.find('\\') == std::string_view::npos) return std::string(value);
    std::string text;
    text.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) ++i;
        text.push_back(value[i]);
    }
    return text;
}

// A parameter's value as the reader found it; unquoted only when taken.
struct TRawValue {
    std::string_view text;
    bool quoted = false;

    std::string Take() const { return Unquoted(text, quoted); }
    // True when the value, unquoted, is `word` in any case.
    bool Is(std::string_view word) const {
        if (!quoted || text.find('\\') == std::string_view::npos) return EqualNoCase(text, word);
        return EqualNoCase(Take(), word);
    }
};

// The parameters of one challenge, kept as views until it qualifies: a
// challenge of another scheme or algorithm costs no copies.
struct TChallengeDraft {
    bool digest = false;
    bool stale = false;
    TRawValue algorithm;
    TRawValue qopOptions;
    TRawValue realm;
    TRawValue nonce;
    TRawValue opaque;

    bool Acceptable() const { return digest && (algorithm.text.empty() || algorithm.Is("MD5")); }
};

void SetParameter(TChallengeDraft& draft, std::string_view name, std::string_view value,
                  bool quoted) {
    const TRawValue raw{value, quoted};
    if (EqualNoCase(name, "realm")) draft.realm = raw;
    else if (EqualNoCase(name, "nonce")) draft.nonce = raw;
    else if (EqualNoCase(name, "opaque")) draft.opaque = raw;
    else if (EqualNoCase(name, "qop")) draft.qopOptions = raw;
    else if (EqualNoCase(name, "algorithm")) draft.algorithm = raw;
    else if (EqualNoCase(name, "stale")) draft.stale = raw.Is("true");
}

TParsedChallenge Finished(const TChallengeDraft& draft) {
    TParsedChallenge fields;
    fields.realm = draft.realm.Take();
    fields.nonce = draft.nonce.Take();
    fields.opaque = draft.opaque.Take();
    fields.qop = ChooseQop(draft.qopOptions.Take());
    fields.stale = draft.stale;
    return fields;
}

}  // namespace

std::string Md5Hex(std::string_view text) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest.data(), &length, EVP_md5(), nullptr) != 1) {
        throw std::runtime_error("MD5 digest failed");
    }
    return HexLower(digest.data(), length);
}

void PrepareDigest() { Md5Hex({}); }

std::string NonceCountText(uint32_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i, count >>= 4) text[static_cast<std::size_t>(i)] = kDigits[count & 0x0F];
    return text;
}

std::string DigestResponseForUri(std::string_view method, std::string_view digestUri,
                                 std::string_view userName, std::string_view realm,
                                 std::string_view password, std::string_view qop,
                                 std::string_view nonce, std::string_view cnonce,
                                 std::string_view body, uint32_t nonceCount) {
    const std::string ha1 = Md5Hex(JoinWithColons({userName, realm, password}));
    std::string a2 = JoinWithColons({method, digestUri});
    if (qop == "auth-int") a2.append(":").append(Md5Hex(body));
    const std::string ha2 = Md5Hex(a2);
    if (qop.empty()) return Md5Hex(JoinWithColons({ha1, nonce, ha2}));
    return Md5Hex(JoinWithColons({ha1, nonce, NonceCountText(nonceCount), cnonce, qop, ha2}));
}

std::string DigestResponse(std::string_view method, std::string_view uriUser,
                           std::string_view uriHost, std::string_view userName,
                           std::string_view realm, std::string_view password,
                           std::string_view qop, std::string_view nonce,
                           std::string_view cnonce, std::string_view body,
                           uint32_t nonceCount) {
    std::string uri = "sip:";
    if (!uriUser.empty()) uri.append(uriUser).append("@");
    uri.append(uriHost);
    return DigestResponseForUri(method, uri, userName, realm, password, qop, nonce, cnonce, body,
                                nonceCount);
}

std::string NewCnonce() { return Md5Hex(NewHexId()); }

std::string ChooseQop(std::string_view options) {
    bool auth = false;
    bool authInt = false;
    while (!options.empty()) {
        const std::size_t comma = options.find(',');
        const std::string_view option = sip_text::Trim(options.substr(0, comma));
        auth = auth || option == "auth";
        authInt = authInt || option == "auth-int";
        if (comma == std::string_view::npos) break;
        options.remove_prefix(comma + 1);
    }
    if (authInt) return "auth-int";
    return auth ? "auth" : std::string();
}

std::optional<TParsedChallenge> ParseDigestChallenge(std::string_view value) {
    TChallengeReader reader(value);
    std::optional<TChallengeDraft> draft;
    std::string_view name;
    std::string_view parameter;
    bool isParameter = false;
    bool quoted = false;
    while (reader.Next(name, parameter, isParameter, quoted)) {
        if (isParameter) {
            if (draft) SetParameter(*draft, name, parameter, quoted);
            continue;
        }
        if (draft && draft->Acceptable()) return Finished(*draft);
        draft.emplace();
        draft->digest = EqualNoCase(name, "Digest");
    }
    if (draft && draft->Acceptable()) return Finished(*draft);
    return std::nullopt;
}

std::string DigestHeaderName(TDigestRequest request, std::string_view status) {
    const bool registration =
        request == TDigestRequest::Register || request == TDigestRequest::Unregister;
    if (status == "401" || (!registration && status == "403")) return "Authorization";
    return "Proxy-Authorization";
}

std::string DigestHeaderLine(TDigestRequest request, const TDigestChallenge& challenge,
                             TDigestUse& use, const TDigestCredentials& credentials,
                             const TDigestTarget& target) {
    const bool withQop = !challenge.qop.empty();
    if (withQop) {
        if (use.nonce != challenge.nonce || use.cnonce.empty()) {
            use = TDigestUse{challenge.nonce, NewCnonce(), 0};
        }
        ++use.count;
    }

    std::string line = DigestHeaderName(request, challenge.status);
    line.append(": Digest username=").append(sip_header::QuotedString(credentials.userName));
    line.append(",realm=").append(Quoted(challenge.realm));
    line.append(",nonce=").append(Quoted(challenge.nonce));
    line.append(",uri=").append(Quoted(target.uri));
    line.append(",response=")
        .append(Quoted(DigestResponseForUri(target.method, target.uri, credentials.userName,
                                            challenge.realm, credentials.password, challenge.qop,
                                            challenge.nonce, use.cnonce, target.body, use.count)));
    // RFC 2617 writes qop and nc as bare tokens in the credentials.
    if (withQop) {
        line.append(",qop=").append(challenge.qop);
        line.append(",cnonce=").append(Quoted(use.cnonce));
        line.append(",nc=").append(NonceCountText(use.count));
    }
    if (!challenge.opaque.empty()) line.append(",opaque=").append(Quoted(challenge.opaque));
    line.append(",algorithm=MD5\r\n");
    return line;
}
