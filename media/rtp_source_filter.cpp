#include "media/rtp_source_filter.h"

#include <arpa/inet.h>

#include <algorithm>

namespace media {
namespace {

constexpr int kComfortNoise = 13;  // offered by us in every SDP

}  // namespace

bool TRtpSourceFilter::IsBehindNat(const std::string& sdpAddress) {
    in_addr parsed{};
    if (sdpAddress.empty() || inet_pton(AF_INET, sdpAddress.c_str(), &parsed) != 1) return true;
    const uint32_t a = ntohl(parsed.s_addr);
    const auto in = [a](uint32_t network, int bits) { return (a >> (32 - bits)) == (network >> (32 - bits)); };
    return a == 0 || in(0x0A000000, 8) || in(0xAC100000, 12) || in(0xC0A80000, 16) ||
           in(0x64400000, 10) || in(0xA9FE0000, 16);
}

std::optional<TRtpSourceFilter::TAddress> TRtpSourceFilter::GetHeard() const {
    std::lock_guard<std::mutex> guard(HeardLock_);
    if (Heard_.address.empty())
        return std::nullopt;
    return TAddress{Heard_.address, Heard_.port};
}

void TRtpSourceFilter::SetHeard(const TSource& source) {
    std::lock_guard<std::mutex> guard(HeardLock_);
    Heard_ = source;
}

void TRtpSourceFilter::Latch(const std::string& address, uint16_t port, TClock::time_point now) {
    if (!Latched_.Is(address, port))
        SetHeard({address, port});
    Latched_ = {address, port};
    LastFromLatched_ = now;
    Candidate_ = {};
    CandidatePackets_ = 0;
}

bool TRtpSourceFilter::AcceptSource(const std::string& address, uint16_t port,
                                    const std::string& sdpAddress, int sdpPort,
                                    TClock::time_point now) {
    const auto sdpPortValue = static_cast<uint16_t>(sdpPort);
    if (!Sdp_.Is(sdpAddress, sdpPortValue)) {
        // A new offer or answer moved the media: start over from it.
        Sdp_ = {sdpAddress, sdpPortValue};
        Latched_ = {};
        SetHeard({});
        Candidate_ = {};
        CandidatePackets_ = 0;
    }
    // Symmetric RTP: until somebody has been heard, the first source is the
    // peer, whatever the SDP says (a relay or NAT may send from another port).
    const bool first = Latched_.address.empty() && (LatchFirst_ || IsBehindNat(sdpAddress));
    if (Sdp_.Is(address, port) || first || Latched_.Is(address, port)) {
        Latch(address, port, now);
        return true;
    }
    if (!Candidate_.Is(address, port)) {
        Candidate_ = {address, port};
        CandidateSince_ = now;
        CandidatePackets_ = 0;
    }
    ++CandidatePackets_;
    const bool latchedQuiet = now - LastFromLatched_ >= kTakeOverQuiet;
    const bool stableRun =
        CandidatePackets_ >= kTakeOverPackets && now - CandidateSince_ >= kTakeOverQuiet;
    if (latchedQuiet && stableRun) {
        Latch(address, port, now);
        return true;
    }
    ++DroppedForSource_;
    return false;
}

bool TRtpSourceFilter::AcceptPayloadType(int payloadType, const std::vector<int>& negotiated,
                                         int currentPayloadType, TTelephoneEventTypes events) {
    const bool known = events.Names(payloadType) || payloadType == kComfortNoise ||
                       (negotiated.empty() ? payloadType == currentPayloadType
                                           : std::find(negotiated.begin(), negotiated.end(),
                                                       payloadType) != negotiated.end());
    if (!known) ++DroppedForPayloadType_;
    return known;
}

}  // namespace media
