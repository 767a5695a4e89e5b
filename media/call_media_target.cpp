// Where a call's RTP and control reports go.
#include <arpa/inet.h>

#include "media/call.h"

namespace {

bool IsIpv4Literal(const std::string& host) {
    in_addr parsed{};
    return inet_pton(AF_INET, host.c_str(), &parsed) == 1;
}

}  // namespace

// A far end whose SDP gives an IPv6 address (or none) while its media reaches
// our IPv4 socket can only be answered where that media comes from, as a
// symmetric RTP peer (RFC 4961) expects. Until something arrives nothing is
// sent; a far end that never sends ends by the media timeout like any other.
bool TCall::MediaTarget(const media::TRtpSourceFilter& filter, int sdpPort, std::string& host,
                        uint16_t& port) {
    host = GetRemoteRtpHost();
    if (IsIpv4Literal(host)) {
        port = static_cast<uint16_t>(sdpPort);
        return true;
    }
    if (const auto heard = filter.GetHeard()) {
        host = heard->address;
        port = heard->port;
        return true;
    }
    if (&filter == &ControlFilter_) {
        // Reports may start before the far end's: its RTP source is known
        // sooner, and reports go one port above it.
        if (const auto rtp = RtpFilter_.GetHeard(); rtp && rtp->port < 65535) {
            host = rtp->address;
            port = static_cast<uint16_t>(rtp->port + 1);
            return true;
        }
    }
    return false;
}
