// The engine's reference to its event sink, with the lock that guards it.
//
// A notification is made only while a sink is installed. The sink is called
// outside the lock with a reference of its own, so a sink that is replaced
// meanwhile finishes the notification it was given, and a sink may itself
// install another one without deadlocking.
#pragma once

#include <mutex>
#include <utility>

#include "sip/sipints.h"

class TEventSinkRef {
public:
    ISipEventHandlerPtr Get() const;
    void Set(ISipEventHandlerPtr sink);

    // Runs `notify(sink)` when a sink is installed; false when none is.
    template <class TNotify>
    bool Notify(TNotify&& notify) const {
        const ISipEventHandlerPtr sink = Get();
        if (!sink)
            return false;
        std::forward<TNotify>(notify)(*sink);
        return true;
    }

private:
    mutable std::mutex Lock_;
    ISipEventHandlerPtr Sink_;  // guarded by Lock_
};
