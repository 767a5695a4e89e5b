// A portable auto-reset event: a waiter that is released consumes the
// signal, so each Set wakes at most one waiter.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

class TAutoResetEvent {
public:
    TAutoResetEvent() = default;
    TAutoResetEvent(const TAutoResetEvent&) = delete;
    TAutoResetEvent& operator=(const TAutoResetEvent&) = delete;

    // Signals: releases one waiter, or stays signalled until the next Wait.
    void Set();
    // Clears a signal that no waiter has consumed.
    void Reset();
    // Releases one thread that is waiting now, if any, and leaves the event
    // not signalled; with nobody waiting it has no effect.
    void Pulse();
    // True when the event was signalled (the signal is consumed) or a pulse
    // released this waiter; false after `timeout` without either.
    bool Wait(std::chrono::milliseconds timeout);
    // Threads inside Wait now, released or not yet returned included.
    int Waiting();

private:
    std::mutex Lock_;
    std::condition_variable Changed_;
    bool Signalled_ = false;  // guarded by Lock_
    int Waiters_ = 0;         // guarded by Lock_: threads inside Wait
    int Releases_ = 0;        // guarded by Lock_: pulses granted, not yet taken
};
using TAutoResetEventPtr = std::shared_ptr<TAutoResetEvent>;
