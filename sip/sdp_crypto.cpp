#include "sip/sdp_crypto.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <array>
#include <stdexcept>

#include "sip/text.h"

namespace {

constexpr std::size_t kBase64KeyChars = 40;  // 30 bytes, no padding
// The agent never re-keys within a call, so it takes only a key that may
// protect at least as many packets as any call sends: 2^31 (the SRTCP
// index's own limit) covers years of 20 ms packets.
constexpr int kShortestLifetimeBits = 31;

bool IsKnownSuite(std::string_view suite) { return suite == kSrtpSuite80 || suite == kSrtpSuite32; }

int SuiteRank(std::string_view suite) { return suite == kSrtpSuite80 ? 0 : 1; }

std::optional<std::vector<uint8_t>> DecodeKey(std::string_view text) {
    if (text.size() != kBase64KeyChars || text.find('=') != std::string_view::npos)
        return std::nullopt;
    std::array<unsigned char, kBase64KeyChars> decoded{};
    const int length = EVP_DecodeBlock(decoded.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                       static_cast<int>(text.size()));
    if (length != static_cast<int>(kSdpKeySaltBytes))
        return std::nullopt;
    return std::vector<uint8_t>(decoded.begin(), decoded.begin() + length);
}

bool AllDigits(std::string_view text) {
    if (text.empty() || text.size() > 19) return false;
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// "2^31", "2147483648" and the like: true when at least 2^31 packets.
bool LongEnough(std::string_view lifetime) {
    if (lifetime.starts_with("2^")) {
        const std::string_view bits = lifetime.substr(2);
        return AllDigits(bits) && bits.size() <= 2 && std::stoi(std::string(bits)) >= kShortestLifetimeBits;
    }
    return AllDigits(lifetime) && std::stoull(std::string(lifetime)) >= (1ull << kShortestLifetimeBits);
}

// "inline:KEY[|LIFETIME][|MKI:LENGTH]": the key when the agent can use it.
std::optional<std::vector<uint8_t>> ReadKeyParams(std::string_view params) {
    constexpr std::string_view kInline = "inline:";
    if (!params.starts_with(kInline) || params.find(';') != std::string_view::npos)
        return std::nullopt;  // another key method, or several keys (which need an MKI)
    std::string_view rest = params.substr(kInline.size());
    const std::string_view key = rest.substr(0, rest.find('|'));
    rest = key.size() < rest.size() ? rest.substr(key.size() + 1) : std::string_view();
    while (!rest.empty()) {
        const std::string_view field = rest.substr(0, rest.find('|'));
        rest = field.size() < rest.size() ? rest.substr(field.size() + 1) : std::string_view();
        if (field.find(':') != std::string_view::npos)
            return std::nullopt;  // an MKI: packets would carry a key index we do not write
        if (!LongEnough(field))
            return std::nullopt;
    }
    return DecodeKey(key);
}

}  // namespace

std::string SdpCryptoLine(const TSdpCrypto& crypto) {
    std::array<unsigned char, kBase64KeyChars + 1> encoded{};
    const int length = EVP_EncodeBlock(encoded.data(), crypto.keySalt.data(), static_cast<int>(crypto.keySalt.size()));
    return "a=crypto:" + std::to_string(crypto.tag) + " " + crypto.suite + " inline:" +
           std::string(reinterpret_cast<const char*>(encoded.data()), static_cast<std::size_t>(length)) + "\r\n";
}

std::optional<TSdpCrypto> ParseSdpCrypto(std::string_view value) {
    // Fields are separated by whitespace (RFC 4568 section 9.1).
    std::vector<std::string_view> fields;
    while (!value.empty() && fields.size() < 5) {
        value = sip_text::Trim(value);
        const std::size_t end = value.find_first_of(" \t");
        fields.push_back(value.substr(0, end));
        value = end == std::string_view::npos ? std::string_view() : value.substr(end);
    }
    // A fourth field is a session parameter; the agent supports none.
    if (fields.size() != 3 || !AllDigits(fields[0]) || fields[0].size() > 9 || !IsKnownSuite(fields[1]))
        return std::nullopt;
    const auto key = ReadKeyParams(fields[2]);
    if (!key)
        return std::nullopt;
    return TSdpCrypto{std::stoi(std::string(fields[0])), std::string(fields[1]), *key};
}

TSdpCrypto NewSdpCrypto(int tag, std::string_view suite) {
    TSdpCrypto crypto{tag, std::string(suite), std::vector<uint8_t>(kSdpKeySaltBytes)};
    if (RAND_bytes(crypto.keySalt.data(), static_cast<int>(crypto.keySalt.size())) != 1)
        throw std::runtime_error("no random source for SRTP keys");
    return crypto;
}

std::vector<TSdpCrypto> NewCryptoOffer() {
    return {NewSdpCrypto(1, kSrtpSuite80), NewSdpCrypto(2, kSrtpSuite32)};
}

std::optional<TSdpCrypto> ChooseOfferedCrypto(const std::vector<TSdpCrypto>& offered) {
    const TSdpCrypto* best = nullptr;
    for (const TSdpCrypto& crypto : offered)
        if (IsKnownSuite(crypto.suite) && (!best || SuiteRank(crypto.suite) < SuiteRank(best->suite)))
            best = &crypto;
    return best ? std::optional<TSdpCrypto>(*best) : std::nullopt;
}

std::optional<TCallCrypto> AnswerOfferedCrypto(const TCallCrypto& current,
                                               const std::vector<TSdpCrypto>& offered) {
    const std::optional<TSdpCrypto> chosen = ChooseOfferedCrypto(offered);
    if (!chosen)
        return std::nullopt;
    TSdpCrypto local = current.local && current.local->suite == chosen->suite
                           ? *current.local
                           : NewSdpCrypto(chosen->tag, chosen->suite);
    local.tag = chosen->tag;
    TCallCrypto next;
    next.local = local;
    next.remote = chosen;
    // A later offer of ours keeps the key agreed here.
    next.offered = {local};
    return next;
}

std::optional<TCallCrypto> TakeAnsweredCrypto(const TCallCrypto& current,
                                              const std::vector<TSdpCrypto>& answered) {
    if (answered.size() != 1)
        return std::nullopt;
    const TSdpCrypto& theirs = answered.front();
    for (const TSdpCrypto& ours : current.offered) {
        if (ours.tag != theirs.tag)
            continue;
        if (ours.suite != theirs.suite)
            return std::nullopt;
        TCallCrypto next = current;
        next.local = ours;
        next.remote = theirs;
        return next;
    }
    return std::nullopt;
}
