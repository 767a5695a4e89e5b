// A call offered while another is in progress: announced with the number
// `answer N` takes, never made the current call behind the operator's back,
// and refused busy when nobody answers it in time.
#include <stdexcept>

#include "tools/softphone_cli/cli_agent.h"

int TCliAgent::NumberNextCall() { return ++CallCount_; }

void TCliAgent::OfferIncoming(const ISipCallPtr& call) {
    const int number = NumberNextCall();
    if (!Call_) {
        Call_ = call;
        Print("incoming " + call->GetTarget());
        if (Options_.autoAnswer)
            Client_.Answer(call);
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
        Client_.Reject(call);
    } catch (const std::exception& e) {
        PrintError(e.what());
    }
}

void TCliAgent::AnswerWaiting(const std::string& argument) {
    const int number = ParseBoundedInt(argument, 1, 1000000, "call number");
    const auto found = Waiting_.find(number);
    if (found == Waiting_.end())
        throw std::invalid_argument("no waiting call " + argument);
    const ISipCallPtr call = found->second.call;
    Waiting_.erase(found);
    Client_.Answer(call);
    Call_ = call;
}

void TCliAgent::ForgetWaiting(const ISipCallPtr& call) {
    for (auto it = Waiting_.begin(); it != Waiting_.end(); ++it) {
        if (it->second.call == call) {
            Waiting_.erase(it);
            return;
        }
    }
}
