#include "app/shop/shop_sender.h"

#include <stdexcept>

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

namespace {

// Times travel as milliseconds since the epoch and become timestamptz in
// the server, so no time zone of either side takes part.
QString CallUpsert() {
    QStringList columns{QStringLiteral("booth"), QStringLiteral("local_id"), QStringLiteral("change_seq")};
    QStringList values{QStringLiteral("?"), QStringLiteral("?"), QStringLiteral("?")};
    QStringList updates{QStringLiteral("change_seq = EXCLUDED.change_seq")};
    for (int i = 0; i < kCallColumnCount; ++i) {
        if (i == kPaidAt || i == kAmountReceived) continue;  // payments are the shop's own table
        const QString column = QString::fromLatin1(kCallColumns[i]);
        columns.append(column);
        values.append(column.endsWith(u"_at") ? QStringLiteral("to_timestamp(?::bigint / 1000.0)")
                                              : QStringLiteral("?"));
        updates.append(column + QStringLiteral(" = EXCLUDED.") + column);
    }
    return "INSERT INTO shop.calls (" + columns.join(QStringLiteral(", ")) + ") VALUES (" +
           values.join(QStringLiteral(", ")) + ") ON CONFLICT (booth, local_id) DO UPDATE SET " +
           updates.join(QStringLiteral(", ")) + " WHERE shop.calls.change_seq < EXCLUDED.change_seq";
}

QVariant NullIfEmpty(const QVariant& value) {
    return value.isNull() || value.toString().isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : value;
}

}  // namespace

QSqlQuery RunShopSql(QSqlDatabase& db, const QString& statement, const QVariantList& values) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    bool ok = false;
    if (values.isEmpty()) {
        // Statements PREPARE refuses (SET, LISTEN) go as they are.
        ok = query.exec(statement);
    } else {
        ok = query.prepare(statement);
        for (const QVariant& value : values) query.addBindValue(value);
        ok = ok && query.exec();
    }
    if (!ok) throw std::runtime_error((query.lastError().text() + QStringLiteral(" (") + statement.left(60) + ')').toStdString());
    return query;
}

void TShopSender::SendCall(const TOutboxItem& item) {
    static const QString upsert = CallUpsert();
    QVariantList values{Booth_, qint64(item.RowId), qint64(item.Seq)};
    for (int i = 0; i < kCallColumnCount; ++i) {
        if (i == kPaidAt || i == kAmountReceived) continue;
        values.append(i == kRateOrigin || i == kCutReason || i == kAnswerFlags ? NullIfEmpty(item.Values[i])
                                                                                : item.Values[i]);
    }
    RunShopSql(Db_, upsert, values);
    // Offered every time the row goes: taken once, and refused quietly when
    // the counter charged the call first (its payment then comes back here).
    if (!item.Values[kPaidAt].isNull())
        RunShopSql(Db_, QStringLiteral("SELECT shop.pay_at_booth(?, to_timestamp(?::bigint / 1000.0), ?)"),
                   {qint64(item.RowId), item.Values[kPaidAt], item.Values[kAmountReceived]});
}

void TShopSender::SendVoid(const TOutboxItem& item) {
    RunShopSql(Db_,
               QStringLiteral("SELECT shop.void_at_booth(?, to_timestamp(?::bigint / 1000.0),"
                              " to_timestamp(?::bigint / 1000.0))"),
               {item.Values[0], item.Values[1], item.Values[2]});
}

void TShopSender::SendLive(const TBoothLive& live) {
    QSqlQuery query = RunShopSql(
        Db_,
        QStringLiteral("UPDATE shop.booths SET state = ?, call_local_id = ?, call_number = ?, call_destination = ?,"
                       " call_started = to_timestamp(?::bigint / 1000.0),"
                       " call_answered = to_timestamp(?::bigint / 1000.0), call_cost = ?, call_price = ?,"
                       " last_seen = now() WHERE name = ?"),
        {live.State, live.CallId, live.Number, live.Destination, live.StartedMs, live.AnsweredMs, live.Cost,
         live.Price, Booth_});
    if (query.numRowsAffected() != 1)
        throw std::runtime_error(
            QStringLiteral("la cabina \"%1\" no está dada de alta en la tienda para este rol (--add-booth-role)")
                .arg(Booth_)
                .toStdString());
}

void TShopSender::Send(const TOutboxBatch& batch, const TBoothLive& live) {
    if (!Db_.transaction()) throw std::runtime_error(Db_.lastError().text().toStdString());
    try {
        for (const TOutboxItem& item : batch.Items)
            item.Kind == TOutboxItem::TKind::Call ? SendCall(item) : SendVoid(item);
        SendLive(live);
        if (!Db_.commit()) throw std::runtime_error(Db_.lastError().text().toStdString());
    } catch (...) {
        Db_.rollback();
        throw;
    }
}

void TShopSender::Beat(const TBoothLive& live) { SendLive(live); }
