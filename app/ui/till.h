// The till's gestures that both the main window and the close window offer:
// charging a call ("Cobrar", then its receipt) and reprinting a receipt.
// The journal keeps the payment before anything is printed, so a printer
// that fails never loses it.
//
// A call the portal never priced is never charged as free: "Cobrar" asks
// the operator for its rate per minute first, offering the administrator's
// fallback rate, and the journal keeps which of the two priced it.
#pragma once

#include <cstdint>
#include <functional>

#include <QDateTime>
#include <QLocale>

#include "app/till/selling_price.h"
#include "app/till/wall_clock.h"

class QWidget;
class TBoothSettings;
class TCallJournal;

struct TJournalCall;

using TSellingRatesSource = std::function<TSellingRates()>;

inline constexpr char kRateEntryTitle[] = "Tarifa no disponible";

class TTill {
public:
    TTill(TCallJournal& journal, const TBoothSettings& settings, TClock clock, TSellingRatesSource sellingRates);

    // Asks for the cash received and records the payment; prints the
    // receipt when the operator keeps "Imprimir recibo". A call without a
    // rate is priced first with the rate the operator enters. False when
    // cancelled or refused (a call paid before, a call still running).
    bool Checkout(QWidget* parent, std::int64_t callId);
    // Prints the receipt of a paid call again, marked as a copy; a call not
    // paid has no receipt to copy (a copy would pass for proof of payment).
    void Reprint(QWidget* parent, std::int64_t callId);

private:
    void PrintReceipt(QWidget* parent, std::int64_t callId, bool reprint);
    // False when the operator cancels or types no usable rate.
    bool PriceByHand(QWidget* parent, const TJournalCall& call);

    TCallJournal& Journal_;
    const TBoothSettings& Settings_;
    TClock Clock_;
    TSellingRatesSource SellingRates_;
};

// The system's printer dialog (a PDF file among its choices) for a
// document; nothing is printed when the operator cancels.
void PrintWithDialog(QWidget* parent, const QString& html, const QString& title);
