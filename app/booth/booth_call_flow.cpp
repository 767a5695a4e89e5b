#include "app/booth/booth_call_flow.h"

#include <algorithm>
#include <exception>
#include <stdexcept>

#include "app/booth/call_clock.h"
#include "app/booth/call_rules.h"
#include "app/booth/rate_source.h"

TBoothCallFlow::TBoothCallFlow(IBoothLine& line, IRateSource& rates, ICallClock& clock, QObject* parent)
    : QObject(parent), Line_(line), Rates_(rates), Clock_(clock) {}

void TBoothCallFlow::Place(const QString& typed) {
    if (IsOpen()) throw std::logic_error("a call is already in progress");
    if (typed.isEmpty()) throw std::invalid_argument("no number to dial");
    ++Serial_;
    Phase_ = TBoothCallPhase::Ringing;
    LineCall_ = 0;
    Typed_ = typed;
    DialString_ = ::DialString(typed);
    Destination_.clear();
    Rate_.reset();
    Charge_ = {};
    End_ = {};
    FarEndRang_ = false;
    RateAsked_ = 0;
    RateFailed_ = 0;
    NextDelay_ = Retries_.Delay;
    emit Placed(Typed_, DialString_);
    try {
        LineCall_ = Line_.Dial(DialString_);
    } catch (const std::exception& error) {
        Finish({0, QString::fromUtf8(error.what()), false, true});
        throw;
    }
    AskRate();
}

void TBoothCallFlow::HangUp() {
    if (IsOpen() && LineCall_ != 0) Line_.HangUp(LineCall_);
}

void TBoothCallFlow::AskRate() {
    const std::uint64_t serial = Serial_;
    const int attempt = ++RateAsked_;
    Rates_.AskRate(DialString_, this, [this, serial, attempt](const std::optional<TRateReply>& reply) {
        RateReplied(serial, attempt, reply);
    });
    Clock_.After(Retries_.Wait, this, [this, serial, attempt] { RateFailed(serial, attempt); });
}

// A late answer to an earlier request of the same call is as good as the
// answer to the last one, during the call or after it.
void TBoothCallFlow::RateReplied(std::uint64_t serial, int attempt, const std::optional<TRateReply>& reply) {
    if (serial != Serial_ || Rate_ || !NeedsRate()) return;
    if (!reply || !reply->Priced) {
        RateFailed(serial, attempt);
        return;
    }
    Destination_ = reply->Destination;
    Rate_ = reply->Rate;
    emit RateKnown(Destination_, *Rate_);
    if (Charge_.Seconds == 0) return;
    Price();
    if (IsOpen())
        emit Charged(Charge_);
    else
        emit PricedAfterEnd(Charge_);
}

// Counted once per request, whichever comes first: its failed reply or its
// time-out. A call that ended unanswered has nothing to price.
void TBoothCallFlow::RateFailed(std::uint64_t serial, int attempt) {
    if (serial != Serial_ || Rate_ || attempt <= RateFailed_ || !NeedsRate()) return;
    RateFailed_ = attempt;
    emit RateMissing();
    const std::chrono::milliseconds delay = NextDelay_;
    NextDelay_ = std::min(NextDelay_ * 2, Retries_.MaxDelay);
    Clock_.After(delay, this, [this, serial] {
        if (serial == Serial_ && !Rate_ && RateAsked_ == RateFailed_ && NeedsRate()) AskRate();
    });
}

void TBoothCallFlow::LineAnswered(TLineCallId call) {
    if (call == 0 || call != LineCall_ || Phase_ != TBoothCallPhase::Ringing) return;
    Phase_ = TBoothCallPhase::InCall;
    End_.Answered = true;
    AnsweredAt_ = Clock_.Now();
    // A repeated 200 finds the call in conversation above and changes
    // nothing; the clock is checked too, so nothing restarts a running count.
    if (!Clock_.Ticking()) Clock_.StartTicks([this] { Tick(); });
    emit Answered();
}

void TBoothCallFlow::LineRinging(TLineCallId call) {
    if (call == 0 || call != LineCall_ || Phase_ != TBoothCallPhase::Ringing || FarEndRang_) return;
    FarEndRang_ = true;
    emit FarEndRinging();
}

void TBoothCallFlow::Tick() {
    if (Phase_ != TBoothCallPhase::InCall) return;
    if (!CountSeconds()) return;
    Price();
    emit Charged(Charge_);
}

// Counting ticks would lose every one the window's thread missed while busy
// (a slow disk write, a modal dialog): the customer would talk for free.
bool TBoothCallFlow::CountSeconds() {
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(Clock_.Now() - AnsweredAt_);
    const int seconds = static_cast<int>(std::max<std::int64_t>(elapsed.count(), 0));
    if (seconds <= Charge_.Seconds) return false;
    Charge_.Seconds = seconds;
    return true;
}

// A cost too large to hold leaves the last one standing.
void TBoothCallFlow::Price() {
    Charge_.Minutes = ChargedMinutes(Charge_.Seconds);
    if (!Rate_) return;
    try {
        Charge_.Cost = CallCost(*Rate_, Charge_.Seconds);
    } catch (const std::overflow_error&) {
    }
}

void TBoothCallFlow::LineEnded(TLineCallId call, int status, const QString& reason) {
    if (call == 0 || call != LineCall_ || !IsOpen()) return;
    Finish({status, reason, Phase_ == TBoothCallPhase::InCall, false});
}

void TBoothCallFlow::Finish(const TCallEnd& end) {
    Clock_.StopTicks();
    // The seconds since the last tick the window ran are the customer's too.
    if (Phase_ == TBoothCallPhase::InCall && CountSeconds()) {
        Price();
        emit Charged(Charge_);
    }
    Phase_ = TBoothCallPhase::Idle;
    End_ = end;
    emit Ended(End_);
}
