#include "app/guards/guard_notes.h"

void TGuardNotes::CallPlaced() {
    Action_.clear();
    Warning_.clear();
    Flags_.clear();
}

// The warnings show beside a flag rather than under it.
QString TGuardNotes::Text() const {
    QStringList notes;
    const QString& first = Action_.isEmpty() ? Warning_ : Action_;
    if (!first.isEmpty()) notes << first;
    notes << Flags_;
    return notes.join(QStringLiteral(", "));
}
