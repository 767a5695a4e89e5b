// Watches a call's running cost against the account's balance so that a
// prepaid call never runs the account into debt: it warns one minute and ten
// seconds before the balance runs out at the current rate and, unless set to
// warn only, asks for the hang-up on the last second the balance pays for.
//
// The guard keeps no clock: the call flow gives it the seconds of
// conversation at each tick, so tests drive it second by second. A tick may
// come late or skip seconds (the event loop was busy); whatever came due in
// between is reported at once, the most urgent only.
//
// Charging follows the booth's own rule: increment k+1 is charged from the
// second that shows k whole increments, so with per-minute billing a call of
// 00:01:00 already pays two minutes.
#pragma once

#include <cstdint>
#include <optional>

#include "app/money/money.h"

struct TCreditGuardSettings {
    // false: warn only, the call goes on when the balance runs out.
    bool HangUpAtZero = true;
    // Seconds charged at a time; the rate is per minute all the same.
    int BillingIncrement = 60;
};

enum class TCreditEvent {
    None,
    OneMinuteLeft,
    TenSecondsLeft,
    HangUp,  // the balance pays for no further second: end the call now
    RanOut,  // the same moment when set to warn only
};

class TCreditGuard {
public:
    static constexpr int kFirstWarning = 60;
    static constexpr int kSecondWarning = 10;

    explicit TCreditGuard(TCreditGuardSettings settings = {});

    // The balance before the call, as the portal last gave it.
    void SetBalance(TMoney balance);
    // The rate per minute of the call's destination; none (or zero) until
    // the portal answers, and then nothing is guarded.
    void SetRate(std::optional<TMoney> ratePerMinute);

    bool Guarding() const { return RunOut_.has_value(); }
    // Seconds of conversation after which the balance no longer pays the
    // next increment; empty when nothing is guarded.
    std::optional<std::int64_t> RunOutSecond() const { return RunOut_; }
    // From the first warning on, until a new balance or rate moves the run
    // out beyond a minute again.
    bool Warning() const { return WarnedMinute_; }

    // The event due after `elapsed` seconds of conversation, each at most
    // once per call (a new balance or rate that moves the run-out further
    // away arms the warnings again).
    TCreditEvent Tick(std::int64_t elapsed);

private:
    void Recompute();

    TCreditGuardSettings Settings_;
    TMoney Balance_;
    std::optional<TMoney> Rate_;
    std::optional<std::int64_t> RunOut_;
    std::int64_t Elapsed_ = 0;
    bool WarnedMinute_ = false;
    bool WarnedTenSeconds_ = false;
    bool Ended_ = false;
};

// Whether a balance is low after a portal refresh: it pays for fewer than
// `minutes` minutes at the last rate. No rate, or no minutes set, is never
// low.
bool IsLowBalance(TMoney balance, std::optional<TMoney> lastRatePerMinute, int minutes);
