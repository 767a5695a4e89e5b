// Digest access authentication (RFC 2617 with MD5) as the agent uses it: a
// fixed nonce count of 00000001 and lower-case hexadecimal throughout.
#pragma once

#include <string>
#include <string_view>

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
                           std::string_view cnonce, std::string_view body);

// The same computation with the digest URI already formed.
std::string DigestResponseForUri(std::string_view method, std::string_view digestUri,
                                 std::string_view userName, std::string_view realm,
                                 std::string_view password, std::string_view qop,
                                 std::string_view nonce, std::string_view cnonce,
                                 std::string_view body);

// Md5Hex of a fresh NewHexId.
std::string NewCnonce();

// Which request a credentials line is for; each has its own header-name rule
// and its own layout of the qop part.
enum class TDigestRequest {
    Register,
    Unregister,
    Message,
    Invite,
    Ack,
    Cancel,
    Refer,
};

// Inputs of one credentials line. `opaque` is the stored opaque of the account
// or call, which doubles as the cnonce store: for the requests that make a
// cnonce (REGISTER, INVITE, ACK) an empty opaque with a non-empty qop makes a
// fresh one, which is written back here so the caller can store it.
struct TDigestChallenge {
    std::string status;  // "401", "403" or "407" of the challenge kept
    std::string realm;
    std::string nonce;
    std::string opaque;
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

// Builds the whole header line, CR LF included. When a cnonce is made it is
// stored into challenge.opaque.
std::string DigestHeaderLine(TDigestRequest request, TDigestChallenge& challenge,
                             const TDigestCredentials& credentials,
                             const TDigestTarget& target);

// "Authorization" or "Proxy-Authorization" for the kept challenge status.
std::string DigestHeaderName(TDigestRequest request, std::string_view status);
