// Progress of a call we placed before it rings: `calling N trying` when the
// server takes the INVITE, `calling N no answer yet from HOST:PORT` when it
// stays silent through the first retransmissions, so an operator is not left
// looking at nothing for the half minute the INVITE may take to give up.
#include <QTimer>

#include "sip/message.h"
#include "tools/softphone_cli/cli_agent.h"

namespace {

// The INVITE went out again at 0.5 s and 1.5 s (Timer A from T1 = 500 ms);
// a server that answered neither is not answering.
constexpr int kSilentServerMs = 1600;

}  // namespace

void TCliAgent::WatchProgress(const ISipCallPtr& call) {
    std::weak_ptr<ISipCall> watched = call;
    QTimer::singleShot(kSilentServerMs, this, [this, watched] {
        const ISipCallPtr call = watched.lock();
        if (!call || Calls_.NumberOf(call) == 0 || call->GetState() != csCalling ||
            Calls_.Has(call, TCallNote::kProgress))
            return;
        const ISipAccountPtr account = call->GetAccount();
        if (!account)
            return;
        const std::string proxy = account->GetProxy();
        Print("calling " + std::to_string(Calls_.NumberOf(call)) + " no answer yet from " +
              (proxy.empty() ? account->GetDomain() : proxy) + ":" +
              std::to_string(account->GetServerPort()));
    });
}

void TCliAgent::OnReceivedText(const std::string& text) {
    static const std::string kTrying = "SIP/2.0 100";
    if (text.compare(0, kTrying.size(), kTrying) != 0)
        return;
    const TSipMessage message(text);
    if (message.CSeqMethod != "INVITE")
        return;
    for (const auto& [number, call] : Calls_.All()) {
        if (call->GetIncoming() || call->GetCallId() != message.CallId)
            continue;
        // Events come in the order they happened: a 100 seen before the
        // ringback or the answer was printed is the call's first progress,
        // whatever state the call has reached since.
        if (Calls_.Note(call, TCallNote::kProgress))
            Print("calling " + std::to_string(number) + " trying");
        return;
    }
}
