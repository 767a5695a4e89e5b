#include "app/till/booth_documents.h"

#include <QSizeF>

namespace {

QString Escaped(const QString& text) { return text.toHtmlEscaped(); }

QString Row(const QString& caption, const QString& value) {
    return QStringLiteral("<tr><td>%1</td><td align=\"right\">%2</td></tr>").arg(Escaped(caption), Escaped(value));
}

QString When(const QDateTime& at) { return at.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")); }

}  // namespace

QString ReceiptHtml(const TJournalCall& call, const TShopSettings& shop, const QLocale& locale, bool reprint) {
    QString html = QStringLiteral("<html><body>");
    html += QStringLiteral("<h3 align=\"center\">%1</h3>").arg(Escaped(shop.Name));
    if (!shop.Address.isEmpty()) html += QStringLiteral("<p align=\"center\">%1</p>").arg(Escaped(shop.Address));
    if (reprint) html += QStringLiteral("<p align=\"center\"><b>COPIA</b></p>");
    html += QStringLiteral("<table width=\"100%\">");
    if (!shop.Booth.isEmpty()) html += Row(QStringLiteral("Cabina:"), shop.Booth);
    html += Row(QStringLiteral("Fecha:"), When(call.Started));
    html += Row(QStringLiteral("Número:"), call.Number);
    html += Row(QStringLiteral("Destino:"), call.Destination.isEmpty() ? QStringLiteral("---") : call.Destination);
    html += Row(QStringLiteral("Duración:"), DurationText(call.Figures.Seconds));
    html += QStringLiteral("<tr><td><b>Importe:</b></td><td align=\"right\"><b>%1</b></td></tr>")
                .arg(Escaped(FormatCurrency(call.Figures.CustomerPrice, locale)));
    if (call.IsPaid()) {
        html += Row(QStringLiteral("Recibido:"), FormatCurrency(call.AmountReceived, locale));
        html +=
            Row(QStringLiteral("Vuelto:"),
                FormatCurrency(TMoney{call.AmountReceived.TenThousandths - call.Figures.CustomerPrice.TenThousandths},
                               locale));
    }
    html += QStringLiteral("</table><p align=\"center\">Gracias por su visita</p></body></html>");
    return html;
}

QString CloseHtml(const TCloseReport& report, const TShopSettings& shop, const QLocale& locale) {
    const TCloseTotals totals = CloseTotals(report.Calls);
    auto money = [&](TMoney amount) { return FormatCurrency(amount, locale); };
    QString html = QStringLiteral("<html><body><h2>Cierre de caja</h2>");
    html += QStringLiteral("<p>%1 %2<br>%3</p>")
                .arg(Escaped(shop.Name), Escaped(shop.Booth.isEmpty() ? QString() : "- " + shop.Booth),
                     Escaped(report.Period));
    html += QStringLiteral("<table>");
    html += Row(QStringLiteral("Llamadas:"), QString::number(totals.Calls));
    html += Row(QStringLiteral("Atendidas:"), QString::number(totals.Answered));
    html += Row(QStringLiteral("Tiempo hablado:"), DurationText(totals.Seconds));
    html += Row(QStringLiteral("Minutos del proveedor:"), QString::number(totals.ChargedMinutes));
    html += Row(QStringLiteral("Costo proveedor:"), money(totals.ProviderCost));
    html += Row(QStringLiteral("Ventas:"), money(totals.Sales));
    html += Row(QStringLiteral("Recaudado:"), money(totals.Takings));
    html += Row(QStringLiteral("Margen:"), money(totals.Margin));
    html += Row(QStringLiteral("Sin cobrar:"),
                QStringLiteral("%1 (%2)").arg(totals.Unpaid).arg(money(totals.UnpaidAmount)));
    html += Row(QStringLiteral("Cobros anulados:"), QString::number(totals.VoidedPayments));
    html += Row(QStringLiteral("Con marcas del destino:"), QString::number(totals.Flagged));
    html += Row(QStringLiteral("Cortadas por la cabina:"), QString::number(totals.Cut));
    if (report.Shift) {
        const TShift& shift = *report.Shift;
        html += Row(QStringLiteral("Fondo inicial:"), money(shift.OpeningCash));
        if (!shift.IsOpen()) {
            html += Row(QStringLiteral("Efectivo esperado:"), money(shift.Expected));
            html += Row(QStringLiteral("Efectivo contado:"), money(shift.Counted));
            html += Row(QStringLiteral("Diferencia:"), money(shift.Difference()));
        }
    }
    html += QStringLiteral(
        "</table><br><table border=\"1\" cellspacing=\"0\" cellpadding=\"2\" width=\"100%\">"
        "<tr><th>Fecha y hora</th><th>Número</th><th>Destino</th><th>Duración</th>"
        "<th>Costo</th><th>A cobrar</th><th>Estado</th><th>Cobrada</th><th>Observaciones</th></tr>");
    for (const TJournalCall& call : report.Calls) {
        html += QStringLiteral(
                    "<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td align=\"right\">%5</td>"
                    "<td align=\"right\">%6</td><td>%7</td><td>%8</td><td>%9</td></tr>")
                    .arg(When(call.Started), Escaped(call.Number), Escaped(call.Destination),
                         DurationText(call.Figures.Seconds), Escaped(money(call.Figures.ProviderCost)),
                         Escaped(money(call.Figures.CustomerPrice)), StateText(call),
                         call.IsPaid() ? QStringLiteral("sí") : QStringLiteral("no"), Escaped(AuditText(call)));
    }
    html += QStringLiteral("</table></body></html>");
    return html;
}

QPageSize ReceiptPageSize() {
    return QPageSize(QSizeF(80, 160), QPageSize::Millimeter, QStringLiteral("Recibo 80 mm"));
}
