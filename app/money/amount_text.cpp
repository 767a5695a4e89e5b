#include "app/money/amount_text.h"

#include <tuple>
#include <utility>

#include <QRegularExpression>

namespace {

// Thousands in groups of three under one separator, then the other one
// before the decimals: "1.000,50", "1,000.50", "1.000.000".
std::optional<std::pair<QString, QString>> Grouped(const QString& plain) {
    static const QRegularExpression form(
        QStringLiteral("^([0-9]{1,3}(?:([.,])[0-9]{3})(?:\\2[0-9]{3})*)(?:([.,])([0-9]*))?$"));
    const QRegularExpressionMatch match = form.match(plain);
    if (!match.hasMatch()) return std::nullopt;
    const QString group = match.captured(2);
    const QString point = match.captured(3);
    // "1.000.000" can only be grouped; "1.000" alone could be either.
    if (point.isEmpty() ? match.captured(1).count(group) < 2 : point == group) return std::nullopt;
    QString whole = match.captured(1);
    whole.remove(group);
    if (whole.size() > 15) return std::nullopt;
    return std::pair{whole, match.captured(4)};
}

}  // namespace

std::optional<std::int64_t> ParseDecimal(const QString& text, int maxDecimals) {
    QString plain = text.trimmed();
    if (plain.startsWith(u'$')) plain = plain.mid(1).trimmed();
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,15})(?:[.,]([0-9]*))?$"));
    const QRegularExpressionMatch match = form.match(plain);
    QString whole;
    QString decimals;
    if (match.hasMatch()) {
        whole = match.captured(1);
        decimals = match.captured(2);
    } else if (const auto grouped = Grouped(plain)) {
        std::tie(whole, decimals) = *grouped;
    } else {
        return std::nullopt;
    }
    if (decimals.size() > maxDecimals || decimals.size() > 4) return std::nullopt;
    decimals = decimals.leftJustified(4, u'0');
    return whole.toLongLong() * 10000 + decimals.toLongLong();
}

QString FormatDecimal(std::int64_t tenThousandths, int decimals, QChar point) {
    std::int64_t scale = 1;
    for (int i = decimals; i < 4; ++i) scale *= 10;
    const bool negative = tenThousandths < 0;
    std::uint64_t size = negative ? 0 - static_cast<std::uint64_t>(tenThousandths) : tenThousandths;
    size = (size + scale / 2) / scale;
    std::uint64_t unit = 1;
    for (int i = 0; i < decimals; ++i) unit *= 10;
    QString text = QString::number(size / unit);
    if (decimals > 0) {
        QString fraction = QString::number(size % unit).rightJustified(decimals, u'0');
        while (fraction.size() > 2 && fraction.endsWith(u'0')) fraction.chop(1);
        text += point + fraction;
    }
    return negative ? u'-' + text : text;
}
