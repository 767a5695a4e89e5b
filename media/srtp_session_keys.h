// The keys one SRTP stream direction works with, derived from the master
// key and salt an `a=crypto` line carries (RFC 3711 4.3.1, with no rekeying:
// SDES offers no key derivation rate, so every packet of the call uses the
// keys derived once at index 0).
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace media {

struct TSrtpSessionKeys {
    std::array<uint8_t, 16> cipherKey{};
    std::array<uint8_t, 14> cipherSalt{};
    std::array<uint8_t, 20> authKey{};

    TSrtpSessionKeys() = default;
    TSrtpSessionKeys(const TSrtpSessionKeys&) = default;
    TSrtpSessionKeys& operator=(const TSrtpSessionKeys&) = default;
    ~TSrtpSessionKeys();  // wiped: these are the keys that read the call
};

// The RTP keys (labels 0, 1 and 2) from the 16-byte master key followed by
// the 14-byte master salt.
TSrtpSessionKeys DeriveRtpSessionKeys(std::span<const uint8_t, 30> masterKeySalt);

}  // namespace media
