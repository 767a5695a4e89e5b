// The operator's shifts: opened with the cash in the drawer, closed with the
// cash counted, against the cash expected (the opening cash plus every call
// charged during the shift). At most one shift is open at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QDateTime>

#include "app/money/money.h"

class TJournalDb;

struct TShift {
    std::int64_t Id = 0;
    QDateTime Opened;
    TMoney OpeningCash;
    QDateTime Closed;  // invalid while open
    TMoney Expected;   // set at the close
    TMoney Counted;    // set at the close

    bool IsOpen() const { return !Closed.isValid(); }
    TMoney Difference() const { return TMoney{Counted.TenThousandths - Expected.TenThousandths}; }
};

class TShiftJournal {
public:
    explicit TShiftJournal(TJournalDb& db) : Db_(db) {}

    // Throws std::logic_error "Ya hay un turno abierto." when one is.
    TShift Open(const QDateTime& at, TMoney openingCash);
    // Throws std::logic_error "No hay un turno abierto." when none is.
    TShift Close(const QDateTime& at, TMoney counted);
    std::optional<TShift> Current();
    // Newest first.
    std::vector<TShift> Recent(int count);
    // The prices of the calls charged in [from, to).
    TMoney Takings(const QDateTime& from, const QDateTime& to);

private:
    std::vector<TShift> Select(const QString& where, const QVariantList& values);

    TJournalDb& Db_;
};
