// The figures of the day's close ("Cierre de caja") over a list of calls
// from the journal, and their export as CSV. Plain functions.
#pragma once

#include <cstdint>
#include <vector>

#include <QString>

#include "app/call_journal.h"

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

// The journal state in the operator's words.
QString StateText(const TJournalCall& call);

// CSV as a spreadsheet in Spanish opens it: semicolons between fields,
// amounts with a decimal comma, the end of each call in words; CRLF, quotes
// doubled, a header row, times in local time. A text field a spreadsheet would run as a formula
// (a destination from the portal starting with "=", "+", "-" or "@") gets an
// apostrophe in front.
QString CloseCsv(const std::vector<TJournalCall>& calls);
