// What the counter's console shows of a booth right now, read from the
// booth's own journal: its state and the call in progress.
#pragma once

#include <cstdint>

#include <QString>
#include <QVariant>

class TJournalDb;

struct TBoothLive {
    QString State;  // "Libre", "Cerrada", "Marcando", "Timbrando" or "En curso"
    QVariant CallId, Number, Destination;
    QVariant StartedMs, AnsweredMs;  // milliseconds since the epoch
    qint64 Cost = 0;                 // the provider's, ten-thousandths
    qint64 Price = 0;                // the customer's
};

// The newest open call decides: answered is "En curso", else "Timbrando"
// while the far end rings and "Marcando" before. Without one, the booth is
// "Libre" while a session of the shop is open for it and "Cerrada" when none is.
TBoothLive ReadBoothLive(TJournalDb& db, bool ringing);
