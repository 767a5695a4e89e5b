// What the guards have to say about the call placed last, by rank: what
// they did (the cut) or else their latest credit warning, then the far
// end's flags. The cut and the flags stay until the next call is placed, so
// the operator still sees them when the customer comes to pay; the warning
// goes with the call's end. The status bar shows these over any other note
// (no rate, the low balance, how the call ended); the cut and the flags in
// red.
//
// Threading: user-interface thread only.
#pragma once

#include <QString>
#include <QStringList>

class TGuardNotes {
public:
    // A new call: nothing from the last one stays.
    void CallPlaced();
    // The booth cut the call ("Saldo agotado: llamada cortada").
    void Acted(const QString& text) { Action_ = text; }
    // The credit guard's latest warning ("Queda 1 minuto de saldo").
    void Warned(const QString& text) { Warning_ = text; }
    // Every flag of the far end's answer so far.
    void Flagged(const QStringList& flags) { Flags_ = flags; }
    void CallEnded() { Warning_.clear(); }

    bool Any() const { return !Action_.isEmpty() || !Warning_.isEmpty() || !Flags_.isEmpty(); }
    // The notes as one line; empty when there are none.
    QString Text() const;
    // The cut or a flag is up: the note is shown as an alarm.
    bool Alarm() const { return !Action_.isEmpty() || !Flags_.isEmpty(); }

private:
    QString Action_;
    QString Warning_;
    QStringList Flags_;
};
