// Waiting longer after each failed attempt to reach a server, up to a
// ceiling, so a booth that cannot get on line keeps trying without
// hammering the provider.
#pragma once

#include <chrono>

class TRetryDelay {
public:
    TRetryDelay(std::chrono::milliseconds first, std::chrono::milliseconds ceiling)
        : First_(first), Ceiling_(ceiling), Next_(first) {}

    // The wait before the next attempt; each call doubles the following one.
    std::chrono::milliseconds Next() {
        const std::chrono::milliseconds wait = Next_;
        Next_ = Next_ * 2 > Ceiling_ ? Ceiling_ : Next_ * 2;
        return wait;
    }
    // After a success the next failure starts from the first wait again.
    void Reset() { Next_ = First_; }

private:
    std::chrono::milliseconds First_;
    std::chrono::milliseconds Ceiling_;
    std::chrono::milliseconds Next_;
};
