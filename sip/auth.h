// Digest access authentication (RFC 2617 with MD5) as the agent uses it:
// lower-case hexadecimal throughout, one client nonce per server nonce and a
// nonce count that grows with each request that reuses the nonce.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sip/sipints.h"

// MD5 of the bytes of `text`, as 32 lower-case hex digits.
std::string Md5Hex(std::string_view text);

// The digest library reads its configuration and loads its providers on
// first use (about 2.5 ms and 2 MB of library pages here); the engine does
// that when it switches on, so the first call's set-up does not wait for it.
void PrepareDigest();

std::string DigestResponse(std::string_view method, std::string_view uriUser,
                           std::string_view uriHost, std::string_view userName,
                           std::string_view realm, std::string_view password,
                           std::string_view qop, std::string_view nonce,
                           std::string_view cnonce, std::string_view body,
                           uint32_t nonceCount = 1);

// The same computation with the digest URI already formed.
std::string DigestResponseForUri(std::string_view method, std::string_view digestUri,
                                 std::string_view userName, std::string_view realm,
                                 std::string_view password, std::string_view qop,
                                 std::string_view nonce, std::string_view cnonce,
                                 std::string_view body, uint32_t nonceCount = 1);

// Md5Hex of a fresh NewHexId.
std::string NewCnonce();

// The parameters of one digest challenge as the agent keeps them.
struct TParsedChallenge {
    std::string realm;
    std::string nonce;
    std::string opaque;
    std::string qop;  // the one quality of protection chosen, or empty
    bool stale = false;  // the credentials were right, only the nonce was old
};

// The first Digest challenge of a WWW-Authenticate or Proxy-Authenticate
// value (the text after the colon) whose algorithm is MD5 or absent; a value
// may hold several challenges. Nothing when none qualifies.
std::optional<TParsedChallenge> ParseDigestChallenge(std::string_view value);

// The quality of protection to use from a challenge's qop option list:
// "auth-int" when offered, else "auth", else none (a server that offers only
// options the agent does not know gets the plain RFC 2069 response).
std::string ChooseQop(std::string_view options);

// Which request a credentials line is for; registrations name their header
// by a different rule than the other requests.
enum class TDigestRequest {
    Register,
    Unregister,
    Message,
    Invite,
    Ack,
    Cancel,
    Refer,
};

// The challenge a credentials line answers, as kept by the account or call.
struct TDigestChallenge {
    std::string status;  // "401", "403" or "407" of the challenge kept
    std::string realm;
    std::string nonce;
    std::string opaque;  // the server's, echoed only when it sent one
    std::string qop;
};

struct TDigestCredentials {
    std::string userName;
    std::string password;
};

// What the credentials cover. The uri is both the one hashed and the one
// written in the line: a server checks the response against the uri it reads,
// so hashing any other text makes every credentials line fail.
struct TDigestTarget {
    std::string method;  // "REGISTER", "INVITE", ...
    std::string uri;     // "sip:domain", "sip:target@domain", the remote URI
    std::string body;    // hashed only for qop auth-int
};

// Builds the whole header line, CR LF included. With a qop the line counts
// one more use of the challenge's nonce in `use` (a nonce other than the one
// `use` holds starts over with a fresh cnonce); the caller stores `use` back.
std::string DigestHeaderLine(TDigestRequest request, const TDigestChallenge& challenge,
                             TDigestUse& use, const TDigestCredentials& credentials,
                             const TDigestTarget& target);

// "Authorization" or "Proxy-Authorization" for the kept challenge status.
std::string DigestHeaderName(TDigestRequest request, std::string_view status);

// The eight lower-case hex digits of a nonce count.
std::string NonceCountText(uint32_t count);
