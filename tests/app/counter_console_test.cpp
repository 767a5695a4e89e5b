// The counter against a real PostgreSQL started by the test: the console
// shows a booth's change through the database's announcements within a
// second, the booth's session follows the counter's gestures through its
// journal's copy (and survives the database going away), checkout charges a booth's calls once, all or
// none, and the shop's close sums every booth and every operator.
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "app/counter/board_model.h"
#include "app/counter/booth_session_watch.h"
#include "app/counter/counter_db.h"
#include "app/shop/shop_replicator.h"
#include "app/till/journal_db.h"
#include "app/ui/counter_window.h"
#include "tests/app/booth_test_support.h"
#include "tests/app/shop_fixture.h"
#include "tests/app/test_registry.h"

namespace {

constexpr int kWaitMs = 10000;  // a bound only a fault reaches

const QString kBooth1 = QStringLiteral("Cabina 1");
const QString kBooth2 = QStringLiteral("Cabina 2");

// An ended call of the booth, written as its replicator writes it.
QString EndedCall(const QString& booth, int localId, int priceUnits, const QString& started = QStringLiteral("now()")) {
    return QStringLiteral("INSERT INTO shop.calls (booth, local_id, change_seq, started_at, updated_at, answered_at,"
                          " ended_at, number, dial_string, destination, rate, rate_origin, seconds, charged_minutes,"
                          " provider_cost, customer_price, state)"
                          " VALUES ('%1', %2, 1, %4, %4, %4, %4, '1155550%2', '001155550%2', 'Buenos Aires', 1000000,"
                          " 'portal', 65, 2, %3 * 5000, %3 * 10000, 'terminada')")
        .arg(booth)
        .arg(localId)
        .arg(priceUnits)
        .arg(started);
}

int RowOf(TBoardModel& board, const QString& booth) {
    for (int row = 0; row < board.rowCount(); ++row)
        if (board.Text(row, TBoardModel::Booth) == booth) return row;
    return -1;
}

}  // namespace

class CounterConsole : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        IsolatedConfigHome();
        UseBoothTestLocale();
        try {
            Shop_ = std::make_unique<TShopFixture>(QStringList{kBooth1, kBooth2});
        } catch (const std::exception& error) {
            QFAIL(error.what());
        }
    }
    void cleanupTestCase() { Shop_.reset(); }
    void cleanup() {
        for (const char* statement : {"DELETE FROM shop.payments", "DELETE FROM shop.voided_payments",
                                      "DELETE FROM shop.calls", "DELETE FROM shop.sessions"})
            QCOMPARE(ExecError(Shop_->Admin(), QString::fromLatin1(statement)), QString());
    }

    // The booth writes its live state; the console shows it without being
    // asked, and the duration ticks from the answer on the counter's clock.
    void consoleShowsTheBoothsCallWithinASecond() {
        TCounterWindow window(Shop_->CounterUrl(), QStringLiteral("Marta"));
        window.Start();
        QVERIFY(window.Connected());
        TBoardModel& board = window.Board();
        QCOMPARE(board.rowCount(), 2);
        const int row = RowOf(board, kBooth1);
        QCOMPARE(Shop_->AsBooth(kBooth1, QStringLiteral("UPDATE shop.booths SET last_seen = now() WHERE name = 'Cabina 1'")),
                 QString());
        QCOMPARE(ExecError(Shop_->Admin(), QStringLiteral("INSERT INTO shop.sessions (booth) VALUES ('Cabina 1')")),
                 QString());
        QTRY_COMPARE_WITH_TIMEOUT(board.Text(row, TBoardModel::State), QStringLiteral("Libre"), kWaitMs);
        QSignalSpy refreshed(&window, &TCounterWindow::BoardRefreshed);
        QElapsedTimer sinceChange;
        QCOMPARE(Shop_->AsBooth(kBooth1, QStringLiteral(
                                             "UPDATE shop.booths SET state = 'En curso', call_number = '1155551234',"
                                             " call_destination = 'Buenos Aires', call_started = now() - interval '70 s',"
                                             " call_answered = to_timestamp((extract(epoch from now()) * 1000 - 65000)::bigint / 1000.0),"
                                             " call_cost = 20000,"
                                             " call_price = 30000, last_seen = now() WHERE name = 'Cabina 1'")),
                 QString());
        sinceChange.start();
        QTRY_COMPARE_WITH_TIMEOUT(board.Text(row, TBoardModel::Number), QStringLiteral("1155551234"), kWaitMs);
        const qint64 lag = sinceChange.elapsed();
        qInfo("board updated %lld ms after the booth's change", lag);
        QVERIFY2(lag < 1000, qPrintable(QStringLiteral("%1 ms").arg(lag)));
        QVERIFY(!refreshed.isEmpty());
        QCOMPARE(board.Text(row, TBoardModel::State), QStringLiteral("En curso"));
        QCOMPARE(board.Text(row, TBoardModel::Destination), QStringLiteral("Buenos Aires"));
        QCOMPARE(board.Text(row, TBoardModel::Price), FormatCurrency(MoneyFromUnits(3), QLocale()));
        QVERIFY2(board.Text(row, TBoardModel::Duration).startsWith(QStringLiteral("0:01:0")),
                 qPrintable(board.Text(row, TBoardModel::Duration)));
        // The other booth is closed (no session) and never heard from.
        QCOMPARE(board.Text(RowOf(board, kBooth2), TBoardModel::State), QStringLiteral("Sin conexión desde --:--"));
        // A booth silent too long is shown so, from the counter's own clock.
        QCOMPARE(Shop_->AsBooth(kBooth1, QStringLiteral("UPDATE shop.booths SET last_seen = now() - interval '20 s'"
                                                        " WHERE name = 'Cabina 1'")),
                 QString());
        QTRY_VERIFY_WITH_TIMEOUT(board.Text(row, TBoardModel::State).startsWith(QStringLiteral("Sin conexión desde ")),
                                 kWaitMs);
    }

    // What the operator reads: the cells of the console's table, through the
    // view's own model, for every state a booth can be in, and a running
    // call's duration, cost and price ("A cobrar").
    void tableCellsShowEachState() {
        struct TRow {
            const char* live;      // the state the booth wrote
            bool session;          // a session is open for the booth
            const char* answered;  // SQL for the answer time
            const char* lastSeen;  // SQL for the heartbeat
            int cost, price;       // the call's, in units
            QString state;
            const char* duration;  // how the cell starts; null when empty
        };
        const QDateTime heard(QDate(2026, 12, 8), QTime(7, 5), Qt::UTC);
        const TRow rows[] = {
            {"Libre", false, "NULL", "now()", 0, 0, QStringLiteral("Cerrada"), nullptr},
            {"Libre", true, "NULL", "now()", 0, 0, QStringLiteral("Libre"), nullptr},
            {"Marcando", true, "NULL", "now()", 0, 0, QStringLiteral("Marcando"), "0:00:00"},
            {"Timbrando", true, "NULL", "now()", 0, 0, QStringLiteral("Timbrando"), "0:00:00"},
            {"En curso", true, "now() - interval '65 s'", "now()", 2, 3, QStringLiteral("En curso"), "0:01:0"},
            {"En curso", true, "now() - interval '65 s'", "'2026-12-08 07:05:00+00'", 2, 3,
             "Sin conexión desde " + heard.toLocalTime().toString(QStringLiteral("HH:mm")), "0:01:"},
        };
        TCounterWindow window(Shop_->CounterUrl(), QStringLiteral("Marta"));
        window.Start();
        const QTableView* view = window.findChild<QTableView*>();
        QVERIFY(view && view->model());
        const QAbstractItemModel& model = *view->model();
        QCOMPARE(model.headerData(TBoardModel::Price, Qt::Horizontal).toString(), QStringLiteral("A cobrar"));
        const int row = RowOf(window.Board(), kBooth1);
        const auto cell = [&](TBoardModel::TColumn column) { return model.index(row, column).data().toString(); };
        TCounterDb counter(Shop_->CounterUrl(), QStringLiteral("Marta"));
        bool sessionOpen = false;
        for (const TRow& expected : rows) {
            if (expected.session && !sessionOpen) sessionOpen = counter.OpenSession(kBooth1, std::nullopt).IsOpen();
            QCOMPARE(sessionOpen, expected.session);
            const QString live = QStringLiteral(
                "UPDATE shop.booths SET state = '%1', call_local_id = 7, call_number = '1155550007',"
                " call_destination = 'Buenos Aires', call_started = now() - interval '70 s', call_answered = %2,"
                " call_cost = %3 * 10000, call_price = %4 * 10000, last_seen = %5 WHERE name = 'Cabina 1'");
            QCOMPARE(Shop_->AsBooth(kBooth1, live.arg(QString::fromUtf8(expected.live),
                                                      QString::fromUtf8(expected.answered))
                                                 .arg(expected.cost)
                                                 .arg(expected.price)
                                                 .arg(QString::fromUtf8(expected.lastSeen))),
                     QString());
            QTRY_COMPARE_WITH_TIMEOUT(cell(TBoardModel::State), expected.state, kWaitMs);
            const QString duration = cell(TBoardModel::Duration);
            const bool inCall = expected.duration != nullptr;
            QVERIFY2(inCall ? duration.startsWith(QString::fromUtf8(expected.duration)) : duration.isEmpty(),
                     qPrintable(expected.state + ": " + duration));
            QCOMPARE(cell(TBoardModel::Number), inCall ? QStringLiteral("1155550007") : QString());
            QCOMPARE(cell(TBoardModel::Cost),
                     inCall ? FormatCurrency(MoneyFromUnits(expected.cost), QLocale()) : QString());
            QCOMPARE(cell(TBoardModel::Price),
                     inCall ? FormatCurrency(MoneyFromUnits(expected.price), QLocale()) : QString());
        }
    }

    // Closed until the counter opens it, open until the counter closes it,
    // and what was known last holds while the database cannot be reached,
    // across a restart too: the booth reads its journal's copy, which its
    // replicator keeps.
    void boothSessionFollowsTheCounter() {
        QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("cabina2.sqlite"));
        auto journal = std::make_unique<TJournalDb>(file);
        auto watch = std::make_unique<TBoothSessionWatch>(*journal);
        const auto replicate = [&] {
            auto replicator =
                std::make_unique<TShopReplicator>(TShopReplicatorConfig{file, Shop_->BoothUrl(kBooth2), kBooth2});
            connect(replicator.get(), &TShopReplicator::RemoteChangesApplied, watch.get(), &TBoothSessionWatch::Read);
            return replicator;
        };
        auto replicator = replicate();
        watch->Read();
        QCOMPARE(DialRefusal(true, watch->Session()), QString::fromUtf8(kBoothClosedText));
        TCounterDb counter(Shop_->CounterUrl(), QStringLiteral("Marta"));
        const TBoothSession opened = counter.OpenSession(kBooth2, MoneyFromUnits(500));
        QTRY_VERIFY_WITH_TIMEOUT(watch->Session().IsOpen(), kWaitMs);
        QCOMPARE(watch->Session().Id, opened.Id);
        QCOMPARE(watch->Session().Limit, std::optional<TMoney>(MoneyFromUnits(500)));
        QCOMPARE(DialRefusal(true, watch->Session()), QString());
        QVERIFY_THROWS_EXCEPTION(std::logic_error, counter.OpenSession(kBooth2, std::nullopt));
        // Another booth's session is not this booth's: the replicator takes
        // only its own, so the one after it is the first this booth sees.
        counter.OpenSession(kBooth1, std::nullopt);
        counter.CloseSession(kBooth1);
        // Out of reach (no replicator at all) and restarted: the booth
        // stays open with its limit.
        replicator.reset();
        watch.reset();
        journal.reset();
        journal = std::make_unique<TJournalDb>(file);
        watch = std::make_unique<TBoothSessionWatch>(*journal);
        watch->Read();
        QCOMPARE(watch->Session().Id, opened.Id);
        QCOMPARE(watch->Session().Limit, std::optional<TMoney>(MoneyFromUnits(500)));
        replicator = replicate();
        counter.CloseSession(kBooth2);
        QTRY_VERIFY_WITH_TIMEOUT(!watch->Session().IsOpen(), kWaitMs);
        QCOMPARE(DialRefusal(true, watch->Session()), QString::fromUtf8(kBoothClosedText));
        QVERIFY_THROWS_EXCEPTION(std::logic_error, counter.CloseSession(kBooth2));
        replicator.reset();
    }

    // Checkout charges every unpaid call of the booth once: a call the
    // booth charged itself stays the booth's, a second checkout finds
    // nothing, and the session is closed.
    void checkoutChargesEachUnpaidCallOnce() {
        TCounterWindow window(Shop_->CounterUrl(), QStringLiteral("Marta"));
        window.Start();
        window.OpenBooth(kBooth2, std::nullopt);
        for (int id = 1; id <= 3; ++id) QCOMPARE(Shop_->AsBooth(kBooth2, EndedCall(kBooth2, id, 15 * id)), QString());
        QCOMPARE(Shop_->AsBooth(kBooth2, QStringLiteral("SELECT shop.pay_at_booth(2, now(), 300000)")), QString());
        QTRY_COMPARE_WITH_TIMEOUT(window.Board().Text(RowOf(window.Board(), kBooth2), TBoardModel::Unpaid),
                                  QStringLiteral("2 (%1)").arg(FormatCurrency(MoneyFromUnits(60), QLocale())), kWaitMs);
        QCOMPARE(window.CheckoutBooth(kBooth2), 2);
        QCOMPARE(Shop_->Count(QStringLiteral("SELECT COUNT(*) FROM shop.payments WHERE booth = 'Cabina 2'")), 3);
        QCOMPARE(Shop_->Count(QStringLiteral("SELECT COUNT(*) FROM shop.payments WHERE place = 'mostrador'"
                                             " AND operator = 'Marta' AND call_local_id IN (1, 3)")),
                 2);
        QCOMPARE(Shop_->Count(QStringLiteral("SELECT COUNT(*) FROM shop.sessions WHERE closed_at IS NULL")), 0);
        QCOMPARE(window.CheckoutBooth(kBooth2), 0);
        QCOMPARE(Shop_->Count(QStringLiteral("SELECT COUNT(*) FROM shop.payments")), 3);
        QCOMPARE(window.Board().Text(RowOf(window.Board(), kBooth2), TBoardModel::Unpaid), QString());
    }

    // The bill was read, then the booth charged one of its calls: the
    // counter's charge takes nothing rather than charge that call twice.
    void chargeIsAllOrNone() {
        TCounterDb counter(Shop_->CounterUrl(), QStringLiteral("Marta"));
        for (int id = 1; id <= 2; ++id) QCOMPARE(Shop_->AsBooth(kBooth1, EndedCall(kBooth1, id, 10)), QString());
        const std::vector<TShopCall> bill = counter.UnpaidCalls(kBooth1);
        QCOMPARE(bill.size(), std::size_t{2});
        QCOMPARE(Shop_->AsBooth(kBooth1, QStringLiteral("SELECT shop.pay_at_booth(2, now(), 100000)")), QString());
        QVERIFY_THROWS_EXCEPTION(std::logic_error, counter.Charge(kBooth1, {bill[0].Call.Id, bill[1].Call.Id}));
        QCOMPARE(Shop_->Count(QStringLiteral("SELECT COUNT(*) FROM shop.payments WHERE place = 'mostrador'")), 0);
        QCOMPARE(counter.UnpaidCalls(kBooth1).size(), std::size_t{1});
    }

    // The shop's close: totals per booth from the database's sums, per
    // operator (a payment at the booth counts under the booth's name), the
    // voids, and the cash expected from the shift's opening cash.
    void shopCloseSumsEveryBoothAndOperator() {
        TCounterDb counter(Shop_->CounterUrl(), QStringLiteral("Marta"));
        QCOMPARE(ExecError(Shop_->Admin(), QStringLiteral("INSERT INTO shop.operators (name) VALUES ('Marta')"
                                                           " ON CONFLICT DO NOTHING")),
                 QString());
        QCOMPARE(ExecError(Shop_->Admin(), QStringLiteral("DELETE FROM shop.shifts")), QString());
        QCOMPARE(ExecError(Shop_->Admin(), QStringLiteral("INSERT INTO shop.shifts (operator, opening_cash)"
                                                           " VALUES ('Marta', 1000000)")),
                 QString());
        QCOMPARE(Shop_->AsBooth(kBooth1, EndedCall(kBooth1, 1, 20)), QString());
        QCOMPARE(Shop_->AsBooth(kBooth1, EndedCall(kBooth1, 2, 30)), QString());
        QCOMPARE(Shop_->AsBooth(kBooth2, EndedCall(kBooth2, 1, 40)), QString());
        QCOMPARE(Shop_->AsBooth(kBooth2, EndedCall(kBooth2, 2, 5, QStringLiteral("now() - interval '3 days'"))),
                 QString());
        counter.Charge(kBooth1, {1, 2});
        QVERIFY(counter.VoidPayment(kBooth1, 2));
        QVERIFY(!counter.VoidPayment(kBooth1, 2));
        QCOMPARE(Shop_->AsBooth(kBooth2, QStringLiteral("SELECT shop.pay_at_booth(1, now(), 500000)")), QString());
        const QDateTime from = QDate::currentDate().startOfDay();
        const TShopClose close = counter.Close(from, from.addDays(1));
        QCOMPARE(close.PerBooth.size(), std::size_t{2});
        QCOMPARE(close.PerBooth[0].Booth, kBooth1);
        QCOMPARE(close.PerBooth[0].Totals.Calls, 2);
        QCOMPARE(close.PerBooth[0].Totals.Takings, MoneyFromUnits(20));
        QCOMPARE(close.PerBooth[0].Totals.Unpaid, 1);
        QCOMPARE(close.PerBooth[0].Totals.UnpaidAmount, MoneyFromUnits(30));
        QCOMPARE(close.PerBooth[0].Totals.VoidedPayments, 1);
        QCOMPARE(close.PerBooth[1].Totals.Calls, 1);  // the call of three days ago is not today's
        QCOMPARE(close.All.Sales, MoneyFromUnits(90));
        QCOMPARE(close.All.ProviderCost, MoneyFromUnits(45));
        QCOMPARE(close.PerOperator.size(), std::size_t{2});
        QCOMPARE(close.PerOperator[0].Operator, kBooth2);
        QCOMPARE(close.PerOperator[0].Takings, MoneyFromUnits(40));
        QCOMPARE(close.PerOperator[1].Operator, QStringLiteral("Marta"));
        QCOMPARE(close.PerOperator[1].Payments, 1);
        QCOMPARE(close.OpeningCash, MoneyFromUnits(100));
        QCOMPARE(close.Expected, MoneyFromUnits(160));
        const std::vector<TShopCall> calls = counter.Calls(from, from.addDays(1));
        QCOMPARE(calls.size(), std::size_t{3});
        const QString csv = ShopCloseCsv(calls);
        QVERIFY(csv.contains(QStringLiteral("Cabina 1;")));
        QVERIFY(csv.contains(QStringLiteral(";sí;;Marta\r\n")));
        QVERIFY(csv.contains(QStringLiteral(";sí;;Cabina 2\r\n")));
        QVERIFY(csv.contains(QStringLiteral("1 cobro anulado")));
    }

private:
    std::unique_ptr<TShopFixture> Shop_;
};

BOOTH_TEST_CLASS(CounterConsole);

#include "counter_console_test.moc"
