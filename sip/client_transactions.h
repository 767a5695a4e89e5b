// Client transactions (RFC 3261 17.1): every request the agent sends over
// UDP is sent again until its answer arrives; over TCP or TLS only the time
// limits run.
//
// INVITE: Timer A from T1, doubling, until the first response; Timer B ends
// the transaction unanswered after 64*T1 unless a provisional response came,
// and one answered only provisionally is dropped after 180 s.
// A final failure is remembered for Timer D (32 s) and an ACK sent for it is
// resent for each retransmission of that response; the ACK of a 2xx, which
// is a transaction of its own, is kept for the same time and resent for each
// retransmitted 2xx.
// Non-INVITE: Timer E from T1, doubling up to T2 (at T2 once a provisional
// response came), until the final response; Timer F ends it after 64*T1.
// The final response is remembered for T4 so its retransmissions are told
// apart from news.
//
// Thread safety: every method may be called from any thread; the send
// function runs under the layer's own lock, which is taken last.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "sip/transaction_key.h"
#include "sip/transaction_timers.h"

namespace sip_transaction {

// What a received response means to its transaction.
enum class TResponseKind {
    kUnmatched,       // no transaction sent its request (or it ended long ago, or the
                      // CSeq number is not its request's)
    kProvisional,     // a 1xx; `first` tells whether it is the first one
    kFinal,           // the first final response: the transaction is answered
    kRetransmission,  // a final response seen before: already handled
};

struct TResponseMatch {
    TResponseKind kind = TResponseKind::kUnmatched;
    bool first = false;
};

// A request as it went out.
struct TSentRequest {
    std::string text;
    TDestination destination;
};

// A transaction that ended without a final response.
struct TTimedOut {
    TWireFacts request;
    TDestination destination;
};

class TClientTransactions {
public:
    explicit TClientTransactions(TSend send, TTimers timers = {});

    // Called for every datagram the agent sends on its own (not for the
    // retransmissions): a request starts a transaction (replacing an ended
    // one with the same branch), an ACK is kept with its INVITE; anything
    // else is left alone.
    void OnSent(const std::string& text, const TDestination& destination, TTime now);
    // The same when the sender has the facts of `text` at hand already.
    void OnSent(const TWireFacts& facts, const std::string& text, const TDestination& destination,
                TTime now);
    // Called for every received response.
    TResponseMatch OnResponse(const TWireFacts& response, TTime now);
    // Sends what is due and ends transactions whose time is up; returns those
    // that ended unanswered (Timer B or F).
    std::vector<TTimedOut> Poll(TTime now);

    // The request `response` answers, as it was sent and where; none when
    // no transaction (still) has it. A failure's ACK repeats parts of it
    // and goes where it went.
    std::optional<TSentRequest> SentRequest(const TWireFacts& response) const;
    // True while the INVITE transaction of `branch` and `callId` has no
    // response at all: a CANCEL must wait (RFC 3261 9.1).
    bool AwaitsFirstResponse(const std::string& inviteBranch, const std::string& callId) const;
    // True while that INVITE transaction has no final response: a re-INVITE
    // of the far end crossing it is refused 491 (RFC 3261 14.2).
    bool AwaitsFinalResponse(const std::string& inviteBranch, const std::string& callId) const;
    // Forgets every transaction (the engine switched off).
    void Clear();
    std::size_t Count() const;
    // Transactions whose final response is still to come: every unanswered
    // one but an INVITE the far end never answered at all (no CANCEL can
    // end that one, RFC 3261 9.1).
    std::size_t Awaited() const;

private:
    enum class TState { kTrying, kProceeding, kCompleted };
    struct TEntry {
        TWireFacts request;
        std::string text;
        std::string ack;  // INVITE only: the ACK sent for its final response
        TDestination destination;
        TState state = TState::kTrying;
        milliseconds interval{};
        TTime nextSend{};
        TTime deadline{};  // Timer B/F while unanswered; D or K once completed
    };

    void KeepAck(const TWireFacts& ack, const std::string& text);
    bool IsInvite(const TEntry& entry) const { return entry.request.method == "INVITE"; }

    const TSend Send_;
    const TTimers Timers_;
    mutable std::mutex Lock_;
    std::unordered_map<std::string, TEntry> Entries_;  // by TWireFacts::Key; guarded by Lock_
};

}  // namespace sip_transaction
