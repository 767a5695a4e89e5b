// The till's side of the booth call in progress: the call flow reports its
// steps (placed, rated, answered, each second, ended) and gets the
// customer's price back; every step is written to the journal at once.
//
// A journal that fails (a full disk, a file another program holds) never
// stops or delays a call: the first failure of a call is handed to the
// error handler, and the figures go on being priced and shown.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include <QString>

#include "app/till/call_journal.h"
#include "app/till/selling_price.h"
#include "app/till/wall_clock.h"

// A call's figures after `seconds` at the provider's rate: its cost with
// every minute begun charged whole, and the customer's price under the
// shop's rules for the number (as RatedNumber gives it). Throws
// std::overflow_error for a figure too large to hold.
TCallFigures PricedFigures(const TSellingRates& rates, const QString& ratedNumber, TMoney providerRate, int seconds);

class TCallRecorder {
public:
    using TErrorHandler = std::function<void(const QString&)>;

    // `journal` may be null: the booth runs without one when it cannot be
    // opened, and still prices its calls.
    TCallRecorder(TCallJournal* journal, TClock clock, TErrorHandler onError);

    void SetSellingRates(const TSellingRates& rates) { Rates_ = rates; }
    const TSellingRates& SellingRates() const { return Rates_; }

    // A new call; the figures start again from zero.
    void Placed(const QString& typed, const QString& dialString);
    // The portal's rate. After the end of a call still unpriced it prices
    // the call from its first second; a call priced by hand or paid
    // meanwhile keeps what it has.
    void Rated(const QString& destination, TMoney providerRate);
    void Answered();
    // One more second of conversation at the provider's rate as shown and
    // the provider's cost as shown; returns the figures with the customer's
    // price. Without a rate nothing is priced (not even the minimum charge):
    // the call waits for its rate instead.
    const TCallFigures& Tick(int seconds, std::optional<TMoney> providerRate, TMoney providerCost);
    // The booth's guard cut the call, for the reason given.
    void Cut(const QString& reason);
    // The end, with the SIP status that ended it (0 when none).
    void Ended(int sipStatus, const QString& reason, const std::optional<TCallQuality>& quality = std::nullopt);
    // The far end's flags of the call placed last (they may come after its end).
    void AnswerFlagged(const QStringList& flags);

    bool IsOpen() const { return Open_; }
    // The journal's id of the call placed last, kept after its end; empty
    // when it was not recorded.
    std::optional<std::int64_t> LastCallId() const { return CallId_; }
    const TCallFigures& Figures() const { return Figures_; }

private:
    // Runs a journal write; a failure is reported once per call.
    template <class TWrite>
    void Record(TWrite&& write);

    TCallJournal* Journal_;
    TClock Clock_;
    TErrorHandler OnError_;
    TSellingRates Rates_;
    QString RatedNumber_;
    std::optional<std::int64_t> CallId_;
    TCallFigures Figures_;
    bool Open_ = false;
    bool Reported_ = false;
};
