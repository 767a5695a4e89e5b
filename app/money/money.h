// Amounts of money as the booth keeps them: a signed 64-bit count of
// ten-thousandths of the currency unit, so sums and products stay exact and
// only the display rounds.
#pragma once

#include <cstdint>

#include <QLocale>
#include <QString>

struct TMoney {
    std::int64_t TenThousandths = 0;

    friend auto operator<=>(const TMoney&, const TMoney&) = default;
};

// Whole currency units; throws std::overflow_error when the amount does not fit.
TMoney MoneyFromUnits(std::int64_t units);

// Hundredths (cents); throws std::overflow_error when the amount does not fit.
TMoney MoneyFromHundredths(std::int64_t hundredths);

// Hundred-thousandths, rounded to ten-thousandths half to even (the portal
// writes balances with one digit more than the booth keeps).
TMoney MoneyFromHundredThousandths(std::int64_t hundredThousandths);

// The amount in hundredths, a half rounded away from zero: the display never
// shows a debt or a credit smaller than it is.
std::int64_t RoundToHundredths(TMoney amount);

// The locale money is shown in: the user's, unless it has no currency of
// its own (C, or an unset locale), then the Spanish (Argentina) format the
// window's captions are written in.
QLocale MoneyLocale(const QLocale& user);

// The amount with two decimals in the currency format of the given locale
// (symbol and its place, grouping, decimal separator, negative form).
QString FormatCurrency(TMoney amount, const QLocale& locale);
