// The booth's side of its session: what the counter decided (open, with
// which limit, or closed), as the replicator copied it into the booth's own
// journal (shop_sessions). The booth's thread reads only that copy, never
// the shop's database: the replicator already listens to the shop and
// takes the counter's changes, and the copy is what the counter's board is
// shown from, so the booth and the board never disagree. The journal keeps
// the copy across restarts and while the shop is out of reach, so the last
// state known holds (see booth_session.h).
//
// Threading: the thread that made it (the user-interface thread), on the
// journal's connection of that thread.
#pragma once

#include <QObject>

#include "app/counter/booth_session.h"

class TJournalDb;

class TBoothSessionWatch : public QObject {
    Q_OBJECT

public:
    explicit TBoothSessionWatch(TJournalDb& journal, QObject* parent = nullptr);

    const TBoothSession& Session() const { return Session_; }
    // Reads the copy again (at the start, and when the replicator has
    // applied the counter's changes); a read that fails leaves the state
    // as it was.
    void Read();

signals:
    void SessionChanged(const TBoothSession& session);

private:
    TJournalDb& Journal_;
    TBoothSession Session_;
};
