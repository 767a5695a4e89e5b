// Sends a batch of the booth's outbox to the shop's database in one
// transaction: each call upserted by booth and local id, never over a newer
// change (the outbox number travels with the row); a payment the booth took
// offered through shop.pay_at_booth(), a void it made through
// shop.void_at_booth(); and the booth's live state with its heartbeat.
// Sending the same batch twice leaves the shop as sending it once.
//
// Runs on the replicator's thread, on its connection. Throws
// std::runtime_error with the server's text; the transaction is then
// rolled back and nothing of the batch counts as sent.
#pragma once

#include <QSqlDatabase>
#include <QString>

#include "app/shop/shop_live.h"
#include "app/shop/shop_outbox.h"

class TShopSender {
public:
    TShopSender(QSqlDatabase& db, QString booth) : Db_(db), Booth_(std::move(booth)) {}

    void Send(const TOutboxBatch& batch, const TBoothLive& live);
    // The live state and last_seen alone.
    void Beat(const TBoothLive& live);

private:
    void SendCall(const TOutboxItem& item);
    void SendVoid(const TOutboxItem& item);
    void SendLive(const TBoothLive& live);

    QSqlDatabase& Db_;
    QString Booth_;
};

// Runs a prepared statement with these values on a PostgreSQL connection;
// throws std::runtime_error with the server's text.
class QSqlQuery;
QSqlQuery RunShopSql(QSqlDatabase& db, const QString& statement, const QVariantList& values = {});
