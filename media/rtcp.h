// RTCP (RFC 3550 section 6) as values: the compound report a call sends
// every few seconds on its RTP port + 1 (a sender report while it sends, a
// receiver report otherwise, each followed by a source description with the
// CNAME), and what the agent reads from the far end's reports: the NTP time
// of its sender report (for our next report block's LSR) and the report
// block about our own stream (for the round-trip time).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace media {

constexpr uint8_t kRtcpSenderReport = 200;
constexpr uint8_t kRtcpReceiverReport = 201;
constexpr uint8_t kRtcpSourceDescription = 202;

struct TRtcpSenderInfo {
    uint64_t ntp = 0;  // 32.32 fixed point seconds since 1900
    uint32_t rtpTimestamp = 0;
    uint32_t packets = 0;
    uint32_t octets = 0;
};

struct TRtcpReportBlock {
    uint32_t ssrc = 0;  // the source reported on
    uint8_t fractionLost = 0;
    int32_t cumulativeLost = 0;  // 24 bits on the wire, clamped
    uint32_t highestSequence = 0;
    uint32_t jitter = 0;
    uint32_t lastSenderReport = 0;  // middle 32 bits of its NTP time
    uint32_t delaySinceLast = 0;    // in 1/65536 s
};

// A compound packet: SR (with `sender`) or RR, at most one report block,
// then SDES with the CNAME.
std::vector<uint8_t> ComposeRtcp(uint32_t ssrc, const std::optional<TRtcpSenderInfo>& sender,
                                 const std::optional<TRtcpReportBlock>& block, const std::string& cname);

struct TRtcpReceived {
    uint32_t ssrc = 0;                       // the sender of the report
    std::optional<uint64_t> senderNtp;       // from an SR
    std::optional<TRtcpReportBlock> aboutUs; // the block about `ourSsrc`
};

// Reads a compound packet; nothing when it is not well formed (wrong
// version, lengths beyond the datagram, no SR or RR first).
std::optional<TRtcpReceived> ParseRtcp(const uint8_t* data, std::size_t length, uint32_t ourSsrc);

// The middle 32 bits of a 64-bit NTP time, as LSR and round trips use them.
inline uint32_t NtpMiddle(uint64_t ntp) { return static_cast<uint32_t>(ntp >> 16); }
// The round trip in ms from a report block received at NTP time `arrival`;
// nothing without an LSR or when the figures do not add up.
std::optional<double> RoundTripMs(const TRtcpReportBlock& block, uint64_t arrival);
// Wall-clock time as NTP 32.32.
uint64_t NtpNow();

}  // namespace media
