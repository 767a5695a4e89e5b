#include "app/shop/shop_live.h"

#include <QSqlQuery>

#include "app/journal_db.h"

TBoothLive ReadBoothLive(TJournalDb& db, bool ringing) {
    TBoothLive live;
    QSqlQuery call = RunSql(db.Db(), QStringLiteral("SELECT id, number, destination, started_at, answered_at,"
                                                    " provider_cost, customer_price FROM calls"
                                                    " WHERE state = 'abierta' ORDER BY id DESC LIMIT 1"));
    if (call.next()) {
        live.CallId = call.value(0);
        live.Number = call.value(1);
        live.Destination = call.value(2);
        live.StartedMs = call.value(3);
        live.AnsweredMs = call.value(4);
        live.Cost = call.value(5).toLongLong();
        live.Price = call.value(6).toLongLong();
        live.State = !call.isNull(4) ? QStringLiteral("En curso")
                                     : (ringing ? QStringLiteral("Timbrando") : QStringLiteral("Marcando"));
        return live;
    }
    QSqlQuery session = RunSql(db.Db(), QStringLiteral("SELECT 1 FROM shop_sessions WHERE closed_at IS NULL"));
    live.State = session.next() ? QStringLiteral("Libre") : QStringLiteral("Cerrada");
    return live;
}
