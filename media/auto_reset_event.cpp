#include "media/auto_reset_event.h"

void TAutoResetEvent::Set() {
    {
        std::lock_guard<std::mutex> guard(Lock_);
        Signalled_ = true;
    }
    Changed_.notify_one();
}

void TAutoResetEvent::Reset() {
    std::lock_guard<std::mutex> guard(Lock_);
    Signalled_ = false;
}

void TAutoResetEvent::Pulse() {
    {
        std::lock_guard<std::mutex> guard(Lock_);
        Signalled_ = false;
        // Only a thread already waiting and not yet released may take it.
        if (Waiters_ <= Releases_)
            return;
        ++Releases_;
    }
    // Every waiter rechecks; the one that takes the release returns.
    Changed_.notify_all();
}

bool TAutoResetEvent::Wait(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(Lock_);
    ++Waiters_;
    const bool released = Changed_.wait_for(guard, timeout, [this] {
        return Signalled_ || Releases_ > 0;
    });
    --Waiters_;
    if (!released)
        return false;
    if (Releases_ > 0)
        --Releases_;
    else
        Signalled_ = false;
    return true;
}

int TAutoResetEvent::Waiting() {
    std::lock_guard<std::mutex> guard(Lock_);
    return Waiters_;
}
