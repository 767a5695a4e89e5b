#include "app/counter/shop_listener.h"

#include <stdexcept>

#include <QSqlDriver>
#include <QSqlError>
#include <QVariant>

#include "app/shop/shop_address.h"

TShopListener::TShopListener(QSqlDatabase db, QObject* parent) : QObject(parent), Db_(std::move(db)) {
    QSqlDriver* driver = Db_.driver();
    if (!driver->subscribeToNotification(QString::fromLatin1(kShopChannel)))
        throw std::runtime_error(("No se pueden recibir los avisos de la tienda: " + driver->lastError().text())
                                     .toStdString());
    connect(driver, &QSqlDriver::notification, this,
            [this](const QString& name, QSqlDriver::NotificationSource, const QVariant& payload) {
                if (name == QString::fromLatin1(kShopChannel)) emit Changed(payload.toString());
            });
}

TShopListener::~TShopListener() {
    if (Db_.isOpen()) Db_.driver()->unsubscribeFromNotification(QString::fromLatin1(kShopChannel));
}
