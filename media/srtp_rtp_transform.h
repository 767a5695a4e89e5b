// The RTP packets of one SRTP direction (RFC 3711) for the two suites the
// agent speaks, AES-CM-128 with an 80- or 32-bit HMAC-SHA1 tag: each packet
// protected or checked in one pass over a few cache lines of state, with
// the stream per SSRC (its index and replay window) kept here. libsrtp
// stays the reference for the wire format: the tests hold this code to it
// packet for packet, and it keeps SRTCP. A call's packets come 20 ms apart
// and find the caches cold; through libsrtp's general path (any cipher,
// key indexes, header encryption, key-limit events) one protect and one
// unprotect touched twice the cache lines, code and data, that they touch
// here, and cost a call more than the encryption itself.
//
// Threading: one caller at a time (the call's lock for the direction).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "media/aes128.h"
#include "media/hmac_sha1.h"
#include "media/sha1.h"
#include "media/srtp_replay_window.h"
#include "media/srtp_session.h"

namespace media {

class TSrtpRtpTransform {
public:
    // `masterKeySalt`: the 16-byte master key and 14-byte salt. Throws
    // std::runtime_error when it has another length.
    TSrtpRtpTransform(TSrtpSuite suite, std::span<const uint8_t> masterKeySalt);
    ~TSrtpRtpTransform();
    TSrtpRtpTransform(const TSrtpRtpTransform&) = delete;
    TSrtpRtpTransform& operator=(const TSrtpRtpTransform&) = delete;

    // Encrypts and signs in place; the protected length, or nothing when
    // the packet is not RTP, its index was protected already or there is
    // no room for the tag.
    std::optional<std::size_t> Protect(uint8_t* packet, std::size_t length, std::size_t capacity);
    // Checks and decrypts in place.
    TSrtpSession::TUnprotected Unprotect(uint8_t* packet, std::size_t length);

    std::size_t TagBytes() const { return TagBytes_; }

private:
    struct TStream {
        uint32_t ssrc = 0;
        TSrtpReplayWindow window;
    };
    using TTag = THmacSha1::TDigest;

    TStream* Find(uint32_t ssrc);
    // Adds the AES-CM keystream of the packet's SSRC and index to `data`.
    void Crypt(uint8_t* data, std::size_t length, uint32_t ssrc, uint64_t index);
    // HMAC-SHA1 over the packet and the index's rollover counter.
    TTag Sign(const uint8_t* packet, std::size_t length, uint64_t index) const;

    const std::size_t TagBytes_;
    std::optional<TAes128> Aes_;
    std::array<uint8_t, 14> Salt_{};
    std::optional<THmacSha1> Hmac_;
    // Streams by SSRC. A receiver adds one only
    // for a packet that passed its tag, so only the keys' holder adds any.
    std::vector<TStream> Streams_;
};

}  // namespace media
