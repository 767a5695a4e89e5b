#include "media/hmac_sha1.h"

#include <stdexcept>

#include <openssl/crypto.h>

namespace media {

THmacSha1::THmacSha1(std::span<const uint8_t> key) {
    if (key.size() > TSha1::kBlockBytes)
        throw std::runtime_error("HMAC-SHA1 key longer than a block");
    std::array<uint8_t, TSha1::kBlockBytes> innerPad, outerPad;
    innerPad.fill(0x36);
    outerPad.fill(0x5c);
    for (std::size_t i = 0; i < key.size(); ++i) {
        innerPad[i] ^= key[i];
        outerPad[i] ^= key[i];
    }
    Inner_.Update(innerPad.data(), innerPad.size());
    Outer_.Update(outerPad.data(), outerPad.size());
    OPENSSL_cleanse(innerPad.data(), innerPad.size());
    OPENSSL_cleanse(outerPad.data(), outerPad.size());
}

THmacSha1::~THmacSha1() {
    OPENSSL_cleanse(&Inner_, sizeof Inner_);
    OPENSSL_cleanse(&Outer_, sizeof Outer_);
}

THmacSha1::TDigest THmacSha1::Finish(TSha1& inner) const {
    const TDigest digest = inner.Final();
    TSha1 outer = Outer_;
    outer.Update(digest.data(), digest.size());
    return outer.Final();
}

}  // namespace media
