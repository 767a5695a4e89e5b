#include "tests/app/shop_fixture.h"

#include <stdexcept>

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "app/shop/shop_address.h"
#include "app/shop/shop_roles.h"
#include "app/shop/shop_schema.h"

TShopFixture::TShopFixture(const QStringList& booths) : Cluster_(std::make_unique<TPgCluster>()) {
    const QString database = QString::fromLatin1(kDatabase);
    Cluster_->CreateDatabase(database);
    Admin_ = Cluster_->Connect(database, QStringLiteral("shop-fixture-admin"));
    MigrateShop(Admin_);
    SetCounterPassword(Admin_, QString::fromLatin1(kCounterPassword));
    for (const QString& booth : booths) AddBoothRole(Admin_, booth, BoothRoleName(booth));
}

TShopFixture::~TShopFixture() {
    Admin_.close();
    Admin_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("shop-fixture-admin"));
    for (const QString& name : QSqlDatabase::connectionNames())
        if (name.startsWith(u"shop-fixture-booth")) QSqlDatabase::removeDatabase(name);
}

QString TShopFixture::CounterUrl() const {
    return Cluster_->Url(QString::fromLatin1(kCounterRole), QString::fromLatin1(kCounterPassword),
                         QString::fromLatin1(kDatabase));
}

QString TShopFixture::BoothUrl(const QString& booth) const {
    return Cluster_->Url(BoothRoleName(booth), BoothRoleName(booth), QString::fromLatin1(kDatabase));
}

QString TShopFixture::AsBooth(const QString& booth, const QString& statement) {
    const QString name = QStringLiteral("shop-fixture-booth-") + BoothRoleName(booth);
    QSqlDatabase db = QSqlDatabase::contains(name)
                          ? QSqlDatabase::database(name)
                          : Cluster_->ConnectAs(BoothRoleName(booth), BoothRoleName(booth), QString::fromLatin1(kDatabase), name);
    return ExecError(db, statement);
}

qlonglong TShopFixture::Count(const QString& statement) {
    QSqlQuery query(Admin_);
    if (!query.exec(statement) || !query.next())
        throw std::runtime_error((statement + ": " + query.lastError().text()).toStdString());
    return query.value(0).toLongLong();
}
