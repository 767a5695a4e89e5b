// A call offered while another is in progress: announced with the number
// `answer N` takes (the call list's number, like every call's), never made
// the current call behind the operator's back, and refused busy when nobody
// answers it in time.
#include <climits>
#include <stdexcept>

#include "tools/softphone_cli/cli_agent.h"

void TCliAgent::OfferIncoming(const ISipCallPtr& call) {
    const ISipCallPtr current = Calls_.Current();
    const bool waits = current && current->GetState() != csIdle;
    const int number = AdoptCall(call, waits);
    if (!waits) {
        Print("incoming " + call->GetTarget());
        if (Options_.autoAnswer)
            AnswerCall(call);
        return;
    }
    Print("incoming " + call->GetTarget() + " waiting " + std::to_string(number));
    auto timer = std::make_unique<QTimer>();
    timer->setSingleShot(true);
    connect(timer.get(), &QTimer::timeout, this, [this, number] { RefuseWaiting(number); });
    timer->start(Options_.busyAfterSeconds * 1000);
    Waiting_[number] = {call, std::move(timer)};
}

void TCliAgent::RefuseWaiting(int number) {
    const auto found = Waiting_.find(number);
    if (found == Waiting_.end())
        return;
    const ISipCallPtr call = found->second.call;
    Waiting_.erase(found);
    try {
        RejectCall(call);
    } catch (const std::exception& e) {
        PrintError(e.what());
        Calls_.Remove(call);
    }
}

void TCliAgent::AnswerWaiting(const std::string& argument) {
    const int number = ParseBoundedInt(argument, 1, INT_MAX, "call number");
    const auto found = Waiting_.find(number);
    if (found == Waiting_.end())
        throw std::invalid_argument("no waiting call " + argument);
    const ISipCallPtr call = found->second.call;
    Waiting_.erase(found);
    Calls_.MakeCurrent(call);
    AnswerCall(call);
}

void TCliAgent::ForgetWaiting(const ISipCallPtr& call) {
    for (auto it = Waiting_.begin(); it != Waiting_.end(); ++it) {
        if (it->second.call == call) {
            Waiting_.erase(it);
            return;
        }
    }
}
