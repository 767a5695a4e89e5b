// The shop's database on a real PostgreSQL started by the test: the schema
// from nothing and from each older version, the administrator's commands
// run twice, the rights of a booth's role as the database enforces them,
// and the counter and a booth charging the same call at the same moment.
#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>

#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

#include "app/shop/shop_command.h"
#include "app/shop/shop_schema.h"
#include "tests/app/pg_cluster.h"
#include "tests/app/test_registry.h"

namespace {

struct TCommandResult {
    int Status = -1;
    QString Out;
    QString Err;
};

TCommandResult RunCommand(const QStringList& arguments) {
    TCommandResult result;
    QTextStream out(&result.Out);
    QTextStream err(&result.Err);
    result.Status = RunShopCommand(QStringList{QStringLiteral("softphone")} + arguments, out, err);
    return result;
}

// A connection that removes itself when the test is done with it.
class TConnection {
public:
    TConnection(QSqlDatabase db) : Name_(db.connectionName()), Db_(std::move(db)) {}
    ~TConnection() {
        Db_.close();
        Db_ = QSqlDatabase();
        QSqlDatabase::removeDatabase(Name_);
    }
    QSqlDatabase& operator*() { return Db_; }

private:
    QString Name_;
    QSqlDatabase Db_;
};

QVariant Scalar(QSqlDatabase& db, const QString& statement) {
    QSqlQuery query(db);
    if (!query.exec(statement) || !query.next())
        throw std::runtime_error((statement + ": " + query.lastError().text()).toStdString());
    return query.value(0);
}

const QString kEndedCall = QStringLiteral(
    "INSERT INTO shop.calls (booth, local_id, change_seq, started_at, updated_at, ended_at, number, dial_string,"
    " state, customer_price) VALUES ('%1', %2, 1, now(), now(), now(), '1155550000', '001155550000', 'terminada',"
    " 4000)");

}  // namespace

class ShopDatabase : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        try {
            Cluster_ = std::make_unique<TPgCluster>();
        } catch (const std::exception& error) {
            QFAIL(error.what());
        }
    }

    void cleanupTestCase() { Cluster_.reset(); }

    // Every older version of the schema is brought to the current one by
    // the same command a shop runs, and running it again changes nothing.
    void migratesFromEveryVersion_data() {
        QTest::addColumn<int>("from");
        for (int version = 0; version < ShopSchemaVersion(); ++version)
            QTest::newRow(qPrintable(QStringLiteral("from %1").arg(version))) << version;
    }

    void migratesFromEveryVersion() {
        QFETCH(int, from);
        const QString name = QStringLiteral("migrate_%1").arg(from);
        Cluster_->CreateDatabase(name);
        {
            TConnection db(Cluster_->Connect(name, QStringLiteral("migrate")));
            if (from > 0) MigrateShop(*db, from);
            QCOMPARE(ReadShopSchemaVersion(*db), from);
        }
        for (int run = 0; run < 2; ++run) {
            const TCommandResult result =
                RunCommand({QStringLiteral("--init-shop-db"), Cluster_->AdminUrl(name), QStringLiteral("mostrador")});
            QVERIFY2(result.Status == 0, qPrintable(result.Err));
            QVERIFY2(result.Out.contains(QStringLiteral("versión %1").arg(ShopSchemaVersion())), qPrintable(result.Out));
        }
        TConnection db(Cluster_->Connect(name, QStringLiteral("migrate")));
        QCOMPARE(ReadShopSchemaVersion(*db), ShopSchemaVersion());
        QCOMPARE(Scalar(*db, QStringLiteral("SELECT COUNT(*) FROM shop.schema_version")).toInt(), 1);
        // The counter's login works with the password given.
        TConnection counter(Cluster_->ConnectAs(QStringLiteral("shop_counter"), QStringLiteral("mostrador"), name,
                                                QStringLiteral("counter")));
        QCOMPARE(Scalar(*counter, QStringLiteral("SELECT COUNT(*) FROM shop.unpaid_calls")).toInt(), 0);
    }

    void commandsRefuseWithAClearMessage_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("not an address") << QStringList{"--init-shop-db", "http://x/y"} << 2 << "postgresql://";
        QTest::newRow("no database named") << QStringList{"--init-shop-db", "postgresql://a@127.0.0.1"} << 2
                                           << "falta el nombre";
        QTest::newRow("missing password") << QStringList{"--add-booth-role", "postgresql://a@h/d", "Cabina 1"} << 2
                                          << "usage";
        QTest::newRow("wrong admin password")
            << QStringList{"--init-shop-db", "WRONG_PASSWORD_URL"} << 1 << "No se puede conectar";
        QTest::newRow("booth name without letters")
            << QStringList{"--add-booth-role", "ADMIN_URL", " - ", "pw"} << 1 << "no tiene letras";
        QTest::newRow("role of another booth")
            << QStringList{"--add-booth-role", "ADMIN_URL", "cabina-3", "pw"} << 1 << "ya es de la cabina \"Cabina 3\"";
    }

    void commandsRefuseWithAClearMessage() {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, message);
        const QString database = PreparedShop();
        QVERIFY(!database.isEmpty());
        arguments.replaceInStrings(QStringLiteral("ADMIN_URL"), Cluster_->AdminUrl(database));
        arguments.replaceInStrings(QStringLiteral("WRONG_PASSWORD_URL"),
                                   Cluster_->Url(TPgCluster::AdminUser(), QStringLiteral("wrong"), database));
        const TCommandResult result = RunCommand(arguments);
        QCOMPARE(result.Status, status);
        QVERIFY2(result.Err.contains(message), qPrintable(result.Err));
    }

    // Added twice, a booth keeps one role and takes the new password.
    void addingABoothAgainChangesItsPassword() {
        const QString database = PreparedShop();
        QVERIFY(!database.isEmpty());
        const TCommandResult again = RunCommand(
            {QStringLiteral("--add-booth-role"), Cluster_->AdminUrl(database), QStringLiteral("Cabina 3"),
             QStringLiteral("nueva")});
        QVERIFY2(again.Status == 0, qPrintable(again.Err));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                                 TConnection(Cluster_->ConnectAs(QStringLiteral("booth_cabina_3"), QStringLiteral("c3"),
                                                                 database, QStringLiteral("old"))));
        TConnection booth(Cluster_->ConnectAs(QStringLiteral("booth_cabina_3"), QStringLiteral("nueva"), database,
                                              QStringLiteral("new")));
        QCOMPARE(Scalar(*booth, QStringLiteral("SELECT shop.my_booth()")).toString(), QStringLiteral("Cabina 3"));
        TConnection admin(Cluster_->Connect(database, QStringLiteral("admin")));
        QCOMPARE(Scalar(*admin, QStringLiteral("SELECT COUNT(*) FROM shop.booths")).toInt(), 2);
    }

    // What a booth PC in a customer's hands may try, and what the database
    // answers.
    void boothRoleWritesOnlyItsOwnRows_data() {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("own call") << kEndedCall.arg("Cabina 3").arg(10) << true;
        QTest::newRow("another booth's call") << kEndedCall.arg("Cabina 4").arg(11) << false;
        QTest::newRow("moving an own call to another booth")
            << "UPDATE shop.calls SET booth = 'Cabina 4' WHERE local_id = 1" << false;
        QTest::newRow("a payment") << "INSERT INTO shop.payments (booth, call_local_id, paid_at, place)"
                                      " VALUES ('Cabina 3', 1, now(), 'cabina')"
                                   << false;
        QTest::newRow("a session") << "INSERT INTO shop.sessions (booth) VALUES ('Cabina 3')" << false;
        QTest::newRow("renaming its booth") << "UPDATE shop.booths SET name = 'Cabina 9'" << false;
        QTest::newRow("its live state") << "UPDATE shop.booths SET state = 'En curso', last_seen = now()" << true;
        QTest::newRow("paying its own ended call") << "SELECT shop.pay_at_booth(1, now(), 5000)" << true;
        QTest::newRow("paying an open call") << "SELECT shop.pay_at_booth(2, now(), 5000)" << false;
        QTest::newRow("voiding the counter's payment")
            << "SELECT shop.void_at_booth(3, now(), (SELECT paid_at FROM shop.payments WHERE call_local_id = 3))"
            << true;
        QTest::newRow("the counter's void function") << "SELECT shop.void_payment('Cabina 3', 3, now(), 'x')" << false;
    }

    void boothRoleWritesOnlyItsOwnRows() {
        QFETCH(QString, statement);
        QFETCH(bool, allowed);
        const QString database = PreparedShop();
        QVERIFY(!database.isEmpty());
        {
            TConnection admin(Cluster_->Connect(database, QStringLiteral("admin")));
            for (const QString& seed :
                 {kEndedCall.arg("Cabina 3").arg(1), kEndedCall.arg("Cabina 4").arg(1), kEndedCall.arg("Cabina 3").arg(3),
                  QStringLiteral("INSERT INTO shop.calls (booth, local_id, change_seq, started_at, updated_at, number,"
                                 " dial_string, state) VALUES ('Cabina 3', 2, 1, now(), now(), '1', '1', 'abierta')"),
                  QStringLiteral("INSERT INTO shop.payments (booth, call_local_id, paid_at, place, operator)"
                                 " VALUES ('Cabina 3', 3, now(), 'mostrador', 'Ana')")})
                QVERIFY2(ExecError(*admin, seed).isEmpty(), qPrintable(ExecError(*admin, seed)));
        }
        QString error;
        {
            TConnection booth(Cluster_->ConnectAs(QStringLiteral("booth_cabina_3"), QStringLiteral("c3"), database,
                                                  QStringLiteral("booth")));
            error = ExecError(*booth, statement);
        }
        QVERIFY2(error.isEmpty() == allowed, qPrintable(error));
        // Nothing of another booth changed, whatever was tried.
        TConnection admin(Cluster_->Connect(database, QStringLiteral("admin")));
        QCOMPARE(Scalar(*admin, QStringLiteral("SELECT COUNT(*) FROM shop.calls WHERE booth = 'Cabina 4'")).toInt(), 1);
        QCOMPARE(Scalar(*admin, QStringLiteral("SELECT COUNT(*) FROM shop.payments WHERE booth = 'Cabina 4'")).toInt(),
                 0);
        QCOMPARE(Scalar(*admin, QStringLiteral("SELECT COUNT(*) FROM shop.payments WHERE call_local_id = 3"
                                               " AND place = 'mostrador'")).toInt(),
                 1);
        QCOMPARE(Scalar(*admin, QStringLiteral("SELECT COUNT(*) FROM shop.voided_payments")).toInt(), 0);
    }

    // The counter and the booth press "Cobrar" on the same call at once,
    // call after call: each call ends with exactly one payment, and each
    // side is told whether it was the one.
    void counterAndBoothChargingAtOnceMakeOnePayment() {
        const QString database = PreparedShop();
        QVERIFY(!database.isEmpty());
        constexpr int kCalls = 30;
        {
            TConnection admin(Cluster_->Connect(database, QStringLiteral("admin")));
            for (int id = 1; id <= kCalls; ++id) QVERIFY(ExecError(*admin, kEndedCall.arg("Cabina 3").arg(id)).isEmpty());
            QVERIFY(ExecError(*admin, QStringLiteral("ALTER ROLE shop_counter LOGIN PASSWORD 'm'")).isEmpty());
        }
        std::atomic<int> ready{0};
        std::atomic<int> boothWins{0};
        std::atomic<int> counterWins{0};
        std::atomic<int> failures{0};
        auto side = [&](const QString& user, const QString& password, const QString& statement,
                        std::atomic<int>& wins) {
            const QString name = QStringLiteral("race-") + user;
            {
                QSqlDatabase db = Cluster_->ConnectAs(user, password, database, name);
                for (int id = 1; id <= kCalls; ++id) {
                    // Both sides wait for each other before each call.
                    ready.fetch_add(1);
                    while (ready.load() < 2 * id) std::this_thread::yield();
                    QSqlQuery query(db);
                    if (!query.exec(statement.arg(id)) || !query.next()) {
                        failures.fetch_add(1);
                        continue;
                    }
                    if (query.value(0).toBool()) wins.fetch_add(1);
                }
            }
            QSqlDatabase::removeDatabase(name);
        };
        std::thread booth(side, QStringLiteral("booth_cabina_3"), QStringLiteral("c3"),
                          QStringLiteral("SELECT shop.pay_at_booth(%1, now(), 5000)"), std::ref(boothWins));
        std::thread counter(side, QStringLiteral("shop_counter"), QStringLiteral("m"),
                            QStringLiteral("WITH taken AS (INSERT INTO shop.payments (booth, call_local_id, paid_at,"
                                           " amount_received, place, operator) VALUES ('Cabina 3', %1, now(), 4000,"
                                           " 'mostrador', 'Ana') ON CONFLICT DO NOTHING RETURNING 1)"
                                           " SELECT COUNT(*) = 1 FROM taken"),
                            std::ref(counterWins));
        booth.join();
        counter.join();
        QCOMPARE(failures.load(), 0);
        QCOMPARE(boothWins.load() + counterWins.load(), kCalls);
        TConnection admin(Cluster_->Connect(database, QStringLiteral("admin")));
        QCOMPARE(Scalar(*admin, QStringLiteral("SELECT COUNT(*) FROM shop.payments")).toInt(), kCalls);
        QCOMPARE(Scalar(*admin, QStringLiteral("SELECT COUNT(DISTINCT changed) FROM shop.payments")).toInt(), kCalls);
        // Each payment keeps the price it charged.
        QCOMPARE(Scalar(*admin, QStringLiteral("SELECT COUNT(*) FROM shop.payments WHERE price = 4000")).toInt(), kCalls);
    }

private:
    // A fresh shop with two booths, "Cabina 3" (password c3) and "Cabina 4".
    QString PreparedShop() {
        const QString name = QStringLiteral("shop_%1").arg(++Databases_);
        Cluster_->CreateDatabase(name);
        const QString url = Cluster_->AdminUrl(name);
        for (const QStringList& command :
             {QStringList{"--init-shop-db", url}, QStringList{"--add-booth-role", url, "Cabina 3", "c3"},
              QStringList{"--add-booth-role", url, "Cabina 4", "c4"}}) {
            const TCommandResult result = RunCommand(command);
            if (result.Status != 0) {
                qWarning("%s", qPrintable(result.Err));
                return QString();
            }
        }
        return name;
    }

    std::unique_ptr<TPgCluster> Cluster_;
    int Databases_ = 0;
};

BOOTH_TEST_CLASS(ShopDatabase);

#include "shop_database_test.moc"
