// Requests too large for one UDP datagram (RFC 3261 18.1.1): a fragmented
// datagram is lost whole when one fragment is, and many routers drop
// fragments outright, so such a request goes over TCP to the same address
// and port, with its top Via saying so. A peer that refuses the connection
// gets the request over UDP after all, as the RFC asks.
#include <algorithm>

#include "engine/engine.h"

namespace {

// Enough for the requests of every call the booth can have under way; a
// CANCEL follows its INVITE within the call's set-up time.
constexpr std::size_t kMovedBranchesKept = 64;
// Requests kept per peer for the fall-back: the connection fails or comes up
// within its connect time, long before this many are sent.
constexpr std::size_t kFallbacksKept = 16;

}  // namespace

std::optional<std::string> TSipEngine::MovedForSize(const TWireFacts& facts, const std::string& text,
                                                    const std::string& address, uint16_t port) {
    if (!facts.request || TopViaTransport(text) != TSignallingTransport::kUdp || !IsDottedAddress(address))
        return std::nullopt;
    std::lock_guard<std::mutex> guard(SocketLock_);
    if (!Streams_) return std::nullopt;
    // A CANCEL or a failure's ACK goes where its INVITE went, whatever its
    // own size.
    const bool follows = (facts.method == "CANCEL" || facts.method == "ACK") &&
                         std::find(MovedBranches_.begin(), MovedBranches_.end(), facts.branch) != MovedBranches_.end();
    if (!follows && text.size() <= kLargestUdpRequest) return std::nullopt;
    if (!follows) {
        if (MovedBranches_.size() >= kMovedBranchesKept) MovedBranches_.erase(MovedBranches_.begin());
        MovedBranches_.push_back(facts.branch);
    }
    std::vector<std::string>& kept = UdpFallbacks_[address + ":" + std::to_string(port)];
    if (kept.size() >= kFallbacksKept) kept.erase(kept.begin());
    kept.push_back(text);
    return WithTopViaTransport(text, TSignallingTransport::kTcp);
}

void TSipEngine::FallBackToUdp(const std::string& address, uint16_t port, bool established) {
    std::vector<std::string> requests;
    {
        std::lock_guard<std::mutex> guard(SocketLock_);
        const auto found = UdpFallbacks_.find(address + ":" + std::to_string(port));
        if (found == UdpFallbacks_.end()) return;
        requests = std::move(found->second);
        UdpFallbacks_.erase(found);
    }
    // A connection that came up and went later delivered what it carried,
    // or the transactions time out as over any connection.
    if (established) return;
    for (const std::string& request : requests) {
        try {
            SendText(request, address, port, true, false);
        } catch (const std::exception&) {
            // The others still go.
        }
    }
}
