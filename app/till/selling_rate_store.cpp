#include "app/till/selling_rate_store.h"

#include <stdexcept>

#include <QSqlQuery>
#include <QVariant>

#include "app/till/journal_db.h"

TSellingRates LoadSellingRates(TJournalDb& db) {
    TSellingRates rates;
    QSqlQuery settings = RunSql(db.Db(), QStringLiteral("SELECT name, value FROM selling_settings"));
    while (settings.next()) {
        const QString name = settings.value(0).toString();
        const qint64 value = settings.value(1).toLongLong();
        if (name == u"factor")
            rates.Factor = value;
        else if (name == u"minimum")
            rates.Minimum = TMoney{value};
        else if (name == u"rounding_step")
            rates.RoundingStep = TMoney{value};
        else if (name == u"increment_seconds")
            rates.IncrementSeconds = static_cast<int>(value);
    }
    QSqlQuery rules = RunSql(db.Db(), QStringLiteral("SELECT prefix, kind, value FROM selling_rules ORDER BY prefix"));
    while (rules.next()) {
        TPrefixRule rule;
        rule.Prefix = rules.value(0).toString();
        const qint64 value = rules.value(2).toLongLong();
        if (rules.value(1).toString() == u"precio") {
            rule.Kind = TPrefixRule::TKind::Price;
            rule.Price = TMoney{value};
        } else {
            rule.Kind = TPrefixRule::TKind::Factor;
            rule.Factor = value;
        }
        rates.Rules.push_back(rule);
    }
    return rates;
}

void SaveSellingRates(TJournalDb& db, const TSellingRates& rates) {
    const QString fault = SellingRatesFault(rates);
    if (!fault.isEmpty()) throw std::invalid_argument(fault.toStdString());
    InTransaction(db.Db(), [&] {
        RunSql(db.Db(), QStringLiteral("DELETE FROM selling_settings"));
        RunSql(db.Db(), QStringLiteral("DELETE FROM selling_rules"));
        const std::pair<const char*, qint64> settings[] = {{"factor", rates.Factor},
                                                           {"minimum", qint64(rates.Minimum.TenThousandths)},
                                                           {"rounding_step", qint64(rates.RoundingStep.TenThousandths)},
                                                           {"increment_seconds", rates.IncrementSeconds}};
        for (const auto& [name, value] : settings)
            RunSql(db.Db(), QStringLiteral("INSERT INTO selling_settings (name, value) VALUES (?, ?)"),
                   {QString::fromLatin1(name), value});
        for (const TPrefixRule& rule : rates.Rules) {
            const bool price = rule.Kind == TPrefixRule::TKind::Price;
            RunSql(db.Db(), QStringLiteral("INSERT INTO selling_rules (prefix, kind, value) VALUES (?, ?, ?)"),
                   {rule.Prefix, price ? QStringLiteral("precio") : QStringLiteral("factor"),
                    price ? qint64(rule.Price.TenThousandths) : rule.Factor});
        }
    });
}
