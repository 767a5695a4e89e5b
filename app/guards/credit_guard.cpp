#include "app/guards/credit_guard.h"

#include <limits>

namespace {

// The price of one billing increment, rounded up to the ten-thousandth so
// the guard never lets a call run on a fraction the balance lacks.
std::int64_t IncrementPrice(TMoney ratePerMinute, int increment) {
    std::int64_t product = 0;
    if (__builtin_mul_overflow(ratePerMinute.TenThousandths, static_cast<std::int64_t>(increment), &product))
        return std::numeric_limits<std::int64_t>::max();
    return (product + 59) / 60;
}

}  // namespace

TCreditGuard::TCreditGuard(TCreditGuardSettings settings) : Settings_(settings) {
    if (Settings_.BillingIncrement < 1) Settings_.BillingIncrement = 60;
}

void TCreditGuard::SetBalance(TMoney balance) {
    Balance_ = balance;
    Recompute();
}

void TCreditGuard::SetRate(std::optional<TMoney> ratePerMinute) {
    Rate_ = ratePerMinute;
    Recompute();
}

void TCreditGuard::Recompute() {
    if (!Rate_ || Rate_->TenThousandths <= 0) {
        RunOut_.reset();
        return;
    }
    const std::int64_t price = IncrementPrice(*Rate_, Settings_.BillingIncrement);
    const std::int64_t increments = Balance_.TenThousandths > 0 ? Balance_.TenThousandths / price : 0;
    std::int64_t runOut = 0;
    if (__builtin_mul_overflow(increments, static_cast<std::int64_t>(Settings_.BillingIncrement), &runOut))
        runOut = std::numeric_limits<std::int64_t>::max();
    RunOut_ = runOut;
    // A top-up (or a cheaper rate) gives the customer the warnings again
    // before the new run-out; a smaller balance keeps those already given.
    const std::int64_t left = runOut - Elapsed_;
    if (left > kFirstWarning) WarnedMinute_ = false;
    if (left > kSecondWarning) WarnedTenSeconds_ = false;
    if (left > 1) Ended_ = false;
}

TCreditEvent TCreditGuard::Tick(std::int64_t elapsed) {
    Elapsed_ = elapsed;
    if (!RunOut_ || Ended_) return TCreditEvent::None;
    const std::int64_t left = *RunOut_ - elapsed;
    if (left <= 1) {
        Ended_ = WarnedMinute_ = WarnedTenSeconds_ = true;
        return Settings_.HangUpAtZero ? TCreditEvent::HangUp : TCreditEvent::RanOut;
    }
    if (left <= kSecondWarning && !WarnedTenSeconds_) {
        WarnedTenSeconds_ = WarnedMinute_ = true;
        return TCreditEvent::TenSecondsLeft;
    }
    if (left <= kFirstWarning && !WarnedMinute_) {
        WarnedMinute_ = true;
        return TCreditEvent::OneMinuteLeft;
    }
    return TCreditEvent::None;
}

bool IsLowBalance(TMoney balance, std::optional<TMoney> lastRatePerMinute, int minutes) {
    if (!lastRatePerMinute || lastRatePerMinute->TenThousandths <= 0 || minutes <= 0) return false;
    std::int64_t needed = 0;
    if (__builtin_mul_overflow(lastRatePerMinute->TenThousandths, static_cast<std::int64_t>(minutes), &needed))
        return true;
    return balance.TenThousandths < needed;
}
