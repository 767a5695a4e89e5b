// A shop database for the counter's tests: a throwaway PostgreSQL cluster
// with the database "tienda" made as a shop makes it (schema, counter
// login, booth logins), and the addresses each side connects with.
#pragma once

#include <memory>

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include "tests/app/pg_cluster.h"

class TShopFixture {
public:
    static constexpr char kDatabase[] = "tienda";
    static constexpr char kCounterPassword[] = "mostrador-pw";

    // Throws std::runtime_error when the cluster cannot be made.
    explicit TShopFixture(const QStringList& booths);
    ~TShopFixture();

    TPgCluster& Cluster() { return *Cluster_; }
    QString CounterUrl() const;
    // Each booth's password is its role's name.
    QString BoothUrl(const QString& booth) const;
    // A superuser connection to the shop's database.
    QSqlDatabase& Admin() { return Admin_; }
    // Runs a statement as the booth's own role (what its replicator does);
    // the error text, empty on success.
    QString AsBooth(const QString& booth, const QString& statement);
    // A number from the shop database (superuser).
    qlonglong Count(const QString& statement);

private:
    std::unique_ptr<TPgCluster> Cluster_;
    QSqlDatabase Admin_;
};
