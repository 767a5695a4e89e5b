#include "app/counter/session_receipt.h"

namespace {

QString Escaped(const QString& text) { return text.toHtmlEscaped(); }

}  // namespace

TMoney BillTotal(const std::vector<TShopCall>& calls) {
    TMoney total;
    for (const TShopCall& call : calls) total.TenThousandths += call.Call.Figures.CustomerPrice.TenThousandths;
    return total;
}

QString SessionReceiptHtml(const QString& booth, const std::vector<TShopCall>& calls, TMoney received,
                           const TShopSettings& shop, const QLocale& locale) {
    const TMoney total = BillTotal(calls);
    QString html = QStringLiteral("<html><body><h3 align=\"center\">%1</h3>").arg(Escaped(shop.Name));
    if (!shop.Address.isEmpty()) html += QStringLiteral("<p align=\"center\">%1</p>").arg(Escaped(shop.Address));
    html += QStringLiteral("<p>Cabina: %1</p><table width=\"100%\">").arg(Escaped(booth));
    for (const TShopCall& shopCall : calls) {
        const TJournalCall& call = shopCall.Call;
        html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td align=\"right\">%4</td></tr>")
                    .arg(Escaped(call.Started.toLocalTime().toString(QStringLiteral("HH:mm"))), Escaped(call.Number),
                         Escaped(DurationText(call.Figures.Seconds)),
                         Escaped(FormatCurrency(call.Figures.CustomerPrice, locale)));
    }
    html += QStringLiteral("</table><table width=\"100%\">");
    auto row = [](const QString& caption, const QString& value, bool bold) {
        const QString open = bold ? QStringLiteral("<b>") : QString();
        const QString close = bold ? QStringLiteral("</b>") : QString();
        return QStringLiteral("<tr><td>%1%2%3</td><td align=\"right\">%1%4%3</td></tr>")
            .arg(open, Escaped(caption), close, Escaped(value));
    };
    html += row(QStringLiteral("Llamadas: %1").arg(calls.size()), QString(), false);
    html += row(QStringLiteral("Importe:"), FormatCurrency(total, locale), true);
    html += row(QStringLiteral("Recibido:"), FormatCurrency(received, locale), false);
    html += row(QStringLiteral("Vuelto:"), FormatCurrency(TMoney{received.TenThousandths - total.TenThousandths}, locale),
                false);
    return html + QStringLiteral("</table><p align=\"center\">Gracias por su visita</p></body></html>");
}
