#include "media/call_list.h"

#include <algorithm>

void TSipCalls::Add(ISipCallPtr call) {
    std::lock_guard<std::recursive_mutex> guard(ListLock_);
    Calls_.push_back(std::move(call));
}

void TSipCalls::Remove(const ISipCallPtr& call) {
    ISipCallPtr removed;  // released after the lock, in case it is the last
    std::lock_guard<std::recursive_mutex> guard(ListLock_);
    const auto entry = std::find(Calls_.begin(), Calls_.end(), call);
    if (entry == Calls_.end())
        return;
    removed = std::move(*entry);
    Calls_.erase(entry);
}

void TSipCalls::Clear() {
    std::vector<ISipCallPtr> calls;
    {
        std::lock_guard<std::recursive_mutex> guard(ListLock_);
        calls.swap(Calls_);
    }
    // The references go outside the lock, entry 0 first: a last reference
    // stops the call's media and joins its threads.
    for (ISipCallPtr& call : calls)
        call.reset();
}

ISipCallPtr TSipCalls::FindByCallId(const std::string& callId) {
    std::lock_guard<std::recursive_mutex> guard(ListLock_);
    for (const ISipCallPtr& call : Calls_) {
        if (call->GetCallId() == callId)
            return call;
    }
    return nullptr;
}

bool TSipCalls::Contains(const ISipCallPtr& call) {
    std::lock_guard<std::recursive_mutex> guard(ListLock_);
    return std::find(Calls_.begin(), Calls_.end(), call) != Calls_.end();
}
