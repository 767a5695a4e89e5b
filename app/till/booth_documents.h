// What the till prints: the customer's receipt for a call and the day's
// close, as rich text that goes to the system's printer or to a PDF file.
#pragma once

#include <optional>
#include <vector>

#include <QLocale>
#include <QPageSize>
#include <QString>

#include "app/booth/booth_settings.h"
#include "app/till/call_journal.h"
#include "app/till/cash_close.h"
#include "app/till/shift_journal.h"


// The receipt: shop, address, booth, date and time of the call, number,
// destination, duration and amount (and what was received and given back
// once charged). A reprint says "COPIA".
QString ReceiptHtml(const TJournalCall& call, const TShopSettings& shop, const QLocale& locale, bool reprint);

// The close: the period, the totals, the shift's cash when a shift was
// chosen, and the calls one per line.
struct TCloseReport {
    QString Period;  // in the operator's words
    std::vector<TJournalCall> Calls;
    std::optional<TShift> Shift;
};
QString CloseHtml(const TCloseReport& report, const TShopSettings& shop, const QLocale& locale);

// A receipt roll is 80 mm wide; the close goes on an ordinary sheet.
QPageSize ReceiptPageSize();

