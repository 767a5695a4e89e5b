// The figures of the day's close ("Cierre de caja") over a list of calls
// from the journal, and their export as CSV. Plain functions.
#pragma once

#include <cstdint>
#include <vector>

#include <QString>

#include "app/till/call_journal.h"

class TJournalDb;

struct TCloseTotals {
    int Calls = 0;
    int Answered = 0;
    std::int64_t Seconds = 0;         // conversation time
    std::int64_t ChargedMinutes = 0;  // the provider's minutes
    TMoney ProviderCost;
    TMoney Sales;    // customer prices of every call
    TMoney Takings;  // customer prices of the calls charged
    TMoney Margin;   // sales less provider cost
    int Unpaid = 0;  // calls with a price nobody charged
    TMoney UnpaidAmount;
    int VoidedPayments = 0;  // payments taken back by the administrator
    int Flagged = 0;         // calls with a far-end flag after the answer
    int Cut = 0;             // calls the booth's guard cut

    friend bool operator==(const TCloseTotals&, const TCloseTotals&) = default;
};

TCloseTotals CloseTotals(const std::vector<TJournalCall>& calls);

// The same figures summed by the database over the calls started in
// [from, to), without reading the calls themselves.
TCloseTotals JournalTotals(TJournalDb& db, const QDateTime& from, const QDateTime& to);

// A conversation time as h:mm:ss, hours growing past 24.
QString DurationText(std::int64_t seconds);

// An amount with two decimals and a point, for files other programs read.
QString PlainAmount(TMoney amount);

// The journal state in the operator's words; a call the booth's guard cut
// says so with its reason.
QString StateText(const TJournalCall& call);

// CSV as a spreadsheet in Spanish opens it: semicolons between fields,
// amounts with a decimal comma, the end of each call in words; CRLF, quotes
// doubled, a header row, times in local time. A text field a spreadsheet would run as a formula
// (a destination from the portal starting with "=", "+", "-" or "@") gets an
// apostrophe in front.
QString CloseCsv(const std::vector<TJournalCall>& calls);

// What the close must show of a call besides its figures: its voided
// payments, its far-end flags, the guard's cut and a rate entered by hand;
// empty when there is nothing.
QString AuditText(const TJournalCall& call);
