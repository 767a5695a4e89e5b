// The shop's tests' common steps: a shop database made on a throwaway
// cluster by the administrator's own commands, and connections that remove
// themselves.
#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>

class TPgCluster;

// Creates `database`, its schema (the counter's password "mostrador") and
// one booth role per name, each with the password "clave". Throws
// std::runtime_error with the command's message.
void PrepareShop(TPgCluster& cluster, const QString& database, const QStringList& booths);
inline constexpr char kCounterTestPassword[] = "mostrador";
inline constexpr char kBoothTestPassword[] = "clave";

// A QSqlDatabase connection removed when this goes.
class TScopedConnection {
public:
    explicit TScopedConnection(QSqlDatabase db) : Name_(db.connectionName()), Db_(std::move(db)) {}
    ~TScopedConnection();
    TScopedConnection(const TScopedConnection&) = delete;
    TScopedConnection& operator=(const TScopedConnection&) = delete;
    QSqlDatabase& operator*() { return Db_; }

private:
    QString Name_;
    QSqlDatabase Db_;
};

// The first column of the first row; throws std::runtime_error on an error
// or no row.
QVariant ScalarOf(QSqlDatabase& db, const QString& statement);
