#include "tests/app/shop_test_support.h"

#include <stdexcept>

#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>

#include "app/shop/shop_command.h"
#include "tests/app/pg_cluster.h"

void PrepareShop(TPgCluster& cluster, const QString& database, const QStringList& booths) {
    cluster.CreateDatabase(database);
    const QString url = cluster.AdminUrl(database);
    QList<QStringList> commands{{QStringLiteral("--init-shop-db"), url, QString::fromLatin1(kCounterTestPassword)}};
    for (const QString& booth : booths)
        commands.append({QStringLiteral("--add-booth-role"), url, booth, QString::fromLatin1(kBoothTestPassword)});
    for (const QStringList& command : commands) {
        QString out;
        QString err;
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        if (RunShopCommand(QStringList{QStringLiteral("softphone")} + command, outStream, errStream) != 0)
            throw std::runtime_error(err.toStdString());
    }
}

TScopedConnection::~TScopedConnection() {
    Db_.close();
    Db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(Name_);
}

QVariant ScalarOf(QSqlDatabase& db, const QString& statement) {
    QSqlQuery query(db);
    if (!query.exec(statement) || !query.next())
        throw std::runtime_error((statement + ": " + query.lastError().text()).toStdString());
    return query.value(0);
}
