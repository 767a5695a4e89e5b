#include "app/shop/shop_address.h"

#include <stdexcept>

#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>

namespace {

[[noreturn]] void Invalid(const QString& url, const char* why) {
    throw std::invalid_argument(
        QStringLiteral("Dirección de la base de la tienda no válida (%1): %2").arg(url, QLatin1String(why)).toStdString());
}

}  // namespace

TShopAddress ParseShopAddress(const QString& url) {
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid()) Invalid(url, "no es una dirección");
    if (parsed.scheme() != u"postgresql" && parsed.scheme() != u"postgres")
        Invalid(url, "debe empezar con postgresql://");
    TShopAddress address;
    if (!parsed.host().isEmpty()) address.Host = parsed.host();
    address.Port = parsed.port(5432);
    address.Database = parsed.path(QUrl::FullyDecoded).mid(1);
    if (address.Database.isEmpty() || address.Database.contains(QLatin1Char('/')))
        Invalid(url, "falta el nombre de la base");
    address.User = parsed.userName(QUrl::FullyDecoded);
    address.Password = parsed.password(QUrl::FullyDecoded);
    QStringList options;
    for (const auto& [key, value] : QUrlQuery(parsed).queryItems(QUrl::FullyDecoded)) {
        if (key.isEmpty() || key.contains(QLatin1Char(';')) || value.contains(QLatin1Char(';')))
            Invalid(url, "opción mal escrita");
        options.append(key + QLatin1Char('=') + value);
    }
    address.Options = options.join(QLatin1Char(';'));
    return address;
}

QSqlDatabase OpenShopConnection(const TShopAddress& address, const QString& connectionName) {
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName);
        db.setHostName(address.Host);
        db.setPort(address.Port);
        db.setDatabaseName(address.Database);
        db.setUserName(address.User);
        db.setPassword(address.Password);
        // A server that is off or unreachable must fail the attempt in
        // seconds: the replicator retries on its own schedule.
        QString options = QStringLiteral("connect_timeout=5");
        if (!address.Options.isEmpty()) options += QLatin1Char(';') + address.Options;
        db.setConnectOptions(options);
        if (db.open()) {
            // The server's notices ("already exists, skipping") are for a
            // person at psql, not for the booth's terminal.
            QSqlQuery(db).exec(QStringLiteral("SET client_min_messages TO warning"));
            return db;
        }
        error = db.lastError().text();
    }
    QSqlDatabase::removeDatabase(connectionName);
    throw std::runtime_error(QStringLiteral("No se puede conectar con la base de la tienda en %1:%2: %3")
                                 .arg(address.Host)
                                 .arg(address.Port)
                                 .arg(error)
                                 .toStdString());
}

QString BoothRoleName(const QString& boothName) {
    const QString plain = boothName.normalized(QString::NormalizationForm_KD).toLower();
    QString role = QStringLiteral("booth_");
    bool lastWasUnderscore = true;
    for (const QChar c : plain) {
        if (c.category() == QChar::Mark_NonSpacing) continue;
        const bool keep = (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9');
        if (keep) {
            role.append(c);
            lastWasUnderscore = false;
        } else if (!lastWasUnderscore) {
            role.append(QLatin1Char('_'));
            lastWasUnderscore = true;
        }
    }
    while (role.endsWith(QLatin1Char('_')) && role.size() > 6) role.chop(1);
    // PostgreSQL cuts names at 63 bytes; two long names must not meet there.
    return role.left(63);
}
