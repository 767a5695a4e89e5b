// The booth's replicator: a thread of its own that sends the journal's
// outbox to the shop's database in order, takes back what the counter did
// for this booth, and keeps the booth's live state and heartbeat there.
//
// The booth never waits for it: the journal is written as always and the
// outbox grows while the shop is away; the replicator retries with a
// backoff bounded by MaxBackoffMs and catches up by itself, oldest change
// first. It hears of the counter's changes through LISTEN shop_changes (the
// QPSQL driver's notifications) and also looks every PullEveryMs in case a
// notification was lost with a connection.
//
// Threading: the thread owns both its connections (the journal file's and
// the shop's); they are made and closed in it. The object that starts it
// stops and joins it in its destructor, or at the program's exit when it
// ends by exit() (a display that went away) and nothing is destroyed. Signals are emitted from the
// replicator's thread: connect with the default (queued) connection.
#pragma once

#include <atomic>
#include <memory>

#include <QObject>
#include <QString>
#include <QThread>

#include "app/booth/exit_stops.h"

struct TShopReplicatorConfig {
    QString JournalFile;  // the booth's SQLite journal, already open by its writer
    QString ShopUrl;      // postgresql://...
    QString Booth;        // as registered with --add-booth-role
    int PollMs = 100;     // how often the outbox is looked at
    int HeartbeatMs = 3000;
    int PullEveryMs = 30000;
    int MinBackoffMs = 250;
    int MaxBackoffMs = 5000;
    int BatchSize = 500;
};

class TShopReplicator : public QObject {
    Q_OBJECT

public:
    // Starts the thread at once; a shop that cannot be reached is retried.
    explicit TShopReplicator(TShopReplicatorConfig config, QObject* parent = nullptr);
    ~TShopReplicator() override;
    TShopReplicator(const TShopReplicator&) = delete;
    TShopReplicator& operator=(const TShopReplicator&) = delete;

    bool IsConnected() const { return Connected_.load(); }
    // Whether the far end of the open call is ringing ("Timbrando"). Nothing
    // in the journal changes with it, so a change is sent on the next poll.
    void SetRinging(bool ringing) {
        if (Ringing_.exchange(ringing) != ringing) LiveChanged_.store(true);
    }

signals:
    // The counter's changes were written into the journal.
    void RemoteChangesApplied(int count);
    // Connected or lost, with the reason when lost.
    void ConnectionChanged(bool connected, const QString& error);

private:
    void Run();
    void Stop();

    const TShopReplicatorConfig Config_;
    std::atomic<bool> Connected_{false};
    std::atomic<bool> Ringing_{false};
    std::atomic<bool> LiveChanged_{false};
    std::atomic<bool> Stopping_{false};
    std::unique_ptr<QThread> Thread_;
    std::unique_ptr<TExitStop> ExitStop_;
};
