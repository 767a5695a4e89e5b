// Server transactions over UDP (RFC 3261 17.2 and 13.3.1.4): a request that
// comes again is answered with the response already sent instead of being
// taken as new, and an INVITE's final response is sent again until the ACK
// arrives.
//
// A transaction is told by the top Via branch and the CSeq method of its
// request. It begins when the request first arrives (or when a response is
// sent for one the layer has not seen) and keeps the last response sent.
// Final responses to INVITE go out again from T1, doubling up to T2, until an
// ACK matches (by branch for a failure, by Call-ID and CSeq number for a 2xx)
// or 64*T1 pass; the second case is reported so the call can be ended. Every
// transaction is kept 64*T1 after its final response to absorb copies of its
// request, and no more than kMaxServerTransactions are kept at all: a flood
// of requests (BYEs for dialogs nobody has) pushes out the oldest finished
// transactions first, then the oldest of the rest.
//
// Thread safety: as TClientTransactions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "sip/transaction_key.h"
#include "sip/transaction_timers.h"

namespace sip_transaction {

inline constexpr std::size_t kMaxServerTransactions = 1024;

enum class TRequestKind {
    kNew,             // hand it to the user agent
    kRetransmission,  // a copy: the last response (if any) went out again
};

// An INVITE final response the far end never acknowledged.
struct TUnacknowledged {
    std::string callId;
    int status = 0;
};

class TServerTransactions {
public:
    explicit TServerTransactions(TSend send, TTimers timers = {});

    // A received request other than ACK.
    TRequestKind OnRequest(const TWireFacts& request, TTime now);
    // A received ACK: true when it ended the resending of a final response.
    bool OnAck(const TWireFacts& ack);
    // Called for every datagram the agent sends on its own; responses are
    // kept with their transaction.
    void OnSent(const std::string& text, const TDestination& destination, TTime now);
    // The same when the sender has the facts of `text` at hand already.
    void OnSent(const TWireFacts& facts, const std::string& text, const TDestination& destination,
                TTime now);
    // Sends what is due and forgets what is over; returns the INVITE final
    // responses that ran out of time without an ACK.
    std::vector<TUnacknowledged> Poll(TTime now);

    void Clear();
    std::size_t Count() const;

private:
    struct TEntry {
        TWireFacts request;
        std::string response;  // the last one sent
        int status = 0;
        TDestination destination;
        bool resending = false;  // an INVITE final response waiting for its ACK
        milliseconds interval{};
        TTime nextSend = TTime::max();
        TTime deadline = TTime::max();  // of resending, then of the whole entry
        uint64_t order = 0;             // of creation: the smallest is the oldest
    };

    // The entry of `key`, made (room made first) when there is none.
    std::pair<TEntry&, bool> FindOrAdd(const std::string& key);
    void DropOldest();

    const TSend Send_;
    const TTimers Timers_;
    mutable std::mutex Lock_;
    std::unordered_map<std::string, TEntry> Entries_;  // by TWireFacts::Key; guarded by Lock_
    uint64_t NextOrder_ = 0;                            // guarded by Lock_
};

}  // namespace sip_transaction
