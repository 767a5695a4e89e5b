#include "app/till/cash_close.h"

#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include "app/booth/booth_texts.h"
#include "app/booth/sip_status_text.h"
#include "app/till/journal_db.h"

namespace {

TMoney Plus(TMoney a, TMoney b) { return TMoney{a.TenThousandths + b.TenThousandths}; }

QString CsvField(QString text) {
    if (!text.isEmpty() && QStringLiteral("=+-@").contains(text.front())) text.prepend(u'\'');
    if (text.contains(u';') || text.contains(u',') || text.contains(u'"') || text.contains(u'\n') || text.contains(u'\r'))
        text = u'"' + text.replace(u'"', QStringLiteral("\"\"")) + u'"';
    return text;
}

// Why the call ended, in words: the owner reading the close knows no SIP
// codes. A call without a status keeps the reason the booth wrote.
QString EndText(const TJournalCall& call) {
    if (call.Answered.isValid()) return QString::fromUtf8(kCallFinishedText);
    if (call.SipStatus <= 0) return call.EndReason;
    return QString::fromUtf8(SipStatusText(call.SipStatus));
}

// A Spanish spreadsheet reads "150.00" as fifteen thousand.
QString CsvAmount(TMoney amount) { return PlainAmount(amount).replace(u'.', u','); }

}  // namespace

TCloseTotals CloseTotals(const std::vector<TJournalCall>& calls) {
    TCloseTotals totals;
    for (const TJournalCall& call : calls) {
        ++totals.Calls;
        if (call.Answered.isValid()) ++totals.Answered;
        totals.Seconds += call.Figures.Seconds;
        totals.ChargedMinutes += call.Figures.ChargedMinutes;
        totals.ProviderCost = Plus(totals.ProviderCost, call.Figures.ProviderCost);
        totals.Sales = Plus(totals.Sales, call.Figures.CustomerPrice);
        if (call.IsPaid()) totals.Takings = Plus(totals.Takings, call.Figures.CustomerPrice);
        if (call.IsUnpaid()) {
            ++totals.Unpaid;
            totals.UnpaidAmount = Plus(totals.UnpaidAmount, call.Figures.CustomerPrice);
        }
        totals.VoidedPayments += call.VoidedPayments;
        if (!call.AnswerFlags.isEmpty()) ++totals.Flagged;
        if (!call.CutReason.isEmpty()) ++totals.Cut;
    }
    totals.Margin = TMoney{totals.Sales.TenThousandths - totals.ProviderCost.TenThousandths};
    return totals;
}

// The rules of IsPaid and IsUnpaid, in SQL.
TCloseTotals JournalTotals(TJournalDb& db, const QDateTime& from, const QDateTime& to) {
    QSqlQuery query =
        RunSql(db.Db(),
               QStringLiteral("SELECT COUNT(*), COALESCE(SUM(answered_at IS NOT NULL), 0), COALESCE(SUM(seconds), 0), "
                              "COALESCE(SUM(charged_minutes), 0),"
                              " COALESCE(SUM(provider_cost), 0), COALESCE(SUM(customer_price), 0),"
                              " COALESCE(SUM(CASE WHEN paid_at IS NOT NULL THEN customer_price END), 0),"
                              " COALESCE(SUM(paid_at IS NULL AND state != 'abierta' AND (customer_price > 0"
                              "  OR (seconds > 0 AND rate_origin IS NULL))), 0),"
                              " COALESCE(SUM(CASE WHEN paid_at IS NULL AND state != 'abierta' AND customer_price > 0"
                              "  THEN customer_price END), 0),"
                              " COALESCE(SUM((SELECT COUNT(*) FROM voided_payments WHERE call_id = calls.id)), 0),"
                              " COALESCE(SUM(COALESCE(answer_flags, '') != ''), 0),"
                              " COALESCE(SUM(COALESCE(cut_reason, '') != ''), 0)"
                              " FROM calls WHERE started_at >= ? AND started_at < ?"),
               {JournalTime(from), JournalTime(to)});
    TCloseTotals totals;
    if (!query.next()) return totals;
    auto whole = [&query](int column) { return static_cast<std::int64_t>(query.value(column).toLongLong()); };
    totals.Calls = static_cast<int>(whole(0));
    totals.Answered = static_cast<int>(whole(1));
    totals.Seconds = whole(2);
    totals.ChargedMinutes = whole(3);
    totals.ProviderCost = TMoney{whole(4)};
    totals.Sales = TMoney{whole(5)};
    totals.Takings = TMoney{whole(6)};
    totals.Unpaid = static_cast<int>(whole(7));
    totals.UnpaidAmount = TMoney{whole(8)};
    totals.VoidedPayments = static_cast<int>(whole(9));
    totals.Flagged = static_cast<int>(whole(10));
    totals.Cut = static_cast<int>(whole(11));
    totals.Margin = TMoney{totals.Sales.TenThousandths - totals.ProviderCost.TenThousandths};
    return totals;
}

QString DurationText(std::int64_t seconds) {
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString PlainAmount(TMoney amount) {
    const std::int64_t hundredths = RoundToHundredths(amount);
    const std::int64_t size = hundredths < 0 ? -hundredths : hundredths;
    return QStringLiteral("%1%2.%3")
        .arg(hundredths < 0 ? QStringLiteral("-") : QString())
        .arg(size / 100)
        .arg(size % 100, 2, 10, QLatin1Char('0'));
}

QString StateText(const TJournalCall& call) {
    switch (call.State) {
        case TJournalState::Open:
            return QStringLiteral("en curso");
        case TJournalState::Interrupted:
            return QStringLiteral("interrumpida");
        case TJournalState::Ended:
            break;
    }
    if (!call.CutReason.isEmpty()) return QStringLiteral("cortada: %1").arg(call.CutReason);
    return call.Answered.isValid() ? QStringLiteral("terminada") : QStringLiteral("no atendida");
}

QString CloseCsv(const std::vector<TJournalCall>& calls) {
    QString csv = QStringLiteral(
        "Fecha y hora;Número;Destino;Duración;Minutos;Tarifa;Costo proveedor;A cobrar;Estado;Motivo;Cobrada;"
        "Observaciones\r\n");
    for (const TJournalCall& call : calls) {
        const QStringList fields = {
            call.Started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
            CsvField(call.Number),
            CsvField(call.Destination),
            DurationText(call.Figures.Seconds),
            QString::number(call.Figures.ChargedMinutes),
            CsvAmount(call.Rate),
            CsvAmount(call.Figures.ProviderCost),
            CsvAmount(call.Figures.CustomerPrice),
            StateText(call),
            CsvField(EndText(call)),
            call.IsPaid() ? QStringLiteral("sí") : QStringLiteral("no"),
            CsvField(AuditText(call)),
        };
        // Semicolons: with a decimal comma, a spreadsheet in Spanish splits
        // on them.
        csv += fields.join(u';') + QStringLiteral("\r\n");
    }
    return csv;
}

QString AuditText(const TJournalCall& call) {
    QStringList parts;
    if (call.VoidedPayments == 1) parts << QStringLiteral("1 cobro anulado");
    if (call.VoidedPayments > 1) parts << QStringLiteral("%1 cobros anulados").arg(call.VoidedPayments);
    if (!call.AnswerFlags.isEmpty()) parts << call.AnswerFlags;
    if (!call.CutReason.isEmpty()) parts << QStringLiteral("cortada: %1").arg(call.CutReason);
    if (call.RateOrigin == TRateOrigin::Operator) parts << QStringLiteral("tarifa ingresada a mano");
    if (call.RateOrigin == TRateOrigin::Fallback) parts << QStringLiteral("tarifa de reserva");
    if (call.NeedsRate()) parts << QStringLiteral("sin tarifa");
    return parts.join(QStringLiteral("; "));
}
