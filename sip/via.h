// The top Via of a received request: what it says, the marks the receiving
// side adds to it (RFC 3261 18.2.1, RFC 3581), and where the responses go.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct TTopVia {
    std::string host;             // sent-by host
    int port = 5060;              // sent-by port, 5060 when absent or not a port
    std::string received;         // the received parameter, empty when absent
    bool rport = false;           // an rport parameter, with or without value
    std::optional<int> rportValue;
};

// The first Via value of `viaHeaders` (whole "Via:" / "v:" lines, CR LF
// ended; a line may hold several values separated by commas).
TTopVia ParseTopVia(std::string_view viaHeaders);

// `viaHeaders` with the top value marked as the receiving side must: a
// received parameter with the packet's source address when that is not the
// sent-by host (always when rport is asked), and the source port in rport;
// whatever the sender wrote in either is replaced. A request that came over
// a connection (`connection`) is answered over it (RFC 3261 18.2.2), so its
// source port is written in rport even when the sender did not ask.
std::string StampTopVia(std::string_view viaHeaders, std::string_view sourceAddress,
                        uint16_t sourcePort, bool connection = false);

// Where responses to a request with these (stamped) Via lines go: the
// received address, else the sent-by host; the rport value, else the
// sent-by port.
struct TResponseDestination {
    std::string host;
    int port = 5060;
};
TResponseDestination ResponseDestination(std::string_view viaHeaders);

// StampTopVia's text together with where its responses go, worked out in
// the same reading of the top value: the same destination ResponseDestination
// gives for `headers`, without reading them again.
struct TStampedVia {
    std::string headers;
    TResponseDestination destination;
};
TStampedVia StampTopViaRouted(std::string_view viaHeaders, std::string_view sourceAddress,
                              uint16_t sourcePort, bool connection = false);
