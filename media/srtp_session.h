// One direction of a call's SRTP (RFC 3711): the outbound transform that
// encrypts and signs each RTP or RTCP packet before it leaves, or the
// inbound one that checks and decrypts each packet that arrives. libsrtp
// runs SRTCP, its keys and its packets; the RTP packets, fifty a second
// each way, run through the agent's own lean path, keys derived there too
// (media/srtp_rtp_transform.h), held to libsrtp's output by the tests.
//
// Threading: one caller at a time; libsrtp's context is not safe to share
// unguarded. RTP and RTCP of one direction run on different threads
// (capture and control on the way out, the RTP and control sockets on the
// way in): the call's TCallSrtp holds the direction's lock around each
// packet, the one lock a packet takes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace media {

// The two suites of RFC 4568 the agent speaks. Both encrypt with AES-CM-128;
// they differ in the length of the RTP authentication tag (80 or 32 bits).
// SRTCP keeps the 80-bit tag with either (RFC 4568 section 6.2).
enum class TSrtpSuite { AesCm128HmacSha1_80, AesCm128HmacSha1_32 };

// Master key (16 bytes) followed by the master salt (14 bytes).
constexpr std::size_t kSrtpKeySaltBytes = 30;
// Room a buffer handed to Protect leaves after the packet. A protected
// packet grows by at most 14 bytes (the SRTCP index and an 80-bit tag), but
// libsrtp may write up to its largest trailer (a tag and a key index) there.
constexpr std::size_t kSrtpMaxGrowth = 16 + 128 + 4;

// Why an inbound packet was refused.
enum class TSrtpRefusal { None, Authentication, Replay, Malformed };

// Which code computes AES-CM and HMAC-SHA1 under libsrtp: OpenSSL through
// our own types (media/srtp_openssl_crypto.h), or libsrtp's own backend,
// kept so a benchmark can set the two side by side; with the latter
// libsrtp runs the RTP packets too, as it did before the agent's own path.
// Only a choice made before the first session takes effect.
enum class TSrtpCrypto { OpenSsl, Library };
void ChooseSrtpCrypto(TSrtpCrypto crypto);

// Who protects and checks the RTP packets: the agent's own path, or libsrtp
// (the reference the tests compare the agent's path with).
enum class TSrtpRtpCode { Agent, Libsrtp };

class TSrtpSession {
public:
    enum class TDirection { Outbound, Inbound };

    // Throws std::runtime_error when the key has the wrong length or libsrtp
    // refuses the policy.
    TSrtpSession(TSrtpSuite suite, std::span<const uint8_t> keySalt, TDirection direction,
                 TSrtpRtpCode rtpCode = TSrtpRtpCode::Agent);
    ~TSrtpSession();
    TSrtpSession(const TSrtpSession&) = delete;
    TSrtpSession& operator=(const TSrtpSession&) = delete;

    // Outbound: protects `length` bytes at `packet` in place, where `capacity`
    // bytes are writable; returns the protected length, nothing when libsrtp
    // refused (a repeated sequence number, or no room).
    std::optional<std::size_t> ProtectRtp(uint8_t* packet, std::size_t length, std::size_t capacity);
    std::optional<std::size_t> ProtectRtcp(uint8_t* packet, std::size_t length, std::size_t capacity);

    // Inbound: checks and decrypts in place; returns the plain length, or
    // the reason the packet must be dropped.
    struct TUnprotected {
        std::size_t length = 0;
        TSrtpRefusal refusal = TSrtpRefusal::None;
    };
    TUnprotected UnprotectRtp(uint8_t* packet, std::size_t length);
    TUnprotected UnprotectRtcp(uint8_t* packet, std::size_t length);

    TDirection Direction() const { return Direction_; }

private:
    struct TContext;
    const TDirection Direction_;
    std::unique_ptr<TContext> Context_;
};

}  // namespace media
