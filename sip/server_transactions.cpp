#include "sip/server_transactions.h"

#include <algorithm>

namespace sip_transaction {

namespace {

// A request never answered (an incoming call nobody took and nobody
// rejected) is forgotten after the call set-up limit and a margin.
constexpr milliseconds kUnansweredHold{180000};

}  // namespace

TServerTransactions::TServerTransactions(TSend send, TTimers timers)
    : Send_(std::move(send)), Timers_(timers) {}

TRequestKind TServerTransactions::OnRequest(const TWireFacts& request, TTime now) {
    std::lock_guard<std::mutex> guard(Lock_);
    const auto [entry, inserted] = FindOrAdd(request.Key());
    if (inserted) {
        entry.request = request;
        entry.deadline = now + kUnansweredHold;
        return TRequestKind::kNew;
    }
    if (!entry.response.empty())
        Send_(entry.response, entry.destination.address, entry.destination.port);
    return TRequestKind::kRetransmission;
}

bool TServerTransactions::OnAck(const TWireFacts& ack) {
    std::lock_guard<std::mutex> guard(Lock_);
    auto found = Entries_.find(ack.Key());
    if (found == Entries_.end() || !found->second.resending) {
        found = std::find_if(Entries_.begin(), Entries_.end(), [&](const auto& item) {
            const TEntry& entry = item.second;
            return entry.resending && entry.request.callId == ack.callId &&
                   entry.request.cseq == ack.cseq;
        });
    }
    if (found == Entries_.end() || !found->second.resending) return false;
    TEntry& entry = found->second;
    entry.resending = false;
    entry.nextSend = TTime::max();
    return true;
}

void TServerTransactions::OnSent(const std::string& text, const TDestination& destination,
                                 TTime now) {
    OnSent(WireFactsOfText(text), text, destination, now);
}

void TServerTransactions::OnSent(const TWireFacts& facts, const std::string& text,
                                 const TDestination& destination, TTime now) {
    if (facts.request || facts.status == 0) return;
    std::lock_guard<std::mutex> guard(Lock_);
    TEntry& entry = FindOrAdd(facts.Key()).first;
    if (entry.request.method.empty()) entry.request = facts;
    // A provisional response after the final one changes nothing on the wire.
    if (entry.status >= 200 && facts.status < 200) return;
    entry.response = text;
    entry.status = facts.status;
    entry.destination = destination;
    if (facts.status < 200) return;
    entry.deadline = now + Timers_.Limit();
    // A 2xx is resent end to end until its ACK whatever the hop's transport
    // (RFC 3261 13.3.1.4); a failure only over UDP (Timer G).
    entry.resending = facts.method == "INVITE" && (facts.status < 300 || !destination.reliable);
    entry.interval = Timers_.t1;
    entry.nextSend = entry.resending ? now + entry.interval : TTime::max();
}

std::vector<TUnacknowledged> TServerTransactions::Poll(TTime now) {
    std::vector<TUnacknowledged> unacknowledged;
    std::lock_guard<std::mutex> guard(Lock_);
    for (auto it = Entries_.begin(); it != Entries_.end();) {
        TEntry& entry = it->second;
        if (now >= entry.deadline) {
            if (entry.resending) unacknowledged.push_back({entry.request.callId, entry.status});
            it = Entries_.erase(it);
            continue;
        }
        if (entry.resending && now >= entry.nextSend) {
            Send_(entry.response, entry.destination.address, entry.destination.port);
            entry.interval = std::min(entry.interval * 2, Timers_.t2);
            entry.nextSend = now + entry.interval;
        }
        ++it;
    }
    return unacknowledged;
}

std::pair<TServerTransactions::TEntry&, bool> TServerTransactions::FindOrAdd(const std::string& key) {
    const auto found = Entries_.find(key);
    if (found != Entries_.end()) return {found->second, false};
    if (Entries_.size() >= kMaxServerTransactions) DropOldest();
    TEntry& entry = Entries_[key];
    entry.order = NextOrder_++;
    return {entry, true};
}

// A finished transaction only absorbs copies; one still waiting for its
// answer or its ACK goes only when no finished one is left.
void TServerTransactions::DropOldest() {
    auto oldest = Entries_.end();
    bool oldestFinished = false;
    for (auto it = Entries_.begin(); it != Entries_.end(); ++it) {
        const TEntry& entry = it->second;
        const bool finished = entry.status >= 200 && !entry.resending;
        if (oldest == Entries_.end() || (finished && !oldestFinished) ||
            (finished == oldestFinished && entry.order < oldest->second.order)) {
            oldest = it;
            oldestFinished = finished;
        }
    }
    if (oldest != Entries_.end()) Entries_.erase(oldest);
}

void TServerTransactions::Clear() {
    std::lock_guard<std::mutex> guard(Lock_);
    Entries_.clear();
}

std::size_t TServerTransactions::Count() const {
    std::lock_guard<std::mutex> guard(Lock_);
    return Entries_.size();
}

}  // namespace sip_transaction
