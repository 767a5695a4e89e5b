// The shop's close ("Cierre de caja" at the counter): the figures of every
// booth over a period, the takings of every operator, and the cash counted
// in the drawer against the cash expected. Plain values and functions; the
// counter's database reads the figures, the close window shows them.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QLocale>

#include <QString>

#include "app/till/cash_close.h"
#include "app/till/call_journal.h"
#include "app/money/money.h"

struct TBoothTotals {
    QString Booth;
    TCloseTotals Totals;

    friend bool operator==(const TBoothTotals&, const TBoothTotals&) = default;
};

// The payments an operator took in the period, wherever they were taken.
struct TOperatorTotals {
    QString Operator;
    int Payments = 0;
    TMoney Takings;    // the customer prices of the calls charged
    TMoney Received;   // the cash handed over (the change went back)

    friend bool operator==(const TOperatorTotals&, const TOperatorTotals&) = default;
};

// A call of the shop: the booth's journal call with the booth it came from
// and who charged it.
struct TShopCall {
    QString Booth;
    TJournalCall Call;
    QString PaidBy;  // the operator; empty while unpaid
};

struct TShopClose {
    std::vector<TBoothTotals> PerBooth;      // by booth name
    std::vector<TOperatorTotals> PerOperator;  // by operator name
    TCloseTotals All;
    TMoney OpeningCash;
    TMoney Expected;  // opening cash plus every operator's takings
};

// Sums the booths' totals into the shop's and works out the cash expected.
TShopClose MakeShopClose(std::vector<TBoothTotals> perBooth, std::vector<TOperatorTotals> perOperator,
                         TMoney openingCash);

// The sum of two closes' figures (counts, times and amounts).
TCloseTotals AddTotals(const TCloseTotals& a, const TCloseTotals& b);

// The cash counted less the cash expected: negative when money is missing.
TMoney CashDifference(const TShopClose& close, TMoney counted);

// The booth's close CSV with the booth in front of every call.
QString ShopCloseCsv(const std::vector<TShopCall>& calls);

// The close as rich text for the printer or a PDF: the period, the totals of
// the shop, of each booth and of each operator, and the cash.
QString ShopCloseHtml(const QString& period, const TShopClose& close, std::optional<TMoney> counted,
                      const QString& shopName, const QLocale& locale);
