// SHA-1 for the SRTP authentication tag: a plain value type (copying it is
// how HMAC restarts per packet from its keyed state) whose 64-byte blocks run
// on the processor's SHA instructions where it has them and on OpenSSL
// otherwise. Like the AES blocks beside it, the point is a small path per
// packet: a packet 20 ms after the last finds the caches cold.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "media/crypto_engine.h"

namespace media {

class TSha1 {
public:
    static constexpr std::size_t kBlockBytes = 64;
    static constexpr std::size_t kDigestBytes = 20;

    static bool ProcessorHasSha();
    static TCryptoEngine BestEngine();

    // Throws std::runtime_error when `engine` cannot run here.
    explicit TSha1(TCryptoEngine engine = BestEngine());

    void Update(const uint8_t* data, std::size_t length);
    // The digest of everything given; the object is spent afterwards.
    std::array<uint8_t, kDigestBytes> Final();

    TCryptoEngine Engine() const { return Engine_; }

private:
    void Blocks(const uint8_t* data, std::size_t count);

    TCryptoEngine Engine_;
    std::array<uint32_t, 5> State_;
    std::array<uint8_t, kBlockBytes> Pending_{};
    std::size_t PendingBytes_ = 0;
    uint64_t TotalBytes_ = 0;
};

}  // namespace media
