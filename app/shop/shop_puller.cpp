#include "app/shop/shop_puller.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include "app/journal_db.h"
#include "app/shop/shop_sender.h"

namespace {

enum class TChangeKind { Payment, Void, Session };

struct TChange {
    TChangeKind Kind;
    qint64 Changed = 0;
    QVariantList Values;
};

const char* const kQueries[] = {
    "SELECT changed, call_local_id, (extract(epoch FROM paid_at) * 1000)::bigint, amount_received"
    " FROM shop.payments WHERE booth = ? AND changed > ?",
    "SELECT changed, id, call_local_id, (extract(epoch FROM voided_at) * 1000)::bigint,"
    " (extract(epoch FROM paid_at) * 1000)::bigint, amount_received"
    " FROM shop.voided_payments WHERE booth = ? AND changed > ?",
    "SELECT changed, id, (extract(epoch FROM opened_at) * 1000)::bigint,"
    " (extract(epoch FROM closed_at) * 1000)::bigint, limit_amount, opened_by, closed_by"
    " FROM shop.sessions WHERE booth = ? AND changed > ?",
};

void Apply(QSqlDatabase& db, const TChange& change) {
    const QVariantList& v = change.Values;
    switch (change.Kind) {
        case TChangeKind::Payment:
            RunSql(db, QStringLiteral("UPDATE calls SET paid_at = ?, amount_received = ? WHERE id = ?"),
                   {v[1], v[2], v[0]});
            break;
        case TChangeKind::Void:
            // A void the booth made itself is here already, by its call and
            // payment time; one of the counter's is added.
            RunSql(db,
                   QStringLiteral("INSERT OR IGNORE INTO voided_payments (call_id, voided_at, paid_at, amount_received,"
                                  " shop_id) SELECT ?, ?, ?, ?, ? WHERE EXISTS (SELECT 1 FROM calls WHERE id = ?)"
                                  " AND NOT EXISTS (SELECT 1 FROM voided_payments WHERE call_id = ? AND paid_at = ?)"),
                   {v[1], v[2], v[3], v[4], v[0], v[1], v[1], v[3]});
            RunSql(db,
                   QStringLiteral("UPDATE calls SET paid_at = NULL, amount_received = NULL"
                                  " WHERE id = ? AND paid_at = ?"),
                   {v[1], v[3]});
            break;
        case TChangeKind::Session:
            RunSql(db,
                   QStringLiteral("INSERT OR REPLACE INTO shop_sessions (id, opened_at, closed_at, limit_amount,"
                                  " opened_by, closed_by) VALUES (?, ?, ?, ?, ?, ?)"),
                   v);
            break;
    }
}

}  // namespace

int TShopPuller::Pull() {
    QSqlQuery pulled = RunSql(Journal_.Db(), QStringLiteral("SELECT pulled FROM shop_link WHERE id = 1"));
    const qint64 since = pulled.next() ? pulled.value(0).toLongLong() : 0;
    // One snapshot for the three tables: a change numbered below one seen
    // is never missed between two reads.
    std::vector<TChange> changes;
    if (!Shop_.transaction()) throw std::runtime_error(Shop_.lastError().text().toStdString());
    try {
        RunShopSql(Shop_, QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY"));
        for (int kind = 0; kind < 3; ++kind) {
            QSqlQuery query = RunShopSql(Shop_, QString::fromLatin1(kQueries[kind]), {Booth_, since});
            const int columns = query.record().count();
            while (query.next()) {
                TChange change{static_cast<TChangeKind>(kind), query.value(0).toLongLong(), {}};
                for (int i = 1; i < columns; ++i) change.Values.append(query.value(i));
                changes.push_back(std::move(change));
            }
        }
        Shop_.commit();
    } catch (...) {
        Shop_.rollback();
        throw;
    }
    if (changes.empty()) return 0;
    std::sort(changes.begin(), changes.end(), [](const TChange& a, const TChange& b) { return a.Changed < b.Changed; });
    InTransaction(Journal_.Db(), [&] {
        for (const TChange& change : changes) Apply(Journal_.Db(), change);
        RunSql(Journal_.Db(), QStringLiteral("UPDATE shop_link SET pulled = ? WHERE id = 1"),
               {qint64(changes.back().Changed)});
    });
    return static_cast<int>(changes.size());
}
