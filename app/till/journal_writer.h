// The journal's writer thread: the call path hands it its writes and goes
// on at once; the thread commits them in the order they came, as many as
// are waiting in one transaction, each commit synced to the disk as the
// journal's own are. A second of conversation costs the booth's thread a
// queue push instead of a disk flush.
//
// The thread has its own connection to the journal's file, opened and
// closed in it. Whoever reads the journal after handing a write waits for
// the queue to empty first (Drain), so a reader always sees what it wrote
// and a synchronous write (a payment) lands after the writes before it.
//
// A write that fails on the thread is kept and thrown, once, by the next
// Enqueue, so its caller hears of it as it did when it wrote itself.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <QString>

#include "app/booth/exit_stops.h"

class QSqlDatabase;

class TJournalWriter {
public:
    using TWrite = std::function<void(QSqlDatabase&)>;

    // Opens the thread's connection to `fileName` and runs `setups` on it
    // (per-connection things such as TEMP triggers) before any write.
    // Throws std::runtime_error when the connection cannot be opened.
    TJournalWriter(const QString& fileName, std::vector<TWrite> setups);
    // Drains and joins; so does the program's exit by exit().
    ~TJournalWriter();
    TJournalWriter(const TJournalWriter&) = delete;
    TJournalWriter& operator=(const TJournalWriter&) = delete;

    // Queues `write` after every write queued before; throws the failure of
    // an earlier write, if one is still unreported.
    void Enqueue(TWrite write);
    // Returns once everything queued so far is committed (or failed).
    void Drain();
    // Writes committed since the start, and transactions they took.
    std::int64_t Committed() const;
    std::int64_t Batches() const;

private:
    void Stop();
    void Run(const QString& fileName, const std::vector<TWrite>& setups);
    void CommitBatch(QSqlDatabase& db, std::deque<TWrite>& batch);
    void NoteFailure(std::exception_ptr failure);

    mutable std::mutex Lock_;
    std::condition_variable Changed_;
    std::deque<TWrite> Queue_;
    std::int64_t Queued_ = 0;
    std::int64_t Done_ = 0;
    std::int64_t Batches_ = 0;
    bool Stopping_ = false;
    bool Ready_ = false;
    std::exception_ptr OpenFailure_;
    std::exception_ptr Failure_;
    std::thread Thread_;
    std::unique_ptr<TExitStop> ExitStop_;
};
