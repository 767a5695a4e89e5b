// The engine's list of live calls (TSipCalls).
//
// Lock order: the list lock is taken before a call's lock, never the other
// way round; a path holding a call's lock finishes with the call and releases
// it before it touches the list.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "sip/sipints.h"

class TSipCalls {
public:
    TSipCalls() = default;
    ~TSipCalls() { Clear(); }
    TSipCalls(const TSipCalls&) = delete;
    TSipCalls& operator=(const TSipCalls&) = delete;

    // Appends under the list lock; the list holds a reference.
    void Add(ISipCallPtr call);
    // Under the list lock: drops the entry and its reference when present.
    void Remove(const ISipCallPtr& call);
    // Empties the list, entry 0 first.
    void Clear();
    // Takes no lock: callers hold it around walks over the list.
    ISipCallPtr Get(int index) const { return Calls_.at(index); }
    int Count() const { return static_cast<int>(Calls_.size()); }
    // Under the list lock: the first call, from the start of the list, whose
    // Call-ID equals `callId` exactly; empty when none does.
    ISipCallPtr FindByCallId(const std::string& callId);
    bool Contains(const ISipCallPtr& call);

    void Lock() { ListLock_.lock(); }
    void Unlock() { ListLock_.unlock(); }
    void lock() { Lock(); }
    void unlock() { Unlock(); }

private:
    std::recursive_mutex ListLock_;
    std::vector<ISipCallPtr> Calls_;  // guarded by ListLock_
};
