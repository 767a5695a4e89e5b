#include "app/till/selling_price.h"

#include <algorithm>
#include <limits>
#include <set>
#include <stdexcept>

namespace {

using TWide = __int128;

constexpr TWide kCent = 100;  // ten-thousandths
constexpr TWide kMaxMoney = std::numeric_limits<std::int64_t>::max();

// Half up, for the non-negative quantities prices are.
TWide DivideRounded(TWide numerator, TWide denominator) { return (numerator + denominator / 2) / denominator; }

TWide DivideUp(TWide numerator, TWide denominator) { return (numerator + denominator - 1) / denominator; }

TMoney Fitted(TWide tenThousandths) {
    if (tenThousandths > kMaxMoney || tenThousandths < -kMaxMoney) throw std::overflow_error("price too large");
    return TMoney{static_cast<std::int64_t>(tenThousandths)};
}

bool AllDigits(const QString& text) {
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

}  // namespace

QString RatedNumber(const QString& dialString) { return dialString.startsWith(u"00") ? dialString.mid(2) : dialString; }

const TPrefixRule* MatchingRule(const TSellingRates& rates, const QString& number) {
    const TPrefixRule* best = nullptr;
    for (const TPrefixRule& rule : rates.Rules) {
        if (!number.startsWith(rule.Prefix)) continue;
        if (!best || rule.Prefix.size() > best->Prefix.size()) best = &rule;
    }
    return best;
}

std::int64_t ChargedIncrements(int seconds, int incrementSeconds) {
    if (incrementSeconds <= 0) throw std::invalid_argument("billing increment must be positive");
    if (seconds <= 0) return 0;
    return seconds / incrementSeconds + 1;
}

TMoney SellingRatePerMinute(const TSellingRates& rates, const QString& number, TMoney providerRate) {
    const TPrefixRule* rule = MatchingRule(rates, number);
    if (rule && rule->Kind == TPrefixRule::TKind::Price) return rule->Price;
    const std::int64_t factor = rule ? rule->Factor : rates.Factor;
    return Fitted(DivideRounded(TWide(providerRate.TenThousandths) * factor, kUnitFactor));
}

// The factor is applied to the whole call rather than to a rounded rate per
// minute, so 1.00 gives exactly the provider's figure and a factor with four
// decimals loses nothing on long calls.
TMoney CustomerPrice(const TSellingRates& rates, const QString& number, TMoney providerRate, int seconds) {
    const std::int64_t increments = ChargedIncrements(seconds, rates.IncrementSeconds);
    if (increments == 0) return TMoney{};
    const TWide chargedSeconds = TWide(increments) * rates.IncrementSeconds;
    const TPrefixRule* rule = MatchingRule(rates, number);
    TWide numerator = 0;
    TWide denominator = 60;
    if (rule && rule->Kind == TPrefixRule::TKind::Price) {
        numerator = TWide(rule->Price.TenThousandths) * chargedSeconds;
    } else {
        numerator = TWide(providerRate.TenThousandths) * (rule ? rule->Factor : rates.Factor) * chargedSeconds;
        denominator *= kUnitFactor;
    }
    TWide price = DivideRounded(numerator, denominator);
    if (rates.RoundingStep.TenThousandths > 0) {
        const TWide step = rates.RoundingStep.TenThousandths;
        price = DivideUp(price, step) * step;
    } else {
        price = DivideRounded(price, kCent) * kCent;
    }
    price = std::max<TWide>(price, rates.Minimum.TenThousandths);
    return Fitted(price);
}

int FirstSecondBelowCost(std::int64_t factor, int incrementSeconds) {
    for (int seconds = 60; seconds <= 3600; ++seconds) {
        const TWide sold = TWide(factor) * incrementSeconds * ChargedIncrements(seconds, incrementSeconds);
        const TWide cost = TWide(kUnitFactor) * 60 * (seconds / 60 + 1);
        if (sold < cost) return seconds;
    }
    return 0;
}

QString BelowCostFault(const TSellingRates& rates) {
    const auto fault = [&rates](std::int64_t factor, const QString& where) {
        const int seconds = FirstSecondBelowCost(factor, rates.IncrementSeconds);
        if (seconds == 0) return QString();
        return QStringLiteral("Con incrementos de %1 segundos, %2 vende una llamada de %3 segundos por debajo de su"
                              " costo: el proveedor cobra cada minuto empezado entero.")
            .arg(rates.IncrementSeconds)
            .arg(where)
            .arg(seconds);
    };
    QString text = fault(rates.Factor, QStringLiteral("el factor general"));
    for (const TPrefixRule& rule : rates.Rules) {
        if (!text.isEmpty()) break;
        if (rule.Kind == TPrefixRule::TKind::Factor)
            text = fault(rule.Factor, QStringLiteral("el factor del prefijo %1").arg(rule.Prefix));
    }
    return text;
}

QString SellingRatesFault(const TSellingRates& rates) {
    if (std::find(std::begin(kBillingIncrements), std::end(kBillingIncrements), rates.IncrementSeconds) ==
        std::end(kBillingIncrements))
        return QStringLiteral("El incremento de facturación debe ser de 60, 30 o 6 segundos.");
    if (rates.Factor < 0 || rates.Minimum.TenThousandths < 0 || rates.RoundingStep.TenThousandths < 0)
        return QStringLiteral("Los importes y factores no pueden ser negativos.");
    std::set<QString> seen;
    for (const TPrefixRule& rule : rates.Rules) {
        if (!AllDigits(rule.Prefix))
            return QStringLiteral("El prefijo \"%1\" debe tener solo dígitos.").arg(rule.Prefix);
        if (!seen.insert(rule.Prefix).second) return QStringLiteral("El prefijo %1 está repetido.").arg(rule.Prefix);
        if (rule.Factor < 0 || rule.Price.TenThousandths < 0)
            return QStringLiteral("Los importes y factores no pueden ser negativos.");
    }
    return QString();
}
