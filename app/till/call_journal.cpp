#include "app/till/call_journal.h"

#include <stdexcept>

#include <QSqlQuery>
#include <QVariant>

#include "app/till/journal_db.h"
#include "app/till/journal_writer.h"

namespace {

const QString kColumns = QStringLiteral(
    "id, started_at, number, dial_string, destination, rate, answered_at, ended_at, seconds, charged_minutes,"
    " provider_cost, customer_price, state, sip_status, end_reason, quality_mos, quality_jitter_ms,"
    " quality_loss_percent, paid_at, amount_received, answer_flags, rate_origin, cut_reason,"
    " (SELECT COUNT(*) FROM voided_payments WHERE voided_payments.call_id = calls.id)");

TJournalState StateFromText(const QString& text) {
    if (text == u"terminada") return TJournalState::Ended;
    if (text == u"interrumpida") return TJournalState::Interrupted;
    return TJournalState::Open;
}

TRateOrigin OriginFromText(const QString& text) {
    for (const TRateOrigin origin : {TRateOrigin::Portal, TRateOrigin::Operator, TRateOrigin::Fallback})
        if (text == RateOriginText(origin)) return origin;
    return TRateOrigin::None;
}

QVariant Nullable(double value, bool present) { return present ? QVariant(value) : QVariant(); }

TJournalCall ReadRow(const QSqlQuery& row) {
    TJournalCall call;
    call.Id = row.value(0).toLongLong();
    call.Started = FromJournalTime(row.value(1));
    call.Number = row.value(2).toString();
    call.DialString = row.value(3).toString();
    call.Destination = row.value(4).toString();
    call.Rate = TMoney{row.value(5).toLongLong()};
    call.Answered = FromJournalTime(row.value(6));
    call.Ended = FromJournalTime(row.value(7));
    call.Figures = {row.value(8).toInt(), row.value(9).toLongLong(), TMoney{row.value(10).toLongLong()},
                    TMoney{row.value(11).toLongLong()}};
    call.State = StateFromText(row.value(12).toString());
    call.SipStatus = row.value(13).toInt();
    call.EndReason = row.value(14).toString();
    if (!row.isNull(15))
        call.Quality = TCallQuality{row.value(15).toDouble(), row.value(16).toDouble(), row.value(17).toDouble()};
    call.PaidAt = FromJournalTime(row.value(18));
    call.AmountReceived = TMoney{row.value(19).toLongLong()};
    call.AnswerFlags = row.value(20).toString();
    call.RateOrigin = OriginFromText(row.value(21).toString());
    call.CutReason = row.value(22).toString();
    call.VoidedPayments = row.value(23).toInt();
    return call;
}

}  // namespace

QString RateOriginText(TRateOrigin origin) {
    switch (origin) {
        case TRateOrigin::Portal:
            return QStringLiteral("portal");
        case TRateOrigin::Operator:
            return QStringLiteral("operador");
        case TRateOrigin::Fallback:
            return QStringLiteral("reserva");
        case TRateOrigin::None:
            break;
    }
    return QString();
}

qint64 JournalTime(const QDateTime& at) { return at.toMSecsSinceEpoch(); }

// In UTC: a local time costs a time-zone lookup per value, which a year of
// calls in the close window pays a hundred thousand times. Displays convert.
QDateTime FromJournalTime(const QVariant& value) {
    if (value.isNull()) return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(value.toLongLong(), Qt::UTC);
}

// With the writer thread the id is the one SQLite would give (the booth is
// the only program that adds calls, and Db() waits for any insert queued).
std::int64_t TCallJournal::Placed(const QDateTime& at, const QString& number, const QString& dialString) {
    const QString insert = QStringLiteral("INSERT INTO calls (id, started_at, updated_at, number, dial_string)"
                                          " VALUES (?, ?, ?, ?, ?)");
    if (TJournalWriter* writer = Db_.Writer()) {
        QSqlQuery last = RunSql(Db_.Db(), QStringLiteral("SELECT COALESCE(MAX(id), 0) FROM calls"));
        const qint64 id = last.next() ? last.value(0).toLongLong() + 1 : 1;
        const QVariantList values = {id, JournalTime(at), JournalTime(at), number, dialString};
        writer->Enqueue([insert, values](QSqlDatabase& db) { RunSql(db, insert, values); });
        return id;
    }
    QSqlQuery query = RunSql(Db_.Db(), insert, {QVariant(), JournalTime(at), JournalTime(at), number, dialString});
    return query.lastInsertId().toLongLong();
}

// On the writer thread when it runs, else at once; the statement and its
// values are copied for later.
void TCallJournal::Write(const QString& statement, const QVariantList& values, bool oneOpenCall) {
    auto write = [statement, values, oneOpenCall](QSqlDatabase& db) {
        QSqlQuery query = RunSql(db, statement, values);
        if (oneOpenCall && query.numRowsAffected() != 1)
            throw std::logic_error("no open call " + values.back().toString().toStdString() + " in the journal");
    };
    if (TJournalWriter* writer = Db_.Writer()) {
        writer->Enqueue(std::move(write));
        return;
    }
    write(Db_.Db());
}

void TCallJournal::UpdateOpen(std::int64_t id, const QString& assignments, QVariantList values) {
    values.append(qint64(id));
    Write("UPDATE calls SET " + assignments + " WHERE id = ? AND state = 'abierta'", values, true);
}

// The portal may answer after the call has ended; its names still belong
// in the record.
void TCallJournal::Rated(std::int64_t id, const QString& destination, TMoney rate) {
    Write(QStringLiteral("UPDATE calls SET destination = ?, rate = ?, rate_origin = 'portal' WHERE id = ?"),
          {destination, qint64(rate.TenThousandths), qint64(id)});
}

// A call paid is never repriced: the money in the drawer is what counts.
void TCallJournal::Repriced(std::int64_t id, TMoney rate, TRateOrigin origin, const TCallFigures& figures) {
    QSqlQuery query = RunSql(Db_.Db(),
                             QStringLiteral("UPDATE calls SET rate = ?, rate_origin = ?, seconds = ?,"
                                            " charged_minutes = ?, provider_cost = ?, customer_price = ?"
                                            " WHERE id = ? AND paid_at IS NULL AND state != 'abierta'"),
                             {qint64(rate.TenThousandths), RateOriginText(origin), figures.Seconds,
                              qint64(figures.ChargedMinutes), qint64(figures.ProviderCost.TenThousandths),
                              qint64(figures.CustomerPrice.TenThousandths), qint64(id)});
    if (query.numRowsAffected() != 1)
        throw std::logic_error("no ended unpaid call " + std::to_string(id) + " in the journal");
}

void TCallJournal::SetCutReason(std::int64_t id, const QString& reason) {
    Write(QStringLiteral("UPDATE calls SET cut_reason = ? WHERE id = ?"), {reason, qint64(id)});
}

void TCallJournal::Answered(std::int64_t id, const QDateTime& at) {
    UpdateOpen(id, QStringLiteral("answered_at = ?, updated_at = ?"), {JournalTime(at), JournalTime(at)});
}

void TCallJournal::Progress(std::int64_t id, const QDateTime& at, const TCallFigures& figures) {
    UpdateOpen(id,
               QStringLiteral("updated_at = ?, seconds = ?, charged_minutes = ?, provider_cost = ?,"
                              " customer_price = ?"),
               {JournalTime(at), figures.Seconds, qint64(figures.ChargedMinutes),
                qint64(figures.ProviderCost.TenThousandths), qint64(figures.CustomerPrice.TenThousandths)});
}

void TCallJournal::Ended(std::int64_t id, const QDateTime& at, const TCallFigures& figures, int sipStatus,
                         const QString& reason, const std::optional<TCallQuality>& quality) {
    const bool measured = quality.has_value();
    const TCallQuality q = quality.value_or(TCallQuality{});
    UpdateOpen(id,
               QStringLiteral("state = 'terminada', updated_at = ?, ended_at = ?, seconds = ?, charged_minutes = ?,"
                              " provider_cost = ?, customer_price = ?, sip_status = ?, end_reason = ?,"
                              " quality_mos = ?, quality_jitter_ms = ?, quality_loss_percent = ?"),
               {JournalTime(at), JournalTime(at), figures.Seconds, qint64(figures.ChargedMinutes),
                qint64(figures.ProviderCost.TenThousandths), qint64(figures.CustomerPrice.TenThousandths),
                sipStatus > 0 ? QVariant(sipStatus) : QVariant(), reason, Nullable(q.Mos, measured),
                Nullable(q.JitterMs, measured), Nullable(q.LossPercent, measured)});
}

void TCallJournal::SetQuality(std::int64_t id, const TCallQuality& quality) {
    Write(QStringLiteral("UPDATE calls SET quality_mos = ?, quality_jitter_ms = ?, quality_loss_percent = ?"
                         " WHERE id = ?"),
          {quality.Mos, quality.JitterMs, quality.LossPercent, qint64(id)});
}

// Whenever the far end's first seconds raise a flag, during or after the
// call: the record is kept whole either way.
void TCallJournal::SetAnswerFlags(std::int64_t id, const QString& flags) {
    Write(QStringLiteral("UPDATE calls SET answer_flags = ? WHERE id = ?"),
          {flags.isEmpty() ? QVariant() : QVariant(flags), qint64(id)});
}

// The check and the write are one statement, so a second "Cobrar" racing
// the first cannot charge the call twice.
void TCallJournal::Paid(std::int64_t id, const QDateTime& at, TMoney received) {
    QSqlQuery query = RunSql(Db_.Db(),
                             QStringLiteral("UPDATE calls SET paid_at = ?, amount_received = ?"
                                            " WHERE id = ? AND paid_at IS NULL AND state != 'abierta'"),
                             {JournalTime(at), qint64(received.TenThousandths), qint64(id)});
    if (query.numRowsAffected() == 1) return;
    const std::optional<TJournalCall> call = Call(id);
    if (!call) throw std::logic_error("no call " + std::to_string(id) + " in the journal");
    if (call->IsPaid()) throw std::logic_error("La llamada ya fue cobrada.");
    throw std::logic_error("La llamada todavía está en curso.");
}

void TCallJournal::VoidPayment(std::int64_t id, const QDateTime& at) {
    InTransaction(Db_.Db(), [&] {
        // The copy and the clearing see the same row: a checkout that lands
        // between them cannot be lost from the record.
        QSqlQuery copied = RunSql(Db_.Db(),
                                  QStringLiteral("INSERT INTO voided_payments (call_id, voided_at, paid_at,"
                                                 " amount_received)"
                                                 " SELECT id, ?, paid_at, amount_received FROM calls"
                                                 " WHERE id = ? AND paid_at IS NOT NULL"),
                                  {JournalTime(at), qint64(id)});
        if (copied.numRowsAffected() != 1) {
            if (!Call(id)) throw std::logic_error("no call " + std::to_string(id) + " in the journal");
            throw std::logic_error("La llamada no fue cobrada.");
        }
        RunSql(Db_.Db(), QStringLiteral("UPDATE calls SET paid_at = NULL, amount_received = NULL WHERE id = ?"),
               {qint64(id)});
    });
}

int TCallJournal::VoidedPayments(std::int64_t id) {
    QSqlQuery query =
        RunSql(Db_.Db(), QStringLiteral("SELECT COUNT(*) FROM voided_payments WHERE call_id = ?"), {qint64(id)});
    return query.next() ? query.value(0).toInt() : 0;
}

std::vector<TJournalCall> TCallJournal::Select(const QString& where, const QVariantList& values) {
    QSqlQuery query = RunSql(Db_.Db(), "SELECT " + kColumns + " FROM calls " + where, values);
    std::vector<TJournalCall> calls;
    while (query.next()) calls.push_back(ReadRow(query));
    return calls;
}

std::optional<TJournalCall> TCallJournal::Call(std::int64_t id) {
    std::vector<TJournalCall> calls = Select(QStringLiteral("WHERE id = ?"), {qint64(id)});
    if (calls.empty()) return std::nullopt;
    return calls.front();
}

std::vector<TJournalCall> TCallJournal::Calls(const QDateTime& from, const QDateTime& to) {
    return Select(QStringLiteral("WHERE started_at >= ? AND started_at < ? ORDER BY started_at, id"),
                  {JournalTime(from), JournalTime(to)});
}

std::vector<TJournalCall> TCallJournal::FirstCalls(const QDateTime& from, const QDateTime& to, int count) {
    return Select(QStringLiteral("WHERE started_at >= ? AND started_at < ? ORDER BY started_at, id LIMIT ?"),
                  {JournalTime(from), JournalTime(to), count});
}

// Keyed on the last row shown rather than an offset, so each page costs the
// same however deep the list is scrolled.
std::vector<TJournalCall> TCallJournal::CallsAfter(const QDateTime& from, const QDateTime& to,
                                                   const TJournalCall& after, int count) {
    return Select(QStringLiteral("WHERE started_at >= ? AND started_at < ? AND (started_at, id) > (?, ?)"
                                 " ORDER BY started_at, id LIMIT ?"),
                  {JournalTime(from), JournalTime(to), JournalTime(after.Started), qint64(after.Id), count});
}

std::vector<TJournalCall> TCallJournal::Unpaid(const QDateTime& from) {
    return Select(QStringLiteral("WHERE started_at >= ? AND paid_at IS NULL AND state != 'abierta' AND"
                                 " (customer_price > 0 OR (seconds > 0 AND rate_origin IS NULL))"
                                 " ORDER BY started_at, id"),
                  {JournalTime(from)});
}

std::vector<TJournalCall> TCallJournal::Latest(int count) {
    return Select(QStringLiteral("ORDER BY started_at DESC, id DESC LIMIT ?"), {count});
}
