#include "media/srtp_openssl_crypto.h"
#include "media/aes128.h"
#include "media/hmac_sha1.h"
#include "media/sha1.h"

#include <array>
#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

#include <openssl/crypto.h>
#include <srtp2/auth.h>
#include <srtp2/cipher.h>

namespace media {

namespace {

// --- AES-128 counter mode ------------------------------------------------------

constexpr int kAesKeyBytes = 16;
constexpr int kSaltBytes = 14;
constexpr int kAesKeySaltBytes = kAesKeyBytes + kSaltBytes;
constexpr std::size_t kBlockBytes = 16;

// What libsrtp holds for one AES-CM key: its cipher record points at
// `state`, which is this object.
struct TAesCounter {
    srtp_cipher_t cipher{};
    std::optional<TAes128> aes;
    // The salt, in the top 14 bytes of the first counter block; each
    // packet's IV is laid over it.
    std::array<uint8_t, kBlockBytes> salt{};
    // The next counter block, and the keystream of the block before it
    // that a call ending inside a block left unused.
    std::array<uint8_t, kBlockBytes> counter{};
    std::array<uint8_t, kBlockBytes> keystream{};
    std::size_t keystreamUsed = kBlockBytes;
};

extern const srtp_cipher_type_t kAesCounterType;

srtp_err_status_t AesAlloc(srtp_cipher_pointer_t* cipher, int keyLength, int /*tagLength*/) {
    if (keyLength != kAesKeySaltBytes) return srtp_err_status_bad_param;
    auto state = std::make_unique<TAesCounter>();
    state->cipher.type = &kAesCounterType;
    state->cipher.state = state.get();
    state->cipher.key_len = keyLength;
    state->cipher.algorithm = SRTP_AES_ICM_128;
    *cipher = &state.release()->cipher;
    return srtp_err_status_ok;
}

srtp_err_status_t AesDealloc(srtp_cipher_pointer_t cipher) {
    // The record's state is the whole object AesAlloc made.
    std::unique_ptr<TAesCounter> state(static_cast<TAesCounter*>(cipher->state));
    OPENSSL_cleanse(state->salt.data(), state->salt.size());
    OPENSSL_cleanse(state->keystream.data(), state->keystream.size());
    return srtp_err_status_ok;
}

// `key` is the 16-byte key followed by the 14-byte salt.
srtp_err_status_t AesInit(void* raw, const uint8_t* key) {
    auto& state = *static_cast<TAesCounter*>(raw);
    state.salt.fill(0);
    std::memcpy(state.salt.data(), key + kAesKeyBytes, kSaltBytes);
    state.keystreamUsed = kBlockBytes;
    try {
        state.aes.reset();
        state.aes.emplace(std::span<const uint8_t, TAes128::kKeyBytes>(key, TAes128::kKeyBytes));
    } catch (const std::exception&) {
        return srtp_err_status_init_fail;
    }
    return srtp_err_status_ok;
}

// The first counter block of a packet: its IV (RFC 3711 4.1.1, the SSRC and
// index already in place) over the salt. The block counter then runs in
// the low bytes.
srtp_err_status_t AesSetIv(void* raw, uint8_t* iv, srtp_cipher_direction_t /*direction*/) {
    auto& state = *static_cast<TAesCounter*>(raw);
    for (std::size_t i = 0; i < kBlockBytes; ++i) state.counter[i] = static_cast<uint8_t>(state.salt[i] ^ iv[i]);
    state.keystreamUsed = kBlockBytes;
    return srtp_err_status_ok;
}

// The counter block as one big-endian number, stepped by one.
void Step(std::array<uint8_t, kBlockBytes>& counter) {
    for (std::size_t i = kBlockBytes; i-- > 0;)
        if (++counter[i] != 0) return;
}

// Counter mode: encrypting and decrypting both add the keystream. A call
// may end inside a block; the next call without a new IV goes on from there.
srtp_err_status_t AesCrypt(void* raw, uint8_t* buffer, unsigned int* length) {
    auto& state = *static_cast<TAesCounter*>(raw);
    if (!state.aes) return srtp_err_status_cipher_fail;
    std::size_t left = *length;
    for (; left > 0 && state.keystreamUsed < kBlockBytes; --left) *buffer++ ^= state.keystream[state.keystreamUsed++];
    // Whole blocks a batch at a time: the counters laid out, encrypted in
    // one call, added to the data.
    constexpr std::size_t kBatchBlocks = 16;
    alignas(16) std::array<uint8_t, kBatchBlocks * kBlockBytes> batch;
    while (left >= kBlockBytes) {
        const std::size_t blocks = std::min(left / kBlockBytes, kBatchBlocks);
        for (std::size_t n = 0; n < blocks; ++n) {
            std::memcpy(batch.data() + n * kBlockBytes, state.counter.data(), kBlockBytes);
            Step(state.counter);
        }
        try {
            state.aes->EncryptBlocks(batch.data(), blocks);
        } catch (const std::exception&) {
            return srtp_err_status_cipher_fail;
        }
        for (std::size_t i = 0; i < blocks * kBlockBytes; ++i) buffer[i] ^= batch[i];
        buffer += blocks * kBlockBytes;
        left -= blocks * kBlockBytes;
    }
    if (left > 0) {
        state.keystream = state.counter;
        Step(state.counter);
        try {
            state.aes->EncryptBlocks(state.keystream.data(), 1);
        } catch (const std::exception&) {
            return srtp_err_status_cipher_fail;
        }
        for (state.keystreamUsed = 0; state.keystreamUsed < left; ++state.keystreamUsed)
            buffer[state.keystreamUsed] ^= state.keystream[state.keystreamUsed];
    }
    return srtp_err_status_ok;
}

// RFC 3711 appendix B.2: the keystream's first two blocks.
constexpr uint8_t kAesTestKey[kAesKeySaltBytes] = {
    0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6, 0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f,
    0x3c, 0xf0, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa, 0xfb, 0xfc, 0xfd};
uint8_t kAesTestIv[kBlockBytes] = {};
constexpr uint8_t kAesTestPlain[32] = {};
constexpr uint8_t kAesTestCipher[32] = {
    0xe0, 0x3e, 0xad, 0x09, 0x35, 0xc9, 0x5e, 0x80, 0xe1, 0x66, 0xb1, 0x6d, 0xd9, 0x2b, 0x4e, 0xb4,
    0xd2, 0x35, 0x13, 0x16, 0x2b, 0x02, 0xd0, 0xf7, 0x2a, 0x43, 0xa2, 0xfe, 0x4a, 0x5f, 0x97, 0xab};
const srtp_cipher_test_case_t kAesTest = {
    kAesKeySaltBytes, kAesTestKey, kAesTestIv, sizeof kAesTestPlain, kAesTestPlain,
    sizeof kAesTestCipher, kAesTestCipher, 0, nullptr, 0, nullptr};

const srtp_cipher_type_t kAesCounterType = {
    AesAlloc, AesDealloc, AesInit, nullptr, AesCrypt, AesCrypt, AesSetIv, nullptr,
    "AES-128 counter mode (OpenSSL)", &kAesTest, SRTP_AES_ICM_128};

// --- HMAC-SHA1 ---------------------------------------------------------------

constexpr int kShaBlockBytes = 64;
constexpr int kShaDigestBytes = static_cast<int>(TSha1::kDigestBytes);

// The keyed hashes, once libsrtp has given the key, and the message being
// signed.
struct THmacState {
    srtp_auth_t auth{};
    std::optional<THmacSha1> keyed;
    TSha1 running;
};

extern const srtp_auth_type_t kHmacSha1Type;

srtp_err_status_t HmacAlloc(srtp_auth_pointer_t* auth, int keyLength, int tagLength) {
    if (keyLength < 0 || keyLength > kShaBlockBytes || tagLength < 0 || tagLength > kShaDigestBytes)
        return srtp_err_status_bad_param;
    auto state = std::make_unique<THmacState>();
    state->auth.type = &kHmacSha1Type;
    state->auth.state = state.get();
    state->auth.out_len = tagLength;
    state->auth.key_len = keyLength;
    state->auth.prefix_len = 0;
    *auth = &state.release()->auth;
    return srtp_err_status_ok;
}

srtp_err_status_t HmacDealloc(srtp_auth_pointer_t auth) {
    std::unique_ptr<THmacState> state(static_cast<THmacState*>(auth->state));
    OPENSSL_cleanse(&state->running, sizeof state->running);
    return srtp_err_status_ok;
}

srtp_err_status_t HmacInit(void* raw, const uint8_t* key, int keyLength) {
    auto& state = *static_cast<THmacState*>(raw);
    if (keyLength < 0 || keyLength > kShaBlockBytes) return srtp_err_status_bad_param;
    state.keyed.emplace(std::span<const uint8_t>(key, static_cast<std::size_t>(keyLength)));
    state.running = state.keyed->Begin();  // libsrtp may compute without a start first
    return srtp_err_status_ok;
}

srtp_err_status_t HmacStart(void* raw) {
    auto& state = *static_cast<THmacState*>(raw);
    if (!state.keyed) return srtp_err_status_auth_fail;
    state.running = state.keyed->Begin();
    return srtp_err_status_ok;
}

srtp_err_status_t HmacUpdate(void* raw, const uint8_t* data, int length) {
    auto& state = *static_cast<THmacState*>(raw);
    if (length < 0) return srtp_err_status_auth_fail;
    state.running.Update(data, static_cast<std::size_t>(length));
    return srtp_err_status_ok;
}

srtp_err_status_t HmacCompute(void* raw, const uint8_t* data, int length, int tagLength, uint8_t* tag) {
    auto& state = *static_cast<THmacState*>(raw);
    if (tagLength < 0 || tagLength > kShaDigestBytes || !state.keyed) return srtp_err_status_bad_param;
    if (const srtp_err_status_t status = HmacUpdate(raw, data, length); status != srtp_err_status_ok)
        return status;
    const THmacSha1::TDigest digest = state.keyed->Finish(state.running);
    std::memcpy(tag, digest.data(), static_cast<std::size_t>(tagLength));
    return srtp_err_status_ok;
}

// RFC 2202 test case 1.
constexpr uint8_t kHmacTestKey[20] = {0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b,
                                      0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b};
constexpr uint8_t kHmacTestData[8] = {'H', 'i', ' ', 'T', 'h', 'e', 'r', 'e'};
constexpr uint8_t kHmacTestTag[20] = {0xb6, 0x17, 0x31, 0x86, 0x55, 0x05, 0x72, 0x64, 0xe2, 0x8b,
                                      0xc0, 0xb6, 0xfb, 0x37, 0x8c, 0x8e, 0xf1, 0x46, 0xbe, 0x00};
const srtp_auth_test_case_t kHmacTest = {sizeof kHmacTestKey,  kHmacTestKey, sizeof kHmacTestData,
                                         kHmacTestData,        sizeof kHmacTestTag, kHmacTestTag, nullptr};

const srtp_auth_type_t kHmacSha1Type = {HmacAlloc,  HmacDealloc, HmacInit, HmacCompute, HmacUpdate,
                                        HmacStart, "HMAC-SHA1 (OpenSSL)", &kHmacTest, SRTP_HMAC_SHA1};

}  // namespace

const srtp_cipher_type_t& OpenSslAesCounterType() { return kAesCounterType; }
const srtp_auth_type_t& OpenSslHmacSha1Type() { return kHmacSha1Type; }

void UseOpenSslSrtpCrypto() {
    if (const srtp_err_status_t status = srtp_replace_cipher_type(&kAesCounterType, SRTP_AES_ICM_128);
        status != srtp_err_status_ok)
        throw std::runtime_error("SRTP library refused the AES-CM type (" + std::to_string(status) + ")");
    if (const srtp_err_status_t status = srtp_replace_auth_type(&kHmacSha1Type, SRTP_HMAC_SHA1);
        status != srtp_err_status_ok)
        throw std::runtime_error("SRTP library refused the HMAC-SHA1 type (" + std::to_string(status) + ")");
}

}  // namespace media
