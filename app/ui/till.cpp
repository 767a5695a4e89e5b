#include "app/ui/till.h"

#include <exception>

#include <QInputDialog>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QWidget>

#include "app/booth/booth_settings.h"
#include "app/money/amount_text.h"
#include "app/till/booth_documents.h"
#include "app/till/call_journal.h"
#include "app/till/call_recorder.h"
#include "app/ui/checkout_dialog.h"
#include "app/ui/document_printer.h"
#include "app/ui/message_boxes.h"

TTill::TTill(TCallJournal& journal, const TBoothSettings& settings, TClock clock, TSellingRatesSource sellingRates)
    : Journal_(journal), Settings_(settings), Clock_(std::move(clock)), SellingRates_(std::move(sellingRates)) {}

bool TTill::Checkout(QWidget* parent, std::int64_t callId) {
    try {
        std::optional<TJournalCall> call = Journal_.Call(callId);
        if (!call) return false;
        if (call->IsPaid()) {
            ShowMessage(parent, QStringLiteral("La llamada ya fue cobrada."));
            return false;
        }
        if (call->NeedsRate()) {
            if (!PriceByHand(parent, *call)) return false;
            call = Journal_.Call(callId);
            if (!call) return false;
        }
        const QLocale locale = MoneyLocale(parent ? parent->locale() : QLocale());
        TCheckoutDialog dialog(call->Figures.CustomerPrice, call->Number, locale, parent);
        if (dialog.exec() != QDialog::Accepted) return false;
        const std::optional<TMoney> received = dialog.Received();
        if (!received) return false;
        Journal_.Paid(callId, Clock_(), *received);
        if (dialog.PrintReceipt()) PrintReceipt(parent, callId, false);
        return true;
    } catch (const std::exception& error) {
        ShowError(parent, QString::fromUtf8(error.what()));
        return false;
    }
}

bool TTill::PriceByHand(QWidget* parent, const TJournalCall& call) {
    const TMoney fallback = Settings_.ReadShop().FallbackRate;
    const QLocale locale = MoneyLocale(parent ? parent->locale() : QLocale());
    const QString offered =
        fallback > TMoney{} ? FormatDecimal(fallback.TenThousandths, 2, locale.decimalPoint().front()) : QString();
    bool accepted = false;
    const QString typed = QInputDialog::getText(
        parent, QString::fromUtf8(kRateEntryTitle),
        QStringLiteral("El portal no dio la tarifa de la llamada al %1 (%2 s).\nTarifa por minuto:")
            .arg(call.Number)
            .arg(call.Figures.Seconds),
        QLineEdit::Normal, offered, &accepted);
    if (!accepted) return false;
    const std::optional<std::int64_t> value = ParseDecimal(typed, 4);
    if (!value || *value <= 0) {
        ShowMessage(parent, QStringLiteral("Ingrese una tarifa por minuto mayor que cero."));
        return false;
    }
    const TMoney rate{*value};
    const TRateOrigin origin = rate == fallback ? TRateOrigin::Fallback : TRateOrigin::Operator;
    const TSellingRates rates = SellingRates_ ? SellingRates_() : TSellingRates{};
    Journal_.Repriced(call.Id, rate, origin,
                      PricedFigures(rates, RatedNumber(call.DialString), rate, call.Figures.Seconds));
    return true;
}

void TTill::Reprint(QWidget* parent, std::int64_t callId) {
    try {
        const std::optional<TJournalCall> call = Journal_.Call(callId);
        if (!call) return;
        if (!call->IsPaid()) {
            ShowMessage(parent, QStringLiteral("La llamada no fue cobrada: no hay recibo que reimprimir."));
            return;
        }
        PrintReceipt(parent, callId, true);
    } catch (const std::exception& error) {
        ShowError(parent, QString::fromUtf8(error.what()));
    }
}

void TTill::PrintReceipt(QWidget* parent, std::int64_t callId, bool reprint) {
    const std::optional<TJournalCall> call = Journal_.Call(callId);
    if (!call) return;
    const QLocale locale = MoneyLocale(parent ? parent->locale() : QLocale());
    PrintWithDialog(parent, ReceiptHtml(*call, Settings_.ReadShop(), locale, reprint), QStringLiteral("Recibo"));
}

void PrintWithDialog(QWidget* parent, const QString& html, const QString& title) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(title);
    QPrintDialog dialog(&printer, parent);
    dialog.setWindowTitle(title);
    if (dialog.exec() != QDialog::Accepted) return;
    PrintHtml(html, printer);
}
