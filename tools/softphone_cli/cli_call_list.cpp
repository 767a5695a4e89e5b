#include "tools/softphone_cli/cli_call_list.h"

#include <algorithm>

int TCliCallList::Add(ISipCallPtr call, bool waits) {
    const int number = NextNumber_++;
    if (waits)
        Waiting_.push_back(call);
    else
        Current_ = call;
    Calls_.emplace_back(number, std::move(call));
    return number;
}

void TCliCallList::MakeCurrent(const ISipCallPtr& call) {
    if (NumberOf(call) == 0)
        return;
    std::erase(Waiting_, call);
    Current_ = call;
}

bool TCliCallList::Waits(const ISipCallPtr& call) const {
    return std::find(Waiting_.begin(), Waiting_.end(), call) != Waiting_.end();
}

int TCliCallList::NumberOf(const ISipCallPtr& call) const {
    for (const auto& [number, known] : Calls_)
        if (known == call)
            return number;
    return 0;
}

ISipCallPtr TCliCallList::Find(int number) const {
    for (const auto& [known, call] : Calls_)
        if (known == number)
            return call;
    return nullptr;
}

bool TCliCallList::Note(const ISipCallPtr& call, TCallNote note) {
    if (NumberOf(call) == 0)
        return false;
    const unsigned bit = 1u << static_cast<unsigned>(note);
    unsigned& notes = Notes_[call.get()];
    const bool fresh = (notes & bit) == 0;
    notes |= bit;
    return fresh;
}

bool TCliCallList::Has(const ISipCallPtr& call, TCallNote note) const {
    const auto found = Notes_.find(call.get());
    return found != Notes_.end() && (found->second & (1u << static_cast<unsigned>(note))) != 0;
}

void TCliCallList::Remove(const ISipCallPtr& call) {
    Notes_.erase(call.get());
    std::erase_if(Calls_, [&](const auto& entry) { return entry.second == call; });
    std::erase(Waiting_, call);
    if (Current_ != call)
        return;
    Current_ = nullptr;
    for (auto it = Calls_.rbegin(); it != Calls_.rend(); ++it) {
        if (!Waits(it->second)) {
            Current_ = it->second;
            break;
        }
    }
}

std::string StatusWithReason(const std::string& statusText) {
    static const std::pair<const char*, const char*> kReasons[] = {
        {"200", "OK"},
        {"202", "Accepted"},
        {"301", "Moved Permanently"},
        {"302", "Moved Temporarily"},
        {"400", "Bad Request"},
        {"401", "Unauthorized"},
        {"403", "Forbidden"},
        {"404", "Not Found"},
        {"405", "Method Not Allowed"},
        {"407", "Proxy Authentication Required"},
        {"408", "Request Timeout"},
        {"410", "Gone"},
        {"415", "Unsupported Media Type"},
        {"480", "Temporarily Unavailable"},
        {"481", "Call/Transaction Does Not Exist"},
        {"482", "Loop Detected"},
        {"483", "Too Many Hops"},
        {"484", "Address Incomplete"},
        {"486", "Busy Here"},
        {"487", "Request Terminated"},
        {"488", "Not Acceptable Here"},
        {"491", "Request Pending"},
        {"500", "Server Internal Error"},
        {"501", "Not Implemented"},
        {"502", "Bad Gateway"},
        {"503", "Service Unavailable"},
        {"504", "Server Time-out"},
        {"600", "Busy Everywhere"},
        {"603", "Decline"},
        {"604", "Does Not Exist Anywhere"},
        {"606", "Not Acceptable"},
    };
    for (const auto& [code, reason] : kReasons)
        if (statusText == code)
            return statusText + " " + reason;
    return statusText;
}

std::string CallStateName(TCallState state) {
    switch (state) {
    case csIdle: return "ended";
    case csCalling:
    case csAuthenticating: return "calling";
    case csRinging: return "ringing";
    case csConnected: return "connected";
    case csHolding: return "held";
    case csTransferring:
    case csTransferAuth: return "transferring";
    }
    return "unknown";
}

std::string NumberedWavName(const std::string& fileName, int number) {
    if (number <= 1)
        return fileName;
    const std::string stem = fileName.substr(0, fileName.size() - 4);
    return stem + "-" + std::to_string(number) + fileName.substr(fileName.size() - 4);
}
