#include "sip/auth.h"

#include <openssl/evp.h>

#include <array>
#include <initializer_list>
#include <stdexcept>

#include "sip/header_values.h"
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

bool MakesCnonce(TDigestRequest request) {
    return request == TDigestRequest::Register || request == TDigestRequest::Invite ||
           request == TDigestRequest::Ack;
}

// The qop part of the line, which each request lays out its own way. The
// cnonce it shows is the one that enters the hash.
std::string QopPart(TDigestRequest request, const TDigestChallenge& challenge,
                    const std::string& cnonce, bool cnonceIsNew) {
    const std::string& qop = challenge.qop;
    const std::string& opaque = challenge.opaque;
    switch (request) {
    case TDigestRequest::Register:
        if (qop.empty()) return ",opaque=\"\"";
        if (cnonceIsNew) return ",cnonce=" + Quoted(cnonce) + ",nc=00000001,qop=" + qop;
        return ",qop=" + qop + ",cnonce=" + Quoted(opaque) + ",nc=00000001,opaque=" + Quoted(opaque);
    case TDigestRequest::Unregister:
        if (qop.empty()) return ",opaque=\"\"";
        break;
    case TDigestRequest::Invite:
    case TDigestRequest::Ack:
        if (qop.empty()) return std::string();
        if (cnonceIsNew) return ",cnonce=" + Quoted(cnonce) + ",nc=00000001,qop=" + Quoted(qop);
        break;
    case TDigestRequest::Message:
    case TDigestRequest::Cancel:
    case TDigestRequest::Refer:
        if (qop.empty()) return std::string();
        break;
    }
    return ",qop=" + Quoted(qop) + ",cnonce=" + Quoted(opaque) + ",nc=00000001,opaque=" +
           Quoted(opaque);
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

std::string DigestResponseForUri(std::string_view method, std::string_view digestUri,
                                 std::string_view userName, std::string_view realm,
                                 std::string_view password, std::string_view qop,
                                 std::string_view nonce, std::string_view cnonce,
                                 std::string_view body) {
    const std::string ha1 = Md5Hex(JoinWithColons({userName, realm, password}));
    std::string a2 = JoinWithColons({method, digestUri});
    if (qop == "auth-int") a2.append(":").append(Md5Hex(body));
    const std::string ha2 = Md5Hex(a2);
    if (qop.empty()) return Md5Hex(JoinWithColons({ha1, nonce, ha2}));
    return Md5Hex(JoinWithColons({ha1, nonce, "00000001", cnonce, qop, ha2}));
}

std::string DigestResponse(std::string_view method, std::string_view uriUser,
                           std::string_view uriHost, std::string_view userName,
                           std::string_view realm, std::string_view password,
                           std::string_view qop, std::string_view nonce,
                           std::string_view cnonce, std::string_view body) {
    std::string uri = "sip:";
    if (!uriUser.empty()) uri.append(uriUser).append("@");
    uri.append(uriHost);
    return DigestResponseForUri(method, uri, userName, realm, password, qop, nonce, cnonce, body);
}

std::string NewCnonce() { return Md5Hex(NewHexId()); }

std::string DigestHeaderName(TDigestRequest request, std::string_view status) {
    const bool registration =
        request == TDigestRequest::Register || request == TDigestRequest::Unregister;
    if (status == "401" || (!registration && status == "403")) return "Authorization";
    return "Proxy-Authorization";
}

std::string DigestHeaderLine(TDigestRequest request, TDigestChallenge& challenge,
                             const TDigestCredentials& credentials,
                             const TDigestTarget& target) {
    bool cnonceIsNew = false;
    if (MakesCnonce(request) && !challenge.qop.empty() && challenge.opaque.empty()) {
        challenge.opaque = NewCnonce();
        cnonceIsNew = true;
    }
    // Requests that make a cnonce store it in the opaque field; the others
    // send the stored opaque as their cnonce, empty or not.
    const std::string& cnonce = challenge.opaque;

    std::string line = DigestHeaderName(request, challenge.status);
    line.append(": Digest username=").append(sip_header::QuotedString(credentials.userName));
    line.append(",realm=").append(Quoted(challenge.realm));
    line.append(",nonce=").append(Quoted(challenge.nonce));
    line.append(",uri=").append(Quoted(target.uri));
    line.append(",response=")
        .append(Quoted(DigestResponseForUri(target.method, target.uri, credentials.userName,
                                            challenge.realm, credentials.password, challenge.qop,
                                            challenge.nonce, cnonce, target.body)));
    line.append(QopPart(request, challenge, cnonce, cnonceIsNew));
    line.append(",algorithm=MD5\r\n");
    return line;
}
