// The customer's price: what the shop charges for a call, worked out from
// the provider's rate per minute and the shop's own selling rules. Plain
// functions; the window and the journal only show and keep their results.
#pragma once

#include <cstdint>
#include <vector>

#include <QString>

#include "app/money/money.h"

// A factor over the provider's rate in ten-thousandths: 10000 is 1.00.
inline constexpr std::int64_t kUnitFactor = 10000;

// A selling rule for the numbers that begin with Prefix (digits of the
// international number, without the leading "00"): either a fixed price per
// minute or a factor over the provider's rate.
struct TPrefixRule {
    enum class TKind { Price, Factor };

    QString Prefix;
    TKind Kind = TKind::Factor;
    TMoney Price;                       // per minute, when Kind is Price
    std::int64_t Factor = kUnitFactor;  // when Kind is Factor

    friend bool operator==(const TPrefixRule&, const TPrefixRule&) = default;
};

struct TSellingRates {
    std::int64_t Factor = kUnitFactor;  // for numbers no rule matches
    std::vector<TPrefixRule> Rules;
    TMoney Minimum;             // least charge for a call that was answered
    TMoney RoundingStep;        // zero: no rounding
    int IncrementSeconds = 60;  // 60, 30 or 6

    friend bool operator==(const TSellingRates&, const TSellingRates&) = default;
};

// The billing increments the shop offers.
inline constexpr int kBillingIncrements[] = {60, 30, 6};

// The number the rules are matched against: the dial string less one
// leading "00".
QString RatedNumber(const QString& dialString);

// The rule with the longest prefix the number begins with; nullptr when none
// does (the default factor applies).
const TPrefixRule* MatchingRule(const TSellingRates& rates, const QString& number);

// Increments charged after `seconds` of conversation. Like the provider's
// minute, an increment is charged as soon as it begins, and the second on
// which the display shows a whole increment already begins the next one:
// with 60 s, one minute from 1 s to 59 s and two from 60 s. Nothing is
// charged before the first second. Throws std::invalid_argument for an
// increment that is not positive.
std::int64_t ChargedIncrements(int seconds, int incrementSeconds);

// The selling price per minute for the number: the rule's price, or its
// factor (else the default factor) over the provider's rate, rounded half
// up to ten-thousandths.
TMoney SellingRatePerMinute(const TSellingRates& rates, const QString& number, TMoney providerRate);

// What the customer pays after `seconds` of conversation: the selling rate
// per minute times the time charged in increments, rounded up to the
// rounding step (the shop never gives change it does not have) or, without
// a step, half up to whole cents (the customer pays what the label shows),
// then at least the minimum. A call never answered (0 s) costs nothing. Throws
// std::overflow_error when the price does not fit the money type.
TMoney CustomerPrice(const TSellingRates& rates, const QString& number, TMoney providerRate, int seconds);

// The provider charges every minute begun whole (ChargedMinutes). The
// shortest call, from one minute to an hour, that a factor sells below
// that cost under the shop's increment (the minimum charge and rounding
// left out); 0 when there is none. The first minute is left out: under a
// minute only the minimum charge can cover the provider's whole minute.
int FirstSecondBelowCost(std::int64_t factor, int incrementSeconds);

// The default factor or the first factor rule that sells below the
// provider's cost, in the operator's words; empty when none does.
QString BelowCostFault(const TSellingRates& rates);

// Whether the rules can be used: increment one of kBillingIncrements, no
// negative amounts or factors, prefixes of digits only and none twice.
// Returns the first fault in the operator's words, empty when there is none.
QString SellingRatesFault(const TSellingRates& rates);
