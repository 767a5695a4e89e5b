#include "sip/client_transactions.h"

#include <algorithm>

namespace sip_transaction {

namespace {

// Timer D: how long an INVITE's final answer may come again.
constexpr milliseconds kInviteCompletedHold{32000};
// An INVITE answered only provisionally is kept no longer than a call may
// take to be set up, with a margin: past that the call has given up on it.
constexpr milliseconds kInviteProceedingHold{180000};

}  // namespace

TClientTransactions::TClientTransactions(TSend send, TTimers timers)
    : Send_(std::move(send)), Timers_(timers) {}

void TClientTransactions::OnSent(const std::string& text, const TDestination& destination,
                                 TTime now) {
    OnSent(WireFactsOfText(text), text, destination, now);
}

void TClientTransactions::OnSent(const TWireFacts& facts, const std::string& text,
                                 const TDestination& destination, TTime now) {
    if (!facts.request) return;
    std::lock_guard<std::mutex> guard(Lock_);
    if (facts.method == "ACK") return KeepAck(facts, text);
    TEntry& entry = Entries_[facts.Key()];
    entry = TEntry{};
    entry.request = facts;
    entry.text = text;
    entry.destination = destination;
    entry.interval = Timers_.t1;
    entry.nextSend = destination.reliable ? TTime::max() : now + entry.interval;
    entry.deadline = now + Timers_.Limit();
}

void TClientTransactions::KeepAck(const TWireFacts& ack, const std::string& text) {
    // An ACK to a failure shares its INVITE's branch; an ACK to a 2xx has its
    // own and is found by Call-ID and CSeq number.
    auto found = Entries_.find(ack.Key());
    if (found == Entries_.end()) {
        found = std::find_if(Entries_.begin(), Entries_.end(), [&](const auto& item) {
            return IsInvite(item.second) && item.second.request.callId == ack.callId &&
                   item.second.request.cseq == ack.cseq;
        });
    }
    if (found != Entries_.end()) found->second.ack = text;
}

TResponseMatch TClientTransactions::OnResponse(const TWireFacts& response, TTime now) {
    std::lock_guard<std::mutex> guard(Lock_);
    const auto found = Entries_.find(response.Key());
    // The branch and method name the transaction; a CSeq number other than
    // its request's is nobody's answer.
    if (found == Entries_.end() || found->second.request.cseq != response.cseq) return {};
    TEntry& entry = found->second;
    if (entry.state == TState::kCompleted) {
        if (response.status < 200) return {TResponseKind::kRetransmission, false};
        if (!entry.ack.empty()) Send_(entry.ack, entry.destination.address, entry.destination.port);
        return {TResponseKind::kRetransmission, false};
    }
    if (response.status < 200) {
        const bool first = entry.state == TState::kTrying;
        entry.state = TState::kProceeding;
        if (IsInvite(entry)) {
            // The far end has the INVITE: no more copies, and no Timer B; the
            // call's own set-up limit bounds the wait from here, and the
            // transaction goes some time after that.
            entry.nextSend = TTime::max();
            entry.deadline = now + kInviteProceedingHold;
        } else if (!entry.destination.reliable) {
            entry.interval = Timers_.t2;
            entry.nextSend = now + entry.interval;
        }
        return {TResponseKind::kProvisional, first};
    }
    entry.state = TState::kCompleted;
    entry.nextSend = TTime::max();
    entry.deadline = now + (IsInvite(entry) ? kInviteCompletedHold : Timers_.t4);
    return {TResponseKind::kFinal, true};
}

std::vector<TTimedOut> TClientTransactions::Poll(TTime now) {
    std::vector<TTimedOut> timedOut;
    std::lock_guard<std::mutex> guard(Lock_);
    for (auto it = Entries_.begin(); it != Entries_.end();) {
        TEntry& entry = it->second;
        if (now >= entry.deadline) {
            // An INVITE still ringing that long was ended by its call's own
            // set-up limit: it goes without a word.
            const bool ringing = IsInvite(entry) && entry.state == TState::kProceeding;
            if (entry.state != TState::kCompleted && !ringing)
                timedOut.push_back({entry.request, entry.destination});
            it = Entries_.erase(it);
            continue;
        }
        if (now >= entry.nextSend) {
            Send_(entry.text, entry.destination.address, entry.destination.port);
            if (IsInvite(entry)) {
                entry.interval *= 2;
            } else if (entry.state == TState::kTrying) {
                entry.interval = std::min(entry.interval * 2, Timers_.t2);
            }
            entry.nextSend = now + entry.interval;
        }
        ++it;
    }
    return timedOut;
}

std::optional<TSentRequest> TClientTransactions::SentRequest(const TWireFacts& response) const {
    std::lock_guard<std::mutex> guard(Lock_);
    const auto found = Entries_.find(response.Key());
    if (found == Entries_.end() || found->second.request.cseq != response.cseq) return std::nullopt;
    return TSentRequest{found->second.text, found->second.destination};
}

bool TClientTransactions::AwaitsFirstResponse(const std::string& inviteBranch,
                                              const std::string& callId) const {
    std::lock_guard<std::mutex> guard(Lock_);
    const auto found = Entries_.find("INVITE " + inviteBranch + ' ' + callId);
    return found != Entries_.end() && found->second.state == TState::kTrying;
}

bool TClientTransactions::AwaitsFinalResponse(const std::string& inviteBranch,
                                              const std::string& callId) const {
    std::lock_guard<std::mutex> guard(Lock_);
    const auto found = Entries_.find("INVITE " + inviteBranch + ' ' + callId);
    return found != Entries_.end() && found->second.state != TState::kCompleted;
}

void TClientTransactions::Clear() {
    std::lock_guard<std::mutex> guard(Lock_);
    Entries_.clear();
}

std::size_t TClientTransactions::Count() const {
    std::lock_guard<std::mutex> guard(Lock_);
    return Entries_.size();
}

std::size_t TClientTransactions::Awaited() const {
    std::lock_guard<std::mutex> guard(Lock_);
    return static_cast<std::size_t>(std::count_if(Entries_.begin(), Entries_.end(), [this](const auto& entry) {
        const TEntry& e = entry.second;
        if (IsInvite(e)) return e.state == TState::kProceeding;
        return e.state != TState::kCompleted;
    }));
}

}  // namespace sip_transaction
