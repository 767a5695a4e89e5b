// What ties a SIP message to its transaction: the branch of the top Via and
// the CSeq method (RFC 3261 17.1.3 and 17.2.3), plus the Call-ID and CSeq
// number that tie an ACK for a 2xx, which has a branch of its own, back to
// its INVITE.
#pragma once

#include <string>
#include <string_view>

class TSipMessage;

struct TWireFacts {
    bool request = false;  // a request line; otherwise a status line or not SIP
    int status = 0;        // of a response
    std::string method;    // the CSeq method (of a request also its request line)
    std::string branch;    // of the top Via; Call-ID and CSeq number when absent
    std::string callId;
    std::string cseq;

    bool IsSip() const { return request || status != 0; }
    // "METHOD branch Call-ID": requests and responses of one transaction
    // share it; an ACK to a final failure shares its INVITE's. The Call-ID
    // keeps apart peers that reuse a branch across calls.
    std::string Key() const {
        // Made for every message sent and received: one allocation.
        const std::string_view keyMethod = method == "ACK" ? std::string_view("INVITE") : std::string_view(method);
        std::string key;
        key.reserve(keyMethod.size() + branch.size() + callId.size() + 2);
        key.append(keyMethod).append(1, ' ').append(branch).append(1, ' ').append(callId);
        return key;
    }
};

// The facts of a datagram the agent composed. Anything that is not a SIP
// request or response (a keep-alive, a STUN request) gives IsSip() false.
TWireFacts WireFactsOfText(std::string_view text);
// The facts of a received, parsed message.
TWireFacts WireFactsOf(const TSipMessage& message);
