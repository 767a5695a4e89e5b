// The shop's addresses as a shop writes them in a booth's settings, and
// the database role a booth's name becomes: pure functions, from tables.
#include <stdexcept>

#include <QTest>

#include "app/shop/shop_address.h"
#include "tests/app/test_registry.h"

class ShopAddress : public QObject {
    Q_OBJECT

private slots:
    void parsesAddresses_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("options");
        QTest::newRow("whole") << "postgresql://booth_cabina_3:pw@192.168.1.10:5433/tienda" << "192.168.1.10" << 5433
                               << "tienda" << "booth_cabina_3" << "pw" << "";
        QTest::newRow("short scheme, default port") << "postgres://u@caja/tienda" << "caja" << 5432 << "tienda" << "u"
                                                    << "" << "";
        QTest::newRow("encoded password") << "postgresql://u:p%40ss%3Aw%2Fd@h/t" << "h" << 5432 << "t" << "u"
                                          << "p@ss:w/d" << "";
        QTest::newRow("libpq options") << "postgresql://u@h/t?sslmode=require&application_name=cabina" << "h" << 5432
                                       << "t" << "u" << "" << "sslmode=require;application_name=cabina";
    }

    void parsesAddresses() {
        QFETCH(QString, url);
        const TShopAddress address = ParseShopAddress(url);
        QTEST(address.Host, "host");
        QTEST(address.Port, "port");
        QTEST(address.Database, "database");
        QTEST(address.User, "user");
        QTEST(address.Password, "password");
        QTEST(address.Options, "options");
    }

    void refusesAddresses_data() {
        QTest::addColumn<QString>("url");
        QTest::newRow("another scheme") << "mysql://u@h/t";
        QTest::newRow("no database") << "postgresql://u@h";
        QTest::newRow("a path, not a database") << "postgresql://u@h/t/x";
        QTest::newRow("an option that would add another") << "postgresql://u@h/t?sslmode=a;host=evil";
    }

    void refusesAddresses() {
        QFETCH(QString, url);
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, ParseShopAddress(url));
    }

    void boothRoleNames_data() {
        QTest::addColumn<QString>("booth");
        QTest::addColumn<QString>("role");
        QTest::newRow("plain") << "Cabina 3" << "booth_cabina_3";
        QTest::newRow("accents and eñe") << "Cabina Ñandú 3" << "booth_cabina_nandu_3";
        QTest::newRow("runs of symbols") << "  Cabina--3 (fondo) " << "booth_cabina_3_fondo";
        QTest::newRow("quotes cannot reach SQL") << "x\"; DROP ROLE y; --" << "booth_x_drop_role_y";
        QTest::newRow("cut at PostgreSQL's limit") << QString(80, QLatin1Char('a')) << "booth_" + QString(57, QLatin1Char('a'));
    }

    void boothRoleNames() {
        QFETCH(QString, booth);
        QTEST(BoothRoleName(booth), "role");
    }
};

BOOTH_TEST_CLASS(ShopAddress);

#include "shop_address_test.moc"
