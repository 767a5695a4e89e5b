#include "media/srtp_session_keys.h"

#include <algorithm>
#include <cstring>

#include <openssl/crypto.h>

#include "media/aes128.h"

namespace media {

namespace {

constexpr std::size_t kMasterKeyBytes = 16;
constexpr std::size_t kMasterSaltBytes = 14;

// The AES-CM keystream under the master key, starting at the counter the
// label marks: x = label (at byte 7, as key_id = label || r with r = 0)
// XOR the master salt, times 2^16.
void Derive(TAes128& aes, std::span<const uint8_t> masterSalt, uint8_t label, uint8_t* out, std::size_t length) {
    std::array<uint8_t, 2 * TAes128::kBlockBytes> stream{};
    for (std::size_t block = 0; block < stream.size() / TAes128::kBlockBytes; ++block) {
        uint8_t* counter = stream.data() + block * TAes128::kBlockBytes;
        std::copy(masterSalt.begin(), masterSalt.end(), counter);
        counter[7] ^= label;
        counter[15] = static_cast<uint8_t>(block);
    }
    aes.EncryptBlocks(stream.data(), stream.size() / TAes128::kBlockBytes);
    std::memcpy(out, stream.data(), length);
    OPENSSL_cleanse(stream.data(), stream.size());
}

}  // namespace

TSrtpSessionKeys::~TSrtpSessionKeys() {
    OPENSSL_cleanse(cipherKey.data(), cipherKey.size());
    OPENSSL_cleanse(cipherSalt.data(), cipherSalt.size());
    OPENSSL_cleanse(authKey.data(), authKey.size());
}

TSrtpSessionKeys DeriveRtpSessionKeys(std::span<const uint8_t, 30> masterKeySalt) {
    TAes128 aes(masterKeySalt.first<kMasterKeyBytes>());
    const auto salt = masterKeySalt.subspan<kMasterKeyBytes, kMasterSaltBytes>();
    TSrtpSessionKeys keys;
    Derive(aes, salt, 0x00, keys.cipherKey.data(), keys.cipherKey.size());
    Derive(aes, salt, 0x01, keys.authKey.data(), keys.authKey.size());
    Derive(aes, salt, 0x02, keys.cipherSalt.data(), keys.cipherSalt.size());
    return keys;
}

}  // namespace media
