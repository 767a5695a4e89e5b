// The till's gestures that both the main window and the close window offer:
// charging a call ("Cobrar", then its receipt) and reprinting a receipt.
// The journal keeps the payment before anything is printed, so a printer
// that fails never loses it.
#pragma once

#include <cstdint>
#include <functional>

#include <QDateTime>
#include <QLocale>

class QWidget;
class TBoothSettings;
class TCallJournal;

using TClock = std::function<QDateTime()>;

class TTill {
public:
    TTill(TCallJournal& journal, const TBoothSettings& settings, TClock clock);

    // Asks for the cash received and records the payment; prints the
    // receipt when the operator keeps "Imprimir recibo". False when
    // cancelled or refused (a call paid before, a call still running).
    bool Checkout(QWidget* parent, std::int64_t callId);
    // Prints the call's receipt again, marked as a copy.
    void Reprint(QWidget* parent, std::int64_t callId);

private:
    void PrintReceipt(QWidget* parent, std::int64_t callId, bool reprint);

    TCallJournal& Journal_;
    const TBoothSettings& Settings_;
    TClock Clock_;
};

// The system's printer dialog (a PDF file among its choices) for a
// document; nothing is printed when the operator cancels.
void PrintWithDialog(QWidget* parent, const QString& html, const QString& title);
