#include "app/till.h"

#include <exception>

#include <QPrintDialog>
#include <QPrinter>
#include <QWidget>

#include "app/booth_documents.h"
#include "app/booth_settings.h"
#include "app/call_journal.h"
#include "app/checkout_dialog.h"
#include "app/message_boxes.h"

TTill::TTill(TCallJournal& journal, const TBoothSettings& settings, TClock clock)
    : Journal_(journal), Settings_(settings), Clock_(std::move(clock)) {}

bool TTill::Checkout(QWidget* parent, std::int64_t callId) {
    try {
        const std::optional<TJournalCall> call = Journal_.Call(callId);
        if (!call) return false;
        if (call->IsPaid()) {
            ShowMessage(parent, QStringLiteral("La llamada ya fue cobrada."));
            return false;
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

void TTill::Reprint(QWidget* parent, std::int64_t callId) {
    try {
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
