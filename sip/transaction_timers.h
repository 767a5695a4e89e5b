// The time base of the transaction layer: the RFC 3261 timer values, an
// injectable clock and the function that puts a datagram on the wire.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace sip_transaction {

using TClock = std::chrono::steady_clock;
using TTime = TClock::time_point;
using TNow = std::function<TTime()>;
using std::chrono::milliseconds;

// T1 (round-trip estimate), T2 (longest interval between retransmissions of
// a non-INVITE request or of an INVITE's final response) and T4 (how long a
// message may stay in the network).
struct TTimers {
    milliseconds t1{500};
    milliseconds t2{4000};
    milliseconds t4{5000};

    // Timers B, F, H and J: how long a transaction waits for its answer or
    // its ACK, and how long a server keeps absorbing retransmissions.
    milliseconds Limit() const { return t1 * 64; }
};

// Sends one datagram; called with the layer's lock held, so it must not call
// back into the layer.
using TSend = std::function<void(const std::string& text, const std::string& address, uint16_t port)>;

// Where a transaction's datagrams go.
struct TDestination {
    std::string address;
    uint16_t port = 0;
    // Over TCP or TLS: the connection retransmits, so the transaction does
    // not (no Timer A, E or G); its time limits still run.
    bool reliable = false;
};

}  // namespace sip_transaction
