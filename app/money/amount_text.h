// Amounts and factors as the operator types them in the till's dialogs.
#pragma once

#include <cstdint>
#include <optional>

#include <QChar>
#include <QString>

// Digits with at most one decimal separator ("," or ".") followed by at most
// `maxDecimals` digits (up to 4), blanks and a "$" around them ignored; the
// value in ten-thousandths. Thousands grouped in threes are read when the
// writing leaves no doubt: "1.000,50", "1,000.50", "1.000.000"; a lone
// separator is never taken for grouping, so with two decimals "1.234" is no
// amount, never a thousand. Empty for anything else, negative values and
// values beyond the money type.
std::optional<std::int64_t> ParseDecimal(const QString& text, int maxDecimals);

// Ten-thousandths with `decimals` digits after `point` (rounded half away
// from zero; trailing zeros beyond two are dropped for factors).
QString FormatDecimal(std::int64_t tenThousandths, int decimals, QChar point);
