#include "app/till/shift_journal.h"

#include <stdexcept>

#include <QSqlQuery>
#include <QVariant>

#include "app/till/call_journal.h"
#include "app/till/journal_db.h"

std::vector<TShift> TShiftJournal::Select(const QString& where, const QVariantList& values) {
    QSqlQuery query = RunSql(Db_.Db(),
                             "SELECT id, opened_at, opening_cash, closed_at, cash_expected, cash_counted"
                             " FROM shifts " +
                                 where,
                             values);
    std::vector<TShift> shifts;
    while (query.next()) {
        shifts.push_back({query.value(0).toLongLong(), FromJournalTime(query.value(1)),
                          TMoney{query.value(2).toLongLong()}, FromJournalTime(query.value(3)),
                          TMoney{query.value(4).toLongLong()}, TMoney{query.value(5).toLongLong()}});
    }
    return shifts;
}

std::optional<TShift> TShiftJournal::Current() {
    std::vector<TShift> open = Select(QStringLiteral("WHERE closed_at IS NULL ORDER BY id DESC LIMIT 1"), {});
    if (open.empty()) return std::nullopt;
    return open.front();
}

std::vector<TShift> TShiftJournal::Recent(int count) {
    return Select(QStringLiteral("ORDER BY opened_at DESC, id DESC LIMIT ?"), {count});
}

TShift TShiftJournal::Open(const QDateTime& at, TMoney openingCash) {
    std::optional<TShift> shift;
    InTransaction(Db_.Db(), [&] {
        if (Current()) throw std::logic_error("Ya hay un turno abierto.");
        RunSql(Db_.Db(), QStringLiteral("INSERT INTO shifts (opened_at, opening_cash) VALUES (?, ?)"),
               {JournalTime(at), qint64(openingCash.TenThousandths)});
        shift = Current();
    });
    return *shift;
}

TMoney TShiftJournal::Takings(const QDateTime& from, const QDateTime& to) {
    QSqlQuery query = RunSql(Db_.Db(),
                             QStringLiteral("SELECT COALESCE(SUM(customer_price), 0) FROM calls"
                                            " WHERE paid_at >= ? AND paid_at < ?"),
                             {JournalTime(from), JournalTime(to)});
    return TMoney{query.next() ? query.value(0).toLongLong() : 0};
}

// A call charged in the very millisecond of the close belongs to this shift.
TShift TShiftJournal::Close(const QDateTime& at, TMoney counted) {
    std::optional<TShift> shift;
    InTransaction(Db_.Db(), [&] {
        shift = Current();
        if (!shift) throw std::logic_error("No hay un turno abierto.");
        const TMoney takings = Takings(shift->Opened, at.addMSecs(1));
        shift->Expected = TMoney{shift->OpeningCash.TenThousandths + takings.TenThousandths};
        shift->Counted = counted;
        shift->Closed = at;
        RunSql(Db_.Db(),
               QStringLiteral("UPDATE shifts SET closed_at = ?, cash_expected = ?, cash_counted = ? WHERE id = ?"),
               {JournalTime(at), qint64(shift->Expected.TenThousandths), qint64(counted.TenThousandths),
                qint64(shift->Id)});
    });
    return *shift;
}
