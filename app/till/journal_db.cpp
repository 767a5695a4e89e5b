#include "app/till/journal_db.h"

#include <atomic>
#include <stdexcept>

#include <QDir>
#include <QLockFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

#include "app/till/journal_writer.h"

namespace {

// Each step takes a file from the version before it to its own number. A
// released step is never edited: changes go in a new step at the end.
const QStringList kMigrations[] = {
    // 1: the call journal. Times are milliseconds since the epoch (UTC) and
    // amounts ten-thousandths of the currency unit, as the program keeps them.
    {QStringLiteral("CREATE TABLE calls ("
                    " id INTEGER PRIMARY KEY,"
                    " started_at INTEGER NOT NULL,"
                    " number TEXT NOT NULL,"
                    " dial_string TEXT NOT NULL,"
                    " destination TEXT NOT NULL DEFAULT '',"
                    " rate INTEGER NOT NULL DEFAULT 0,"
                    " answered_at INTEGER,"
                    " updated_at INTEGER NOT NULL,"
                    " ended_at INTEGER,"
                    " seconds INTEGER NOT NULL DEFAULT 0,"
                    " charged_minutes INTEGER NOT NULL DEFAULT 0,"
                    " provider_cost INTEGER NOT NULL DEFAULT 0,"
                    " customer_price INTEGER NOT NULL DEFAULT 0,"
                    " state TEXT NOT NULL DEFAULT 'abierta'"
                    "  CHECK (state IN ('abierta', 'terminada', 'interrumpida')),"
                    " sip_status INTEGER,"
                    " end_reason TEXT NOT NULL DEFAULT '')"),
     QStringLiteral("CREATE INDEX calls_started ON calls (started_at)"),
     QStringLiteral("CREATE INDEX calls_open ON calls (state) WHERE state = 'abierta'")},
    // 2: the selling rates: rules per prefix and the single values.
    {QStringLiteral("CREATE TABLE selling_rules ("
                    " prefix TEXT PRIMARY KEY,"
                    " kind TEXT NOT NULL CHECK (kind IN ('precio', 'factor')),"
                    " value INTEGER NOT NULL)"),
     QStringLiteral("CREATE TABLE selling_settings (name TEXT PRIMARY KEY, value INTEGER NOT NULL)")},
    // 3: checkout and shifts.
    {QStringLiteral("ALTER TABLE calls ADD COLUMN paid_at INTEGER"),
     QStringLiteral("ALTER TABLE calls ADD COLUMN amount_received INTEGER"),
     QStringLiteral("CREATE INDEX calls_paid ON calls (paid_at) WHERE paid_at IS NOT NULL"),
     QStringLiteral("CREATE TABLE shifts ("
                    " id INTEGER PRIMARY KEY,"
                    " opened_at INTEGER NOT NULL,"
                    " opening_cash INTEGER NOT NULL DEFAULT 0,"
                    " closed_at INTEGER,"
                    " cash_expected INTEGER,"
                    " cash_counted INTEGER)")},
    // 4: the voice quality of a call, when the media side measured it.
    {QStringLiteral("ALTER TABLE calls ADD COLUMN quality_mos REAL"),
     QStringLiteral("ALTER TABLE calls ADD COLUMN quality_jitter_ms REAL"),
     QStringLiteral("ALTER TABLE calls ADD COLUMN quality_loss_percent REAL")},
    // 5: what the booth heard from the far end after the answer ("posible
    // falsa atención", "sin audio del destino"), so the operator can refuse
    // to charge.
    {QStringLiteral("ALTER TABLE calls ADD COLUMN answer_flags TEXT")},
    // 6: payments taken back by the administrator, kept so the close can be
    // audited: the payment as it stood and when it was voided.
    {QStringLiteral("CREATE TABLE voided_payments ("
                    " id INTEGER PRIMARY KEY,"
                    " call_id INTEGER NOT NULL REFERENCES calls (id),"
                    " voided_at INTEGER NOT NULL,"
                    " paid_at INTEGER NOT NULL,"
                    " amount_received INTEGER)")},
    // 7: where the call's rate came from ('portal', 'operador' when typed at
    // checkout, 'reserva' for the administrator's fallback rate; empty while
    // no rate is known, so a call nobody priced is never taken for a free
    // one), and the guard's reason when the booth itself cut the call.
    {QStringLiteral("ALTER TABLE calls ADD COLUMN rate_origin TEXT"),
     QStringLiteral("UPDATE calls SET rate_origin = 'portal' WHERE destination != '' OR rate != 0"),
     QStringLiteral("ALTER TABLE calls ADD COLUMN cut_reason TEXT")},
    // 8: the shop's replication: the changes still to send to the shop's
    // database (numbered for good: AUTOINCREMENT never gives a number twice,
    // even after the table has emptied), which shop the booth is linked to
    // and the last change it took from there, the shop's sessions of this
    // booth, and the voids the counter made, by the shop's own number.
    {QStringLiteral("CREATE TABLE shop_outbox ("
                    " seq INTEGER PRIMARY KEY AUTOINCREMENT,"
                    " kind TEXT NOT NULL CHECK (kind IN ('call', 'void')),"
                    " row_id INTEGER NOT NULL)"),
     QStringLiteral("CREATE TABLE shop_link ("
                    " id INTEGER PRIMARY KEY CHECK (id = 1),"
                    " link TEXT NOT NULL,"
                    " pulled INTEGER NOT NULL DEFAULT 0)"),
     QStringLiteral("CREATE TABLE shop_sessions ("
                    " id INTEGER PRIMARY KEY,"
                    " opened_at INTEGER NOT NULL,"
                    " closed_at INTEGER,"
                    " limit_amount INTEGER,"
                    " opened_by TEXT,"
                    " closed_by TEXT)"),
     QStringLiteral("ALTER TABLE voided_payments ADD COLUMN shop_id INTEGER"),
     QStringLiteral("CREATE UNIQUE INDEX voided_shop ON voided_payments (shop_id) WHERE shop_id IS NOT NULL")},
};

constexpr int kSchemaVersion = static_cast<int>(std::size(kMigrations));

[[noreturn]] void Fail(const QString& what) {
    throw std::runtime_error(("No se puede abrir el registro de llamadas: " + what).toStdString());
}

QString NewConnectionName() {
    static std::atomic<int> next{0};
    return QStringLiteral("journal-%1").arg(next++);
}

// The lock file names its owner's process; one left by a program that
// died is taken over.
std::unique_ptr<QLockFile> TakeWriterLock(const QString& fileName) {
    auto lock = std::make_unique<QLockFile>(fileName + QStringLiteral(".writer"));
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        if (lock->error() == QLockFile::LockFailedError) Fail(QStringLiteral("otro programa lo está escribiendo"));
        Fail(QStringLiteral("no se puede crear %1.writer").arg(fileName));
    }
    return lock;
}

}  // namespace

QSqlQuery RunSql(QSqlDatabase& db, const QString& statement, const QVariantList& values) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(statement))
        throw std::runtime_error((statement + ": " + query.lastError().text()).toStdString());
    for (const QVariant& value : values) query.addBindValue(value);
    if (!query.exec()) throw std::runtime_error((statement + ": " + query.lastError().text()).toStdString());
    return query;
}

void BeginTransaction(QSqlDatabase& db) {
    if (!db.transaction()) throw std::runtime_error(db.lastError().text().toStdString());
}

void CommitTransaction(QSqlDatabase& db) {
    if (!db.commit()) {
        const QString error = db.lastError().text();
        db.rollback();
        throw std::runtime_error(error.toStdString());
    }
}

TJournalDb::TJournalDb(const QString& fileName, TJournalAccess access)
    : WriterLock_(access == TJournalAccess::Writer ? TakeWriterLock(fileName) : nullptr),
      ConnectionName_(NewConnectionName()),
      Db_(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), ConnectionName_)) {
    // A writer holding the file a moment (a checkpoint, another connection's
    // commit) is waited for rather than failing the call record.
    Db_.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    Db_.setDatabaseName(fileName);
    try {
        if (!Db_.open()) Fail(Db_.lastError().text());
        Configure();
        Migrate();
        if (WriterLock_) RecoverOpenCalls();
    } catch (const std::runtime_error& error) {
        Db_.close();
        Db_ = QSqlDatabase();
        QSqlDatabase::removeDatabase(ConnectionName_);
        const QString text = QString::fromUtf8(error.what());
        if (text.startsWith(u"No se puede abrir")) throw;
        Fail(text);
    }
}

TJournalDb::~TJournalDb() {
    Writer_.reset();
    Db_.close();
    Db_ = QSqlDatabase();  // the last handle must go before the connection is removed
    QSqlDatabase::removeDatabase(ConnectionName_);
}

QSqlDatabase& TJournalDb::Db() {
    if (Writer_) Writer_->Drain();
    return Db_;
}

void TJournalDb::OnEveryConnection(std::function<void(QSqlDatabase&)> setup) {
    setup(Db_);
    if (Writer_) Writer_->Enqueue(setup);
    Setups_.push_back(std::move(setup));
}

void TJournalDb::StartWriterThread() {
    if (!Writer_) Writer_ = std::make_unique<TJournalWriter>(FileName(), Setups_);
}

QString TJournalDb::DefaultFileName() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(folder);
    return QDir(folder).filePath(QStringLiteral("journal.sqlite"));
}

int TJournalDb::CurrentSchemaVersion() { return kSchemaVersion; }

int TJournalDb::SchemaVersion() {
    QSqlQuery query = RunSql(Db_, QStringLiteral("PRAGMA user_version"));
    return query.next() ? query.value(0).toInt() : 0;
}

void TJournalDb::Configure() {
    QSqlQuery mode = RunSql(Db_, QStringLiteral("PRAGMA journal_mode = WAL"));
    if (!mode.next() || mode.value(0).toString().compare(u"wal", Qt::CaseInsensitive) != 0)
        Fail(QStringLiteral("el archivo no admite registro de escritura anticipada"));
    RunSql(Db_, QStringLiteral("PRAGMA synchronous = FULL"));
    RunSql(Db_, QStringLiteral("PRAGMA foreign_keys = ON"));
}

// All steps and the new version number are committed together, so a crash
// in the middle of a migration leaves the file as it was. The write lock is
// taken before the version is read: two programs opening an old file at
// once migrate it once.
void TJournalDb::Migrate() {
    if (SchemaVersion() == kSchemaVersion) return;
    RunSql(Db_, QStringLiteral("BEGIN IMMEDIATE"));
    try {
        const int found = SchemaVersion();
        if (found > kSchemaVersion)
            Fail(QStringLiteral("el archivo es de una versión más nueva del programa (%1)").arg(found));
        for (int version = found + 1; version <= kSchemaVersion; ++version)
            for (const QString& statement : kMigrations[version - 1]) RunSql(Db_, statement);
        RunSql(Db_, QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion));
        RunSql(Db_, QStringLiteral("COMMIT"));
    } catch (...) {
        QSqlQuery(Db_).exec(QStringLiteral("ROLLBACK"));
        throw;
    }
}

// A call still open when the program starts was cut by a crash or a power
// cut: it ends where its last progress write left it.
void TJournalDb::RecoverOpenCalls() {
    QSqlQuery query = RunSql(Db_, QStringLiteral("UPDATE calls SET state = 'interrumpida', ended_at = updated_at,"
                                                 " end_reason = 'interrumpida' WHERE state = 'abierta'"));
    Recovered_ = query.numRowsAffected();
}
