#include "app/till/journal_writer.h"

#include <atomic>
#include <stdexcept>
#include <utility>

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include "app/till/journal_db.h"

namespace {

QString NewWriterConnectionName() {
    static std::atomic<int> next{0};
    return QStringLiteral("journal-writer-%1").arg(next++);
}

}  // namespace

TJournalWriter::TJournalWriter(const QString& fileName, std::vector<TWrite> setups) {
    Thread_ = std::thread([this, fileName, setups = std::move(setups)] { Run(fileName, setups); });
    std::unique_lock<std::mutex> lock(Lock_);
    Changed_.wait(lock, [this] { return Ready_; });
    if (OpenFailure_) {
        lock.unlock();
        Thread_.join();
        std::rethrow_exception(OpenFailure_);
    }
    lock.unlock();
    ExitStop_ = std::make_unique<TExitStop>([this] { Stop(); });
}

TJournalWriter::~TJournalWriter() {
    ExitStop_.reset();
    Stop();
}

void TJournalWriter::Stop() {
    {
        std::lock_guard<std::mutex> lock(Lock_);
        Stopping_ = true;
    }
    Changed_.notify_all();
    if (Thread_.joinable()) Thread_.join();
}

void TJournalWriter::Enqueue(TWrite write) {
    std::exception_ptr failure;
    {
        std::lock_guard<std::mutex> lock(Lock_);
        Queue_.push_back(std::move(write));
        ++Queued_;
        failure = std::exchange(Failure_, nullptr);
    }
    Changed_.notify_all();
    if (failure) std::rethrow_exception(failure);
}

void TJournalWriter::Drain() {
    std::unique_lock<std::mutex> lock(Lock_);
    const std::int64_t target = Queued_;
    Changed_.wait(lock, [&] { return Done_ >= target; });
}

std::int64_t TJournalWriter::Committed() const {
    std::lock_guard<std::mutex> lock(Lock_);
    return Done_;
}

std::int64_t TJournalWriter::Batches() const {
    std::lock_guard<std::mutex> lock(Lock_);
    return Batches_;
}

void TJournalWriter::NoteFailure(std::exception_ptr failure) {
    std::lock_guard<std::mutex> lock(Lock_);
    if (!Failure_) Failure_ = std::move(failure);
}

// The queue is emptied before the thread ends: a stop never drops a write
// handed to it.
void TJournalWriter::Run(const QString& fileName, const std::vector<TWrite>& setups) {
    const QString name = NewWriterConnectionName();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        db.setDatabaseName(fileName);
        bool opened = false;
        try {
            if (!db.open()) throw std::runtime_error(db.lastError().text().toStdString());
            RunSql(db, QStringLiteral("PRAGMA synchronous = FULL"));
            RunSql(db, QStringLiteral("PRAGMA foreign_keys = ON"));
            for (const TWrite& setup : setups) setup(db);
            opened = true;
        } catch (...) {
            std::lock_guard<std::mutex> lock(Lock_);
            OpenFailure_ = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> lock(Lock_);
            Ready_ = true;
        }
        Changed_.notify_all();
        while (opened) {
            std::deque<TWrite> batch;
            {
                std::unique_lock<std::mutex> lock(Lock_);
                Changed_.wait(lock, [this] { return Stopping_ || !Queue_.empty(); });
                if (Queue_.empty()) break;
                batch.swap(Queue_);
            }
            const auto count = static_cast<std::int64_t>(batch.size());
            CommitBatch(db, batch);
            {
                std::lock_guard<std::mutex> lock(Lock_);
                Done_ += count;
                ++Batches_;
            }
            Changed_.notify_all();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

// One transaction for everything that waited: one disk flush however many
// seconds of how many calls it holds. A write that fails (a call no longer
// open) changes nothing and the others still commit.
void TJournalWriter::CommitBatch(QSqlDatabase& db, std::deque<TWrite>& batch) {
    try {
        BeginTransaction(db);
    } catch (...) {
        NoteFailure(std::current_exception());
        return;
    }
    for (TWrite& write : batch) {
        try {
            write(db);
        } catch (...) {
            NoteFailure(std::current_exception());
        }
    }
    try {
        CommitTransaction(db);
    } catch (...) {
        NoteFailure(std::current_exception());
    }
}
