#include "app/counter/booth_session_watch.h"

#include <exception>

#include <QSqlQuery>
#include <QVariant>

#include "app/till/call_journal.h"
#include "app/till/journal_db.h"

TBoothSessionWatch::TBoothSessionWatch(TJournalDb& journal, QObject* parent) : QObject(parent), Journal_(journal) {}

void TBoothSessionWatch::Read() {
    TBoothSession session;
    try {
        QSqlQuery query = RunSql(Journal_.Db(), QStringLiteral("SELECT id, opened_at, limit_amount FROM shop_sessions"
                                                               " WHERE closed_at IS NULL"
                                                               " ORDER BY opened_at DESC LIMIT 1"));
        if (query.next()) {
            session.Id = query.value(0).toLongLong();
            session.Opened = FromJournalTime(query.value(1));
            if (!query.value(2).isNull()) session.Limit = TMoney{query.value(2).toLongLong()};
        }
    } catch (const std::exception&) {
        return;
    }
    if (session == Session_) return;
    Session_ = session;
    emit SessionChanged(Session_);
}
