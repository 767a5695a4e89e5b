#include "app/shop/shop_roles.h"

#include <stdexcept>

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "app/shop/shop_address.h"

namespace {

QSqlQuery Run(QSqlDatabase& db, const QString& statement, const QVariantList& values, const QString& context) {
    QSqlQuery query(db);
    bool ok = false;
    if (values.isEmpty()) {
        // Role statements cannot be prepared.
        ok = query.exec(statement);
    } else {
        ok = query.prepare(statement);
        for (const QVariant& value : values) query.addBindValue(value);
        ok = ok && query.exec();
    }
    if (!ok) throw std::runtime_error((context + query.lastError().text()).toStdString());
    return query;
}

// Role statements take no bound values; the server quotes the name and the
// password itself, so no password can break out of its literal.
void RunQuotedRoleStatement(QSqlDatabase& db, const QString& pattern, const QString& role, const QString& password,
                            const QString& context) {
    QSqlQuery format = Run(db, QStringLiteral("SELECT format(?, ?::text, ?::text)"), {pattern, role, password}, context);
    format.next();
    Run(db, format.value(0).toString(), {}, context);
}

bool RoleExists(QSqlDatabase& db, const QString& role, const QString& context) {
    QSqlQuery query = Run(db, QStringLiteral("SELECT 1 FROM pg_roles WHERE rolname = ?"), {role}, context);
    return query.next();
}

template <class TWork>
void Transaction(QSqlDatabase& db, const QString& context, TWork&& work) {
    if (!db.transaction()) throw std::runtime_error((context + db.lastError().text()).toStdString());
    try {
        work();
        if (!db.commit()) throw std::runtime_error((context + db.lastError().text()).toStdString());
    } catch (...) {
        db.rollback();
        throw;
    }
}

}  // namespace

void SetCounterPassword(QSqlDatabase& db, const QString& password) {
    const QString context = QStringLiteral("No se puede dar acceso al mostrador: ");
    if (password.isEmpty()) throw std::runtime_error((context + "la contraseña está vacía").toStdString());
    RunQuotedRoleStatement(db, QStringLiteral("ALTER ROLE %I LOGIN PASSWORD %L"), QString::fromLatin1(kCounterRole),
                           password, context);
}

QString AddBoothRole(QSqlDatabase& db, const QString& boothName, const QString& password) {
    const QString name = boothName.trimmed();
    const QString role = BoothRoleName(name);
    const QString context = QStringLiteral("No se puede crear la cabina \"%1\": ").arg(name);
    if (name.isEmpty() || role == u"booth_")
        throw std::runtime_error((context + "el nombre no tiene letras ni números").toStdString());
    if (password.isEmpty()) throw std::runtime_error((context + "la contraseña está vacía").toStdString());
    Transaction(db, context, [&] {
        QSqlQuery owner =
            Run(db, QStringLiteral("SELECT name FROM shop.booths WHERE db_role = ? AND name <> ?"), {role, name},
                context);
        if (owner.next())
            throw std::runtime_error(
                (context + QStringLiteral("el rol %1 ya es de la cabina \"%2\"").arg(role, owner.value(0).toString()))
                    .toStdString());
        const bool exists = RoleExists(db, role, context);
        RunQuotedRoleStatement(db,
                               exists ? QStringLiteral("ALTER ROLE %I LOGIN PASSWORD %L")
                                      : QStringLiteral("CREATE ROLE %I LOGIN PASSWORD %L"),
                               role, password, context);
        Run(db, QStringLiteral("GRANT %1 TO %2").arg(QLatin1String(kBoothGroupRole), role), {}, context);
        Run(db,
            QStringLiteral("INSERT INTO shop.booths (name, db_role) VALUES (?, ?)"
                           " ON CONFLICT (name) DO UPDATE SET db_role = EXCLUDED.db_role"),
            {name, role}, context);
    });
    return role;
}
