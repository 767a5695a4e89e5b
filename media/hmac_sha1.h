// HMAC-SHA1 (RFC 2104) with the padded key absorbed once: each message
// starts from a copy of the keyed inner hash, as SRTP signs a packet 20 ms
// after the last without setting anything up again.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "media/sha1.h"

namespace media {

class THmacSha1 {
public:
    using TDigest = std::array<uint8_t, TSha1::kDigestBytes>;

    // Throws std::runtime_error for a key longer than a SHA-1 block.
    explicit THmacSha1(std::span<const uint8_t> key);
    THmacSha1(const THmacSha1&) = default;
    THmacSha1& operator=(const THmacSha1&) = default;
    ~THmacSha1();  // wiped: the keyed states sign for whoever holds them

    // The inner hash to feed a message into, then its tag.
    TSha1 Begin() const { return Inner_; }
    TDigest Finish(TSha1& inner) const;

private:
    TSha1 Inner_, Outer_;
};

}  // namespace media
