// The call-rate programs' wait for a call to reach a state: a poll every
// 200 us, far below a call's set-up time, so the rate measured is the
// engine's and not the wait's.
#pragma once

#include <chrono>
#include <thread>

#include "engine/engine.h"

inline bool WaitForState(const ISipCallPtr& call, TCallState wanted, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (call->GetState() != wanted) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}
