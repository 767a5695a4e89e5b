// The SRTP of one call: whether its media goes in the clear, waits for keys,
// or is encrypted, and the transform every datagram passes through at the
// call's sockets. The keys come from the SDP offer and answer (RFC 4568);
// each direction is keyed on its own, so a re-offer that changes only the far
// end's key leaves our sending untouched.
//
// Threading: the send side runs on the capture thread (RTP) and the control
// thread (RTCP), the receive side on the two socket threads, keying on the
// signalling thread. Each direction has one lock, the only one a packet
// takes: it guards that direction's session (its streams' state) and, with
// the other direction's, the mode. The counters are atomics any thread may
// read.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>

#include "media/srtp_session.h"

namespace media {

// Room for the largest datagram a call sends or takes in, protected.
constexpr std::size_t kSrtpBufferBytes = 12 + 1024 + kSrtpMaxGrowth;
using TSrtpBuffer = std::array<uint8_t, kSrtpBufferBytes>;

class TCallSrtp {
public:
    enum class TMode {
        Plain,    // no SRTP: datagrams pass as they are
        Waiting,  // SRTP was asked for but keys are not agreed: nothing passes
        Keyed,    // every datagram is protected and checked
    };

    void SetPlain();
    void SetWaiting();
    // Keys both directions; a direction whose suite and key are unchanged
    // keeps its session (and with it its packet index and replay window).
    // Throws when a key has the wrong length.
    void SetKeys(TSrtpSuite suite, std::span<const uint8_t> localKeySalt,
                 std::span<const uint8_t> remoteKeySalt);
    TMode Mode() const;

    // What a packet to send became. `datagram` is empty when nothing may go
    // out; `indexUsed` says its sequence number is spent even so (protected
    // once, it must never be protected again with another payload).
    struct TOutgoing {
        std::span<const uint8_t> datagram;
        bool indexUsed = false;
    };
    // `buffer` holds the protected copy; the plain packet is returned as it
    // is when the call is in the clear.
    TOutgoing ProtectRtp(std::span<const uint8_t> packet, TSrtpBuffer& buffer);
    std::span<const uint8_t> ProtectRtcp(std::span<const uint8_t> packet, TSrtpBuffer& buffer);
    // The plain packet of a received datagram, or nothing when it is
    // dropped (counted below).
    using TReceived = std::optional<std::span<const uint8_t>>;
    TReceived UnprotectRtp(std::span<const uint8_t> datagram, TSrtpBuffer& buffer);
    TReceived UnprotectRtcp(std::span<const uint8_t> datagram, TSrtpBuffer& buffer);

    // Received datagrams dropped: failing authentication (tampered, or
    // under another key), replayed, unreadable, or come before the keys.
    uint64_t DroppedForAuthentication() const { return DroppedForAuthentication_; }
    uint64_t DroppedForReplay() const { return DroppedForReplay_; }
    uint64_t DroppedMalformed() const { return DroppedMalformed_; }
    uint64_t DroppedWithoutKeys() const { return DroppedWithoutKeys_; }
    uint64_t Dropped() const {
        return DroppedForAuthentication_ + DroppedForReplay_ + DroppedMalformed_ + DroppedWithoutKeys_;
    }

private:
    using TSessionPtr = std::unique_ptr<TSrtpSession>;
    struct TKey {
        TSrtpSuite suite = TSrtpSuite::AesCm128HmacSha1_80;
        std::array<uint8_t, kSrtpKeySaltBytes> keySalt{};
        bool operator==(const TKey&) const = default;
    };
    // One direction's session and the lock a packet holds while it works.
    struct TDirection {
        mutable std::mutex lock;
        TSessionPtr session;
    };

    TOutgoing Protect(std::span<const uint8_t> packet, TSrtpBuffer& buffer, bool control);
    TReceived Unprotect(std::span<const uint8_t> datagram, TSrtpBuffer& buffer, bool control);
    void Count(TSrtpRefusal refusal);

    TDirection Outbound_, Inbound_;
    TMode Mode_ = TMode::Plain;  // written under both directions' locks
    // Keying runs on one thread at a time; this keeps two from interleaving.
    std::mutex KeyingLock_;
    TKey LocalKey_, RemoteKey_;  // under KeyingLock_

    std::atomic<uint64_t> DroppedForAuthentication_{0};
    std::atomic<uint64_t> DroppedForReplay_{0};
    std::atomic<uint64_t> DroppedMalformed_{0};
    std::atomic<uint64_t> DroppedWithoutKeys_{0};
};

}  // namespace media
