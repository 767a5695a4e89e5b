// Takes what the counter did for this booth since the last time (payments,
// voids, sessions opened and closed) from the shop's database and writes it
// into the booth's journal, with the number of the last change taken, in
// one local transaction: a call paid at the counter reads as paid at the
// booth. What the shop says about a payment wins over the booth's own.
//
// Runs on the replicator's thread, on its connections (the journal one is
// not the writer's, so nothing taken here goes back to the outbox).
#pragma once

#include <QSqlDatabase>
#include <QString>

class TJournalDb;

class TShopPuller {
public:
    TShopPuller(QSqlDatabase& shop, TJournalDb& journal, QString booth)
        : Shop_(shop), Journal_(journal), Booth_(std::move(booth)) {}

    // Returns how many changes were written into the journal. Throws
    // std::runtime_error (shop or journal); nothing is taken then.
    int Pull();

private:
    QSqlDatabase& Shop_;
    TJournalDb& Journal_;
    QString Booth_;
};
