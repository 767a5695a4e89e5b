// The booth's own database: one SQLite file (through Qt SQL) in the user's
// data folder holding the call journal, the selling rates and the shifts.
// It works without the portal: nothing here waits for the network.
//
// Opening the file brings its schema up to date step by step (the version
// is SQLite's user_version), switches to write-ahead logging with a sync at
// every commit, so a power cut loses at most the writes of the second in
// progress, and closes every call a crash left open as "interrumpida" with
// the figures last written for it.
//
// One program writes the journal (the booth); it holds a lock file beside
// the database while it runs, and only it closes calls found open, so a
// reader opened beside it never takes a running call for a crashed one.
//
// Threading: a connection belongs to the thread that opened it. Each
// TJournalDb is its own connection; readers and the writer may use separate
// ones on the same file at once (readers never wait for the writer).
//
// The writer may start a writer thread (StartWriterThread) for the call
// path's writes; Db() then waits for what was handed to it to be committed,
// so everything done through Db() comes after those writes.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <QSqlDatabase>
#include <QString>
#include <QVariantList>

class QLockFile;
class QSqlQuery;
class TJournalWriter;

enum class TJournalAccess { Writer, Reader };

class TJournalDb {
public:
    // Throws std::runtime_error "No se puede abrir el registro de llamadas: ..."
    // when the file cannot be opened or brought up to date, or (for the
    // writer) when another program writes it.
    explicit TJournalDb(const QString& fileName, TJournalAccess access = TJournalAccess::Writer);
    ~TJournalDb();
    TJournalDb(const TJournalDb&) = delete;
    TJournalDb& operator=(const TJournalDb&) = delete;

    QSqlDatabase& Db();
    // Runs `setup` on this connection now and on the writer thread's
    // (before its next write): things that live per connection.
    void OnEveryConnection(std::function<void(QSqlDatabase&)> setup);
    // Starts the writer thread (once); throws std::runtime_error when its
    // connection cannot be opened.
    void StartWriterThread();
    // The writer thread, null until it is started.
    TJournalWriter* Writer() { return Writer_.get(); }
    QString FileName() const { return Db_.databaseName(); }
    int SchemaVersion();
    // Calls found open at opening and closed as interrupted.
    int RecoveredCalls() const { return Recovered_; }

    // journal.sqlite in the user's data folder (created when missing).
    static QString DefaultFileName();
    // The version the program writes; older files are migrated up to it.
    static int CurrentSchemaVersion();

private:
    void Configure();
    void Migrate();
    void RecoverOpenCalls();

    std::unique_ptr<QLockFile> WriterLock_;  // held by the writer while open
    QString ConnectionName_;
    QSqlDatabase Db_;
    int Recovered_ = 0;
    std::vector<std::function<void(QSqlDatabase&)>> Setups_;
    std::unique_ptr<TJournalWriter> Writer_;  // stopped and joined before Db_ closes
};

// Runs one statement with its bound values; throws std::runtime_error with
// the driver's text on failure. The query is returned for reading rows.
QSqlQuery RunSql(QSqlDatabase& db, const QString& statement, const QVariantList& values = {});

// Runs `work` inside a transaction: committed when it returns, rolled back
// when it throws (and the exception goes on).
template <class TWork>
void InTransaction(QSqlDatabase& db, TWork&& work);

void BeginTransaction(QSqlDatabase& db);
void CommitTransaction(QSqlDatabase& db);

template <class TWork>
void InTransaction(QSqlDatabase& db, TWork&& work) {
    BeginTransaction(db);
    try {
        work();
    } catch (...) {
        db.rollback();
        throw;
    }
    CommitTransaction(db);
}
