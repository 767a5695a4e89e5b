// The selling rates kept in the booth's database beside the journal, so a
// reprint or a close uses the rules as they are on this machine.
#pragma once

#include "app/till/selling_price.h"

class TJournalDb;

// The stored rates; defaults (factor 1.00, no rules, no minimum, no
// rounding, 60 s) for what was never stored.
TSellingRates LoadSellingRates(TJournalDb& db);

// Replaces the stored rates in one transaction. Throws std::invalid_argument
// with SellingRatesFault's text for rates that cannot be used.
void SaveSellingRates(TJournalDb& db, const TSellingRates& rates);
