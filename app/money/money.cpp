#include "app/money/money.h"

#include <limits>
#include <stdexcept>
#include <string>

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

TMoney Scaled(std::int64_t value, std::int64_t factor, const char* unit) {
    if (value > kMax / factor || value < kMin / factor) {
        throw std::overflow_error("amount of " + std::to_string(value) + " " + unit +
                                  " does not fit the money type");
    }
    return TMoney{value * factor};
}

// Digits of a non-negative number in the locale's own digits, at least
// `width` of them; no grouping below the width.
QString PaddedDigits(std::int64_t value, int width, const QLocale& locale) {
    QString text = locale.toString(static_cast<qlonglong>(value));
    while (text.size() < width) text.prepend(locale.zeroDigit());
    return text;
}

}  // namespace

TMoney MoneyFromUnits(std::int64_t units) { return Scaled(units, 10000, "units"); }

TMoney MoneyFromHundredths(std::int64_t hundredths) {
    return Scaled(hundredths, 100, "hundredths");
}

TMoney MoneyFromHundredThousandths(std::int64_t hundredThousandths) {
    std::int64_t quotient = hundredThousandths / 10;
    const std::int64_t remainder = hundredThousandths % 10;  // same sign as the value
    const std::int64_t away = remainder < 0 ? -1 : 1;
    const std::int64_t size = remainder < 0 ? -remainder : remainder;
    if (size > 5 || (size == 5 && quotient % 2 != 0)) quotient += away;
    return TMoney{quotient};
}

std::int64_t RoundToHundredths(TMoney amount) {
    std::int64_t quotient = amount.TenThousandths / 100;
    const std::int64_t remainder = amount.TenThousandths % 100;
    if (remainder >= 50) ++quotient;
    if (remainder <= -50) --quotient;
    return quotient;
}

QLocale MoneyLocale(const QLocale& user) {
    if (user.language() == QLocale::C || user.currencySymbol().isEmpty())
        return QLocale(QLocale::Spanish, QLocale::Argentina);
    return user;
}

// QLocale formats currency from a double, which stops being exact in the
// hundredths long before the 64-bit range ends. The locale's pattern is taken
// from formatting one unit and the exact digits are put in its place.
QString FormatCurrency(TMoney amount, const QLocale& locale) {
    const std::int64_t hundredths = RoundToHundredths(amount);
    const bool negative = hundredths < 0;
    // RoundToHundredths divides by 100, so the negation cannot overflow.
    const std::int64_t size = negative ? -hundredths : hundredths;
    const QString number = locale.toString(static_cast<qlonglong>(size / 100)) +
                           locale.decimalPoint() + PaddedDigits(size % 100, 2, locale);
    QString text = locale.toCurrencyString(negative ? -1.0 : 1.0, QString(), 2);
    const QString one = locale.toString(1.0, 'f', 2);
    const qsizetype at = text.indexOf(one);
    if (at < 0) throw std::logic_error("locale's currency format holds no number");
    return text.replace(at, one.size(), number);
}
