#include "app/counter/shop_close.h"

#include <algorithm>

#include <QLocale>

namespace {

TMoney Plus(TMoney a, TMoney b) { return TMoney{a.TenThousandths + b.TenThousandths}; }

QString Escaped(const QString& text) { return text.toHtmlEscaped(); }

QString TotalsCells(const TCloseTotals& totals, const QLocale& locale) {
    return QStringLiteral("<td align=right>%1</td><td align=right>%2</td><td align=right>%3</td>"
                          "<td align=right>%4</td><td align=right>%5</td><td align=right>%6</td>"
                          "<td align=right>%7</td>")
        .arg(totals.Calls)
        .arg(DurationText(totals.Seconds))
        .arg(FormatCurrency(totals.ProviderCost, locale))
        .arg(FormatCurrency(totals.Sales, locale))
        .arg(FormatCurrency(totals.Takings, locale))
        .arg(QStringLiteral("%1 (%2)").arg(totals.Unpaid).arg(FormatCurrency(totals.UnpaidAmount, locale)))
        .arg(totals.VoidedPayments);
}

}  // namespace

TCloseTotals AddTotals(const TCloseTotals& a, const TCloseTotals& b) {
    TCloseTotals sum;
    sum.Calls = a.Calls + b.Calls;
    sum.Answered = a.Answered + b.Answered;
    sum.Seconds = a.Seconds + b.Seconds;
    sum.ChargedMinutes = a.ChargedMinutes + b.ChargedMinutes;
    sum.ProviderCost = Plus(a.ProviderCost, b.ProviderCost);
    sum.Sales = Plus(a.Sales, b.Sales);
    sum.Takings = Plus(a.Takings, b.Takings);
    sum.Margin = Plus(a.Margin, b.Margin);
    sum.Unpaid = a.Unpaid + b.Unpaid;
    sum.UnpaidAmount = Plus(a.UnpaidAmount, b.UnpaidAmount);
    sum.VoidedPayments = a.VoidedPayments + b.VoidedPayments;
    sum.Flagged = a.Flagged + b.Flagged;
    sum.Cut = a.Cut + b.Cut;
    return sum;
}

TShopClose MakeShopClose(std::vector<TBoothTotals> perBooth, std::vector<TOperatorTotals> perOperator,
                         TMoney openingCash) {
    TShopClose close;
    std::sort(perBooth.begin(), perBooth.end(),
              [](const TBoothTotals& a, const TBoothTotals& b) { return a.Booth < b.Booth; });
    std::sort(perOperator.begin(), perOperator.end(),
              [](const TOperatorTotals& a, const TOperatorTotals& b) { return a.Operator < b.Operator; });
    for (const TBoothTotals& booth : perBooth) close.All = AddTotals(close.All, booth.Totals);
    close.OpeningCash = openingCash;
    close.Expected = openingCash;
    for (const TOperatorTotals& person : perOperator) close.Expected = Plus(close.Expected, person.Takings);
    close.PerBooth = std::move(perBooth);
    close.PerOperator = std::move(perOperator);
    return close;
}

TMoney CashDifference(const TShopClose& close, TMoney counted) {
    return TMoney{counted.TenThousandths - close.Expected.TenThousandths};
}

// Each call goes through the booth's own CSV, so the shop's file reads the
// same column for column; its header line never holds a quoted line break.
QString ShopCloseCsv(const std::vector<TShopCall>& calls) {
    const QString header = CloseCsv({});
    QString csv = QStringLiteral("Cabina;") + header.left(header.size() - 2) + QStringLiteral(";Cobrada por\r\n");
    for (const TShopCall& shopCall : calls) {
        QString row = CloseCsv({shopCall.Call}).mid(header.size());
        row.chop(2);
        QString booth = shopCall.Booth;
        if (booth.contains(u';') || booth.contains(u'"')) booth = u'"' + booth.replace(u'"', QStringLiteral("\"\"")) + u'"';
        csv += booth + u';' + row + u';' + shopCall.PaidBy + QStringLiteral("\r\n");
    }
    return csv;
}

QString ShopCloseHtml(const QString& period, const TShopClose& close, std::optional<TMoney> counted,
                      const QString& shopName, const QLocale& locale) {
    const QString head = QStringLiteral(
        "<tr><th align=left>%1</th><th>Llamadas</th><th>Duración</th><th>Costo proveedor</th><th>Ventas</th>"
        "<th>Cobrado</th><th>Sin cobrar</th><th>Anulados</th></tr>");
    QString html = QStringLiteral("<h2>Cierre de caja - %1</h2><p>%2</p>").arg(Escaped(shopName), Escaped(period));
    html += QStringLiteral("<table border=1 cellspacing=0 cellpadding=3>") + head.arg(QStringLiteral("Cabina"));
    for (const TBoothTotals& booth : close.PerBooth)
        html += QStringLiteral("<tr><td>%1</td>%2</tr>").arg(Escaped(booth.Booth), TotalsCells(booth.Totals, locale));
    html += QStringLiteral("<tr><td><b>Total</b></td>%1</tr></table>").arg(TotalsCells(close.All, locale));
    html += QStringLiteral("<h3>Por operador</h3><table border=1 cellspacing=0 cellpadding=3>"
                           "<tr><th align=left>Operador</th><th>Cobros</th><th>Cobrado</th></tr>");
    for (const TOperatorTotals& person : close.PerOperator)
        html += QStringLiteral("<tr><td>%1</td><td align=right>%2</td><td align=right>%3</td></tr>")
                    .arg(Escaped(person.Operator.isEmpty() ? QStringLiteral("(cabina)") : person.Operator))
                    .arg(person.Payments)
                    .arg(FormatCurrency(person.Takings, locale));
    html += QStringLiteral("</table><h3>Caja</h3><p>Caja inicial: %1<br>Esperado: %2")
                .arg(FormatCurrency(close.OpeningCash, locale), FormatCurrency(close.Expected, locale));
    if (counted)
        html += QStringLiteral("<br>Contado: %1<br>Diferencia: %2")
                    .arg(FormatCurrency(*counted, locale), FormatCurrency(CashDifference(close, *counted), locale));
    return html + QStringLiteral("</p>");
}
