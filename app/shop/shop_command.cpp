#include "app/shop/shop_command.h"

#include <exception>
#include <stdexcept>

#include <QSqlDatabase>

#include "app/shop/shop_address.h"
#include "app/shop/shop_roles.h"
#include "app/shop/shop_schema.h"

namespace {

const QString kInit = QStringLiteral("--init-shop-db");
const QString kAddBooth = QStringLiteral("--add-booth-role");

// The connection is removed once its last handle is gone, whatever happened.
class TAdminConnection {
public:
    explicit TAdminConnection(const QString& url)
        : Db_(OpenShopConnection(ParseShopAddress(url), QStringLiteral("shop-admin"))) {}
    ~TAdminConnection() {
        Db_.close();
        Db_ = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("shop-admin"));
    }
    TAdminConnection(const TAdminConnection&) = delete;
    TAdminConnection& operator=(const TAdminConnection&) = delete;

    QSqlDatabase& Db() { return Db_; }

private:
    QSqlDatabase Db_;
};

}  // namespace

bool IsShopCommand(const QStringList& arguments) {
    return arguments.size() > 1 && (arguments[1] == kInit || arguments[1] == kAddBooth);
}

int RunShopCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    const QString command = arguments.value(1);
    const qsizetype count = arguments.size() - 2;
    if ((command == kInit && (count < 1 || count > 2)) || (command == kAddBooth && count != 3)) {
        err << "softphone: uso / usage:\n"
               "  softphone --init-shop-db URL [CONTRASEÑA_DEL_MOSTRADOR]\n"
               "  softphone --add-booth-role URL \"NOMBRE DE LA CABINA\" CONTRASEÑA\n";
        err.flush();
        return 2;
    }
    try {
        TAdminConnection connection(arguments[2]);
        if (command == kInit) {
            const int before = ReadShopSchemaVersion(connection.Db());
            MigrateShop(connection.Db());
            if (count == 2) SetCounterPassword(connection.Db(), arguments[3]);
            out << QStringLiteral("Base de la tienda lista (versión %1, antes %2) / Shop database ready (version %1, was %2)\n")
                       .arg(ShopSchemaVersion())
                       .arg(before);
        } else {
            if (ReadShopSchemaVersion(connection.Db()) == 0)
                throw std::runtime_error("La base no tiene el esquema de la tienda: ejecute --init-shop-db primero"
                                         " / The database has no shop schema: run --init-shop-db first");
            const QString role = AddBoothRole(connection.Db(), arguments[3], arguments[4]);
            out << QStringLiteral("Cabina \"%1\" lista, rol %2 / Booth \"%1\" ready, role %2\n")
                       .arg(arguments[3].trimmed(), role);
        }
        out.flush();
        return 0;
    } catch (const std::invalid_argument& error) {
        err << "softphone: " << QString::fromUtf8(error.what()) << '\n';
        err.flush();
        return 2;
    } catch (const std::exception& error) {
        err << "softphone: " << QString::fromUtf8(error.what()) << '\n';
        err.flush();
        return 1;
    }
}
