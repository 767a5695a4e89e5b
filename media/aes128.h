// AES-128 encryption of whole 16-byte blocks under one key, for the SRTP
// keystream. On a processor with AES instructions the rounds run inline
// from a key schedule kept here; elsewhere OpenSSL's ECB mode encrypts the
// blocks. Either way a packet costs one call with no set-up: a call's
// packets come 20 ms apart, each finding the caches cold, and OpenSSL's
// per-packet re-initialisation of its counter mode walked through far more
// memory than the encryption itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "media/crypto_engine.h"

namespace media {

class TAes128 {
public:
    static constexpr std::size_t kKeyBytes = 16;
    static constexpr std::size_t kBlockBytes = 16;

    // The processor's instructions where it has them.
    static TCryptoEngine BestEngine();
    static bool ProcessorHasAes();

    // Throws std::runtime_error when `engine` cannot run here.
    explicit TAes128(std::span<const uint8_t, kKeyBytes> key, TCryptoEngine engine = BestEngine());
    ~TAes128();
    TAes128(const TAes128&) = delete;
    TAes128& operator=(const TAes128&) = delete;

    // Encrypts `count` blocks at `blocks` in place.
    void EncryptBlocks(uint8_t* blocks, std::size_t count);

    TCryptoEngine Engine() const { return Engine_; }

private:
    struct TSchedule;  // the processor's round keys
    struct TOpenSsl;   // OpenSSL's context
    const TCryptoEngine Engine_;
    std::unique_ptr<TSchedule> Schedule_;
    std::unique_ptr<TOpenSsl> OpenSsl_;
};

}  // namespace media
