#include "media/aes128.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#if defined(__x86_64__) || defined(__i386__)
#include <wmmintrin.h>
#define SOFTPHONE_AES_NI 1
#endif

namespace media {

#if SOFTPHONE_AES_NI

#define AES_TARGET __attribute__((target("aes,sse2")))

struct TAes128::TSchedule {
    __m128i roundKeys[11];
};

namespace {

// One step of the key expansion (FIPS-197 5.2): the previous round key's
// words folded left, then the word the assist instruction made from it.
AES_TARGET __m128i NextRoundKey(__m128i key, __m128i assist) {
    assist = _mm_shuffle_epi32(assist, 0xff);
    __m128i shifted = _mm_slli_si128(key, 4);
    key = _mm_xor_si128(key, shifted);
    shifted = _mm_slli_si128(shifted, 4);
    key = _mm_xor_si128(key, shifted);
    shifted = _mm_slli_si128(shifted, 4);
    key = _mm_xor_si128(key, shifted);
    return _mm_xor_si128(key, assist);
}

AES_TARGET void ExpandKey(const uint8_t* key, __m128i* roundKeys) {
    roundKeys[0] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key));
    // The round constant is an immediate operand: one line per round.
    roundKeys[1] = NextRoundKey(roundKeys[0], _mm_aeskeygenassist_si128(roundKeys[0], 0x01));
    roundKeys[2] = NextRoundKey(roundKeys[1], _mm_aeskeygenassist_si128(roundKeys[1], 0x02));
    roundKeys[3] = NextRoundKey(roundKeys[2], _mm_aeskeygenassist_si128(roundKeys[2], 0x04));
    roundKeys[4] = NextRoundKey(roundKeys[3], _mm_aeskeygenassist_si128(roundKeys[3], 0x08));
    roundKeys[5] = NextRoundKey(roundKeys[4], _mm_aeskeygenassist_si128(roundKeys[4], 0x10));
    roundKeys[6] = NextRoundKey(roundKeys[5], _mm_aeskeygenassist_si128(roundKeys[5], 0x20));
    roundKeys[7] = NextRoundKey(roundKeys[6], _mm_aeskeygenassist_si128(roundKeys[6], 0x40));
    roundKeys[8] = NextRoundKey(roundKeys[7], _mm_aeskeygenassist_si128(roundKeys[7], 0x80));
    roundKeys[9] = NextRoundKey(roundKeys[8], _mm_aeskeygenassist_si128(roundKeys[8], 0x1b));
    roundKeys[10] = NextRoundKey(roundKeys[9], _mm_aeskeygenassist_si128(roundKeys[9], 0x36));
}

AES_TARGET void EncryptWithSchedule(const __m128i* roundKeys, uint8_t* blocks, std::size_t count) {
    for (std::size_t n = 0; n < count; ++n) {
        auto* at = reinterpret_cast<__m128i*>(blocks + n * TAes128::kBlockBytes);
        __m128i state = _mm_xor_si128(_mm_loadu_si128(at), roundKeys[0]);
        for (int round = 1; round < 10; ++round)
            state = _mm_aesenc_si128(state, roundKeys[round]);
        _mm_storeu_si128(at, _mm_aesenclast_si128(state, roundKeys[10]));
    }
}

}  // namespace

bool TAes128::ProcessorHasAes() {
    static const bool has = __builtin_cpu_supports("aes") && __builtin_cpu_supports("sse2");
    return has;
}

#else

struct TAes128::TSchedule {};

bool TAes128::ProcessorHasAes() { return false; }

#endif

struct TAes128::TOpenSsl {
    struct TFree {
        void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
    };
    std::unique_ptr<EVP_CIPHER_CTX, TFree> context{EVP_CIPHER_CTX_new()};
};

TCryptoEngine TAes128::BestEngine() { return ProcessorHasAes() ? TCryptoEngine::Processor : TCryptoEngine::OpenSsl; }

TAes128::TAes128(std::span<const uint8_t, kKeyBytes> key, TCryptoEngine engine) : Engine_(engine) {
    if (engine == TCryptoEngine::Processor) {
        if (!ProcessorHasAes())
            throw std::runtime_error("this processor has no AES instructions");
#if SOFTPHONE_AES_NI
        Schedule_ = std::make_unique<TSchedule>();
        ExpandKey(key.data(), Schedule_->roundKeys);
#endif
        return;
    }
    OpenSsl_ = std::make_unique<TOpenSsl>();
    if (!OpenSsl_->context ||
        EVP_EncryptInit_ex(OpenSsl_->context.get(), EVP_aes_128_ecb(), nullptr, key.data(), nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(OpenSsl_->context.get(), 0) != 1)
        throw std::runtime_error("OpenSSL refused an AES-128 key");
}

TAes128::~TAes128() {
    if (Schedule_)
        OPENSSL_cleanse(Schedule_.get(), sizeof(TSchedule));
}

void TAes128::EncryptBlocks(uint8_t* blocks, std::size_t count) {
#if SOFTPHONE_AES_NI
    if (Schedule_) {
        EncryptWithSchedule(Schedule_->roundKeys, blocks, count);
        return;
    }
#endif
    // ECB keeps no state between calls: a long run goes in INT_MAX-sized
    // pieces without changing the result.
    while (count > 0) {
        const std::size_t piece = std::min<std::size_t>(count, INT_MAX / kBlockBytes);
        int written = 0;
        if (EVP_EncryptUpdate(OpenSsl_->context.get(), blocks, &written, blocks,
                              static_cast<int>(piece * kBlockBytes)) != 1 ||
            written != static_cast<int>(piece * kBlockBytes))
            throw std::runtime_error("OpenSSL failed to encrypt");
        blocks += piece * kBlockBytes;
        count -= piece;
    }
}

}  // namespace media
