#include "app/counter/counter_db.h"

#include <atomic>
#include <map>
#include <stdexcept>

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "app/shop/shop_address.h"

namespace {

QString NewConnectionName() {
    static std::atomic<int> next{0};
    return QStringLiteral("counter-%1").arg(next++);
}

QSqlQuery Run(QSqlDatabase& db, const QString& statement, const QVariantList& values = {}) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(statement))
        throw std::runtime_error((statement.left(60) + ": " + query.lastError().text()).toStdString());
    for (const QVariant& value : values) query.addBindValue(value);
    if (!query.exec()) throw std::runtime_error((statement.left(60) + ": " + query.lastError().text()).toStdString());
    return query;
}

template <class TWork>
void Transaction(QSqlDatabase& db, TWork&& work) {
    if (!db.transaction()) throw std::runtime_error(db.lastError().text().toStdString());
    try {
        work();
    } catch (...) {
        db.rollback();
        throw;
    }
    if (!db.commit()) {
        const QString error = db.lastError().text();
        db.rollback();
        throw std::runtime_error(error.toStdString());
    }
}

TMoney Money(const QVariant& value) { return TMoney{value.toLongLong()}; }

// An unpaid call in SQL, as TJournalCall::IsUnpaid says it: ended, with a
// price or talked without one, and no payment.
constexpr char kUnpaidCondition[] =
    "c.state <> 'abierta' AND (c.customer_price > 0 OR (c.seconds > 0 AND c.rate_origin IS NULL))"
    " AND NOT EXISTS (SELECT 1 FROM shop.payments p WHERE p.booth = c.booth AND p.call_local_id = c.local_id)";

TRateOrigin Origin(const QString& text) {
    if (text == u"portal") return TRateOrigin::Portal;
    if (text == u"operador") return TRateOrigin::Operator;
    if (text == u"reserva") return TRateOrigin::Fallback;
    return TRateOrigin::None;
}

TJournalState State(const QString& text) {
    if (text == u"abierta") return TJournalState::Open;
    if (text == u"interrumpida") return TJournalState::Interrupted;
    return TJournalState::Ended;
}

TShopCall ReadCall(const QSqlQuery& query) {
    TShopCall shopCall;
    TJournalCall& call = shopCall.Call;
    shopCall.Booth = query.value(0).toString();
    call.Id = query.value(1).toLongLong();
    call.Started = query.value(2).toDateTime();
    call.Answered = query.value(3).toDateTime();
    call.Ended = query.value(4).toDateTime();
    call.Number = query.value(5).toString();
    call.DialString = query.value(6).toString();
    call.Destination = query.value(7).toString();
    call.Rate = Money(query.value(8));
    call.RateOrigin = Origin(query.value(9).toString());
    call.Figures.Seconds = query.value(10).toInt();
    call.Figures.ChargedMinutes = query.value(11).toLongLong();
    call.Figures.ProviderCost = Money(query.value(12));
    call.Figures.CustomerPrice = Money(query.value(13));
    call.State = State(query.value(14).toString());
    call.SipStatus = query.value(15).toInt();
    call.EndReason = query.value(16).toString();
    call.CutReason = query.value(17).toString();
    call.AnswerFlags = query.value(18).toString();
    call.PaidAt = query.value(19).toDateTime();
    call.AmountReceived = Money(query.value(20));
    shopCall.PaidBy = query.value(21).toString();
    call.VoidedPayments = query.value(22).toInt();
    return shopCall;
}

}  // namespace

const char kShopCallColumns[] =
    "c.booth, c.local_id, c.started_at, c.answered_at, c.ended_at, c.number, c.dial_string, c.destination,"
    " c.rate, c.rate_origin, c.seconds, c.charged_minutes, c.provider_cost, c.customer_price, c.state,"
    " c.sip_status, c.end_reason, c.cut_reason, c.answer_flags, p.paid_at, p.amount_received,"
    " CASE WHEN p.id IS NULL THEN NULL ELSE COALESCE(p.operator, p.booth) END,"
    " (SELECT COUNT(*) FROM shop.voided_payments v WHERE v.booth = c.booth AND v.call_local_id = c.local_id)";

TCounterDb::TCounterDb(const QString& url, const QString& operatorName)
    : ConnectionName_(NewConnectionName()),
      Db_(OpenShopConnection(ParseShopAddress(url), ConnectionName_)),
      Operator_(operatorName) {}

TCounterDb::~TCounterDb() {
    Db_.close();
    Db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(ConnectionName_);
}

std::vector<TBoothRow> TCounterDb::Booths() {
    QSqlQuery query = Run(
        Db_, QStringLiteral("SELECT b.name, b.state, b.call_number, b.call_destination, b.call_started,"
                            " b.call_answered, b.call_cost, b.call_price, b.last_seen, s.id, s.opened_at,"
                            " s.limit_amount, u.calls, u.amount"
                            " FROM shop.booths b"
                            " LEFT JOIN shop.sessions s ON s.booth = b.name AND s.closed_at IS NULL"
                            " LEFT JOIN LATERAL (SELECT COUNT(*) AS calls, COALESCE(SUM(c.customer_price), 0) AS amount"
                            "  FROM shop.calls c WHERE c.booth = b.name AND ") +
                 QString::fromLatin1(kUnpaidCondition) + QStringLiteral(") u ON true ORDER BY b.name"));
    std::vector<TBoothRow> rows;
    while (query.next()) {
        TBoothRow row;
        row.Name = query.value(0).toString();
        row.State = query.value(1).toString();
        row.Number = query.value(2).toString();
        row.Destination = query.value(3).toString();
        row.Started = query.value(4).toDateTime();
        row.Answered = query.value(5).toDateTime();
        row.ProviderCost = Money(query.value(6));
        row.CustomerPrice = Money(query.value(7));
        row.LastSeen = query.value(8).toDateTime();
        row.SessionId = query.value(9).toLongLong();
        row.SessionOpened = query.value(10).toDateTime();
        if (!query.value(11).isNull()) row.SessionLimit = Money(query.value(11));
        row.UnpaidCalls = query.value(12).toInt();
        row.UnpaidAmount = Money(query.value(13));
        rows.push_back(row);
    }
    return rows;
}

// The database keeps one open session per booth (a unique index): two
// counters opening the same booth at once open it once.
TBoothSession TCounterDb::OpenSession(const QString& booth, std::optional<TMoney> limit) {
    QSqlQuery query(Db_);
    query.prepare(QStringLiteral("INSERT INTO shop.sessions (booth, limit_amount, opened_by) VALUES (?, ?, ?)"
                                 " RETURNING id, opened_at"));
    query.addBindValue(booth);
    query.addBindValue(limit ? QVariant(static_cast<qlonglong>(limit->TenThousandths)) : QVariant(QMetaType(QMetaType::LongLong)));
    query.addBindValue(Operator_);
    if (!query.exec()) {
        if (query.lastError().nativeErrorCode() == u"23505") throw std::logic_error(kBoothAlreadyOpenText);
        throw std::runtime_error(query.lastError().text().toStdString());
    }
    TBoothSession session;
    if (!query.next()) return session;
    session.Id = query.value(0).toLongLong();
    session.Opened = query.value(1).toDateTime();
    session.Limit = limit;
    return session;
}

void TCounterDb::CloseSession(const QString& booth) {
    QSqlQuery query = Run(Db_,
                          QStringLiteral("UPDATE shop.sessions SET closed_at = now(), closed_by = ?"
                                         " WHERE booth = ? AND closed_at IS NULL"),
                          {Operator_, booth});
    if (query.numRowsAffected() != 1) throw std::logic_error(kBoothNotOpenText);
}

std::vector<TShopCall> TCounterDb::UnpaidCalls(const QString& booth) {
    QSqlQuery query = Run(Db_,
                          QStringLiteral("SELECT ") + QString::fromLatin1(kShopCallColumns) +
                              QStringLiteral(" FROM shop.calls c LEFT JOIN shop.payments p ON false"
                                             " WHERE c.booth = ? AND ") +
                              QString::fromLatin1(kUnpaidCondition) + QStringLiteral(" ORDER BY c.started_at"),
                          {booth});
    std::vector<TShopCall> calls;
    while (query.next()) calls.push_back(ReadCall(query));
    return calls;
}

// One payment per call is the database's own rule (a unique key): a call
// the booth charged a moment earlier makes its insert find the conflict,
// and the whole bill is taken back rather than charged twice.
void TCounterDb::Charge(const QString& booth, const std::vector<std::int64_t>& localIds) {
    Transaction(Db_, [&] {
        for (const std::int64_t id : localIds) {
            QSqlQuery query =
                Run(Db_,
                    QStringLiteral("INSERT INTO shop.payments (booth, call_local_id, paid_at, amount_received, place,"
                                   " operator) SELECT booth, local_id, now(), customer_price, 'mostrador', ?"
                                   " FROM shop.calls WHERE booth = ? AND local_id = ? AND state <> 'abierta'"
                                   " ON CONFLICT (booth, call_local_id) DO NOTHING"),
                    {Operator_, booth, static_cast<qlonglong>(id)});
            if (query.numRowsAffected() != 1) throw std::logic_error(kChargedMeanwhileText);
        }
    });
}

std::vector<TShopCall> TCounterDb::Calls(const QDateTime& from, const QDateTime& to) {
    QSqlQuery query = Run(Db_,
                          QStringLiteral("SELECT ") + QString::fromLatin1(kShopCallColumns) +
                              QStringLiteral(" FROM shop.calls c LEFT JOIN shop.payments p"
                                             " ON p.booth = c.booth AND p.call_local_id = c.local_id"
                                             " WHERE c.started_at >= ? AND c.started_at < ?"
                                             " ORDER BY c.started_at, c.booth"),
                          {from, to});
    std::vector<TShopCall> calls;
    while (query.next()) calls.push_back(ReadCall(query));
    return calls;
}

// The sums are the database's, grouped by booth and by operator, so a year
// of a whole shop's calls is never read row by row.
TShopClose TCounterDb::Close(const QDateTime& from, const QDateTime& to) {
    std::map<QString, TCloseTotals> perBooth;
    for (const TBoothRow& row : Booths()) perBooth[row.Name];
    QSqlQuery calls = Run(
        Db_,
        QStringLiteral(
            "SELECT c.booth, COUNT(*), COUNT(c.answered_at), COALESCE(SUM(c.seconds), 0),"
            " COALESCE(SUM(c.charged_minutes), 0), COALESCE(SUM(c.provider_cost), 0),"
            " COALESCE(SUM(c.customer_price), 0),"
            " COALESCE(SUM(c.customer_price) FILTER (WHERE p.id IS NOT NULL), 0),"
            " COUNT(*) FILTER (WHERE p.id IS NULL AND c.state <> 'abierta'"
            "  AND (c.customer_price > 0 OR (c.seconds > 0 AND c.rate_origin IS NULL))),"
            " COALESCE(SUM(c.customer_price) FILTER (WHERE p.id IS NULL AND c.state <> 'abierta'"
            "  AND c.customer_price > 0), 0),"
            " COUNT(*) FILTER (WHERE COALESCE(c.answer_flags, '') <> ''),"
            " COUNT(*) FILTER (WHERE COALESCE(c.cut_reason, '') <> '')"
            " FROM shop.calls c LEFT JOIN shop.payments p ON p.booth = c.booth AND p.call_local_id = c.local_id"
            " WHERE c.started_at >= ? AND c.started_at < ? GROUP BY c.booth"),
        {from, to});
    while (calls.next()) {
        TCloseTotals& totals = perBooth[calls.value(0).toString()];
        totals.Calls = calls.value(1).toInt();
        totals.Answered = calls.value(2).toInt();
        totals.Seconds = calls.value(3).toLongLong();
        totals.ChargedMinutes = calls.value(4).toLongLong();
        totals.ProviderCost = Money(calls.value(5));
        totals.Sales = Money(calls.value(6));
        totals.Takings = Money(calls.value(7));
        totals.Unpaid = calls.value(8).toInt();
        totals.UnpaidAmount = Money(calls.value(9));
        totals.Flagged = calls.value(10).toInt();
        totals.Cut = calls.value(11).toInt();
        totals.Margin = TMoney{totals.Sales.TenThousandths - totals.ProviderCost.TenThousandths};
    }
    QSqlQuery voids = Run(Db_,
                          QStringLiteral("SELECT c.booth, COUNT(*) FROM shop.voided_payments v JOIN shop.calls c"
                                         " ON c.booth = v.booth AND c.local_id = v.call_local_id"
                                         " WHERE c.started_at >= ? AND c.started_at < ? GROUP BY c.booth"),
                          {from, to});
    while (voids.next()) perBooth[voids.value(0).toString()].VoidedPayments = voids.value(1).toInt();

    std::vector<TOperatorTotals> perOperator;
    QSqlQuery payments = Run(Db_,
                             QStringLiteral("SELECT COALESCE(p.operator, p.booth), COUNT(*),"
                                            " COALESCE(SUM(c.customer_price), 0), COALESCE(SUM(p.amount_received), 0)"
                                            " FROM shop.payments p JOIN shop.calls c"
                                            " ON c.booth = p.booth AND c.local_id = p.call_local_id"
                                            " WHERE p.paid_at >= ? AND p.paid_at < ? GROUP BY 1"),
                             {from, to});
    while (payments.next())
        perOperator.push_back({payments.value(0).toString(), payments.value(1).toInt(), Money(payments.value(2)),
                               Money(payments.value(3))});
    QSqlQuery cash = Run(Db_,
                         QStringLiteral("SELECT COALESCE(SUM(opening_cash), 0) FROM shop.shifts"
                                        " WHERE opened_at >= ? AND opened_at < ?"),
                         {from, to});
    const TMoney opening = cash.next() ? Money(cash.value(0)) : TMoney{};
    std::vector<TBoothTotals> booths;
    for (const auto& [name, totals] : perBooth) booths.push_back({name, totals});
    return MakeShopClose(std::move(booths), std::move(perOperator), opening);
}

bool TCounterDb::VoidPayment(const QString& booth, std::int64_t localId) {
    QSqlQuery query = Run(Db_, QStringLiteral("SELECT shop.void_payment(?, ?, now(), ?)"),
                          {booth, static_cast<qlonglong>(localId), Operator_});
    return query.next() && query.value(0).toBool();
}
