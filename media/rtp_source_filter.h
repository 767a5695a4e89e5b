// Which received RTP datagrams a call takes as its peer's: the first source
// heard after the answer (symmetric RTP: a relay or a NAT may send from
// another address or port than the SDP's), and the SDP's own source at any
// time; a later source takes over only after it has been the only one for a
// while (the peer moved), never while the current one is still sending. A
// payload type is taken only when both sides negotiated it, and the caller
// asks that first, so only a packet in a negotiated payload type can be the
// first source. Everything else is dropped and counted.
//
// Threading: used by the call's RTP socket thread only, except for the
// counters, which any thread may read.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sip/telephone_event_types.h"

namespace media {

class TRtpSourceFilter {
public:
    // `latchFirst` false: the first source is taken only when the SDP names
    // an address nobody could send from (control reports, which carry no
    // audio to lose, wait for the SDP's source or a stable run).
    explicit TRtpSourceFilter(bool latchFirst = true) : LatchFirst_(latchFirst) {}

    using TClock = std::chrono::steady_clock;
    // A new source must be the only one for this long, with this many
    // packets, before it replaces the current one.
    static constexpr std::chrono::milliseconds kTakeOverQuiet{1000};
    static constexpr int kTakeOverPackets = 25;

    // True when a datagram from `address`:`port` is the peer's, given the
    // address and port of the call's remote SDP. A change of the SDP's
    // address forgets the latched source.
    bool AcceptSource(const std::string& address, uint16_t port, const std::string& sdpAddress,
                      int sdpPort, TClock::time_point now);

    // True when `payloadType` is one of `events` or of `negotiated`; an
    // empty list (no negotiation known) takes only `currentPayloadType`.
    bool AcceptPayloadType(int payloadType, const std::vector<int>& negotiated,
                           int currentPayloadType, TTelephoneEventTypes events = {});

    // True for a dotted address in 10/8, 172.16/12, 192.168/16, 100.64/10 or
    // 169.254/16, for "0.0.0.0" and for an empty text.
    static bool IsBehindNat(const std::string& sdpAddress);

    // The source now taken as the peer's, if any (read from any thread): where
    // media goes back when the SDP's address is one we cannot send to.
    struct TAddress {
        std::string address;
        uint16_t port = 0;
    };
    std::optional<TAddress> GetHeard() const;

    uint64_t DroppedForSource() const { return DroppedForSource_; }
    uint64_t DroppedForPayloadType() const { return DroppedForPayloadType_; }

private:
    struct TSource {
        std::string address;
        uint16_t port = 0;
        bool Is(const std::string& a, uint16_t p) const { return port == p && address == a; }
    };

    void Latch(const std::string& address, uint16_t port, TClock::time_point now);
    void SetHeard(const TSource& source);

    const bool LatchFirst_;
    TSource Sdp_;          // the SDP source the latch was made under
    TSource Latched_;      // empty until the first accepted packet
    TClock::time_point LastFromLatched_{};
    TSource Candidate_;    // a different source, counting its run
    TClock::time_point CandidateSince_{};
    int CandidatePackets_ = 0;

    mutable std::mutex HeardLock_;
    TSource Heard_;  // guarded by HeardLock_: Latched_ for other threads

    std::atomic<uint64_t> DroppedForSource_{0};
    std::atomic<uint64_t> DroppedForPayloadType_{0};
};

}  // namespace media
