#include "app/shop/shop_outbox.h"

#include <algorithm>
#include <map>
#include <utility>

#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include "app/till/journal_db.h"

namespace {

const QStringList kTriggers = {
    QStringLiteral("CREATE TEMP TRIGGER IF NOT EXISTS shop_note_call_insert AFTER INSERT ON main.calls"
                   " BEGIN INSERT INTO shop_outbox (kind, row_id) VALUES ('call', NEW.id); END"),
    QStringLiteral("CREATE TEMP TRIGGER IF NOT EXISTS shop_note_call_update AFTER UPDATE ON main.calls"
                   " BEGIN INSERT INTO shop_outbox (kind, row_id) VALUES ('call', NEW.id); END"),
    // The counter's voids come back with their shop number and stay here.
    QStringLiteral("CREATE TEMP TRIGGER IF NOT EXISTS shop_note_void AFTER INSERT ON main.voided_payments"
                   " WHEN NEW.shop_id IS NULL"
                   " BEGIN INSERT INTO shop_outbox (kind, row_id) VALUES ('void', NEW.id); END"),
};

// The session a call belongs to: the one open at the booth when it started.
QString CallSelect() {
    QStringList columns;
    for (int i = 0; i < kSessionId; ++i) columns.append(QString::fromLatin1(kCallColumns[i]));
    columns.append(QStringLiteral(
        "(SELECT s.id FROM shop_sessions s WHERE s.opened_at <= calls.started_at AND"
        " (s.closed_at IS NULL OR s.closed_at > calls.started_at) ORDER BY s.opened_at DESC LIMIT 1)"));
    return "SELECT " + columns.join(QStringLiteral(", ")) + " FROM calls WHERE id = ?";
}

QVariantList ReadRow(QSqlDatabase& db, const QString& select, std::int64_t id, int columns) {
    QSqlQuery query = RunSql(db, select, {qint64(id)});
    QVariantList values;
    if (!query.next()) return values;
    for (int i = 0; i < columns; ++i) values.append(query.value(i));
    return values;
}

}  // namespace

// On the writer thread's connection too: the call path writes there.
void AttachShopOutbox(TJournalDb& writer) {
    writer.OnEveryConnection([](QSqlDatabase& db) {
        for (const QString& statement : kTriggers) RunSql(db, statement);
    });
}

TOutboxBatch ReadOutboxBatch(TJournalDb& db, int limit) {
    TOutboxBatch batch;
    InTransaction(db.Db(), [&] {
        QSqlQuery notes =
            RunSql(db.Db(), QStringLiteral("SELECT seq, kind, row_id FROM shop_outbox ORDER BY seq LIMIT ?"), {limit});
        std::map<std::pair<TOutboxItem::TKind, std::int64_t>, std::int64_t> newest;
        while (notes.next()) {
            const std::int64_t seq = notes.value(0).toLongLong();
            const auto kind =
                notes.value(1).toString() == u"void" ? TOutboxItem::TKind::Void : TOutboxItem::TKind::Call;
            newest[{kind, notes.value(2).toLongLong()}] = seq;
            batch.LastSeq = seq;
        }
        const QString callSelect = CallSelect();
        const QString voidSelect =
            QStringLiteral("SELECT call_id, voided_at, paid_at, amount_received FROM voided_payments WHERE id = ?");
        for (const auto& [key, seq] : newest) {
            TOutboxItem item{key.first, key.second, seq, {}};
            item.Values = key.first == TOutboxItem::TKind::Call ? ReadRow(db.Db(), callSelect, key.second, kCallColumnCount)
                                                                : ReadRow(db.Db(), voidSelect, key.second, 4);
            if (!item.Values.isEmpty()) batch.Items.push_back(std::move(item));
        }
    });
    std::sort(batch.Items.begin(), batch.Items.end(),
              [](const TOutboxItem& a, const TOutboxItem& b) { return a.Seq < b.Seq; });
    return batch;
}

void DeleteSent(TJournalDb& db, std::int64_t lastSeq) {
    RunSql(db.Db(), QStringLiteral("DELETE FROM shop_outbox WHERE seq <= ?"), {qint64(lastSeq)});
}

void LinkToShop(TJournalDb& db, const QString& link) {
    InTransaction(db.Db(), [&] {
        QSqlQuery known = RunSql(db.Db(), QStringLiteral("SELECT link FROM shop_link WHERE id = 1"));
        if (known.next() && known.value(0).toString() == link) return;
        RunSql(db.Db(), QStringLiteral("INSERT INTO shop_outbox (kind, row_id) SELECT 'call', id FROM calls ORDER BY id"));
        RunSql(db.Db(), QStringLiteral("INSERT INTO shop_outbox (kind, row_id)"
                                       " SELECT 'void', id FROM voided_payments WHERE shop_id IS NULL ORDER BY id"));
        RunSql(db.Db(), QStringLiteral("DELETE FROM shop_sessions"));
        RunSql(db.Db(), QStringLiteral("INSERT OR REPLACE INTO shop_link (id, link, pulled) VALUES (1, ?, 0)"), {link});
    });
}
