// The call journal on real SQLite files in a temporary folder: a whole call
// written on a driven clock, a file left by a power cut, migrations, a
// reader beside the writer, checkout, shifts and the selling rates.
#include <atomic>
#include <exception>
#include <thread>

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include "app/booth/call_rules.h"
#include "app/till/call_journal.h"
#include "app/till/cash_close.h"
#include "app/till/journal_db.h"
#include "app/till/selling_price.h"
#include "app/till/selling_rate_store.h"
#include "app/till/shift_journal.h"
#include "tests/app/test_registry.h"

namespace {

const QDateTime kMorning(QDate(2026, 12, 8), QTime(9, 0), Qt::LocalTime);

// The figures the window shows after `seconds` of a call at 150 per minute
// with the given selling rates.
TCallFigures FiguresAt(int seconds, const TSellingRates& rates) {
    const TMoney rate = MoneyFromUnits(150);
    return {seconds, seconds > 0 ? ChargedMinutes(seconds) : 0,
            seconds > 0 ? RunningCost(QStringLiteral("150,00"), seconds) : TMoney{},
            CustomerPrice(rates, QStringLiteral("5491155550000"), rate, seconds)};
}

// Places, answers and times a call second by second on the driven clock;
// returns its id. The clock ends at the last tick.
std::int64_t TalkedCall(TCallJournal& journal, QDateTime& clock, int seconds, const TSellingRates& rates) {
    const std::int64_t id = journal.Placed(clock, QStringLiteral("5491155550000"), QStringLiteral("005491155550000"));
    journal.Rated(id, QStringLiteral("Argentina - Buenos Aires"), MoneyFromUnits(150));
    clock = clock.addSecs(4);
    journal.Answered(id, clock);
    for (int tick = 1; tick <= seconds; ++tick) {
        clock = clock.addSecs(1);
        journal.Progress(id, clock, FiguresAt(tick, rates));
    }
    return id;
}

int CountRows(QSqlDatabase& db, const QString& table) {
    QSqlQuery query = RunSql(db, "SELECT COUNT(*) FROM " + table);
    return query.next() ? query.value(0).toInt() : -1;
}

}  // namespace

class CallJournal : public QObject {
    Q_OBJECT

private slots:
    void init() { QVERIFY(Folder_.isValid()); }

    void wholeCallOnADrivenClock() {
        const QString file = Folder_.filePath("whole.sqlite");
        TSellingRates rates;
        rates.Factor = 12000;
        rates.IncrementSeconds = 30;
        QDateTime clock = kMorning;
        std::int64_t id = 0;
        {
            TJournalDb db(file);
            TCallJournal journal(db);
            id = TalkedCall(journal, clock, 30, rates);
            {
                // A reader beside the writer sees the second just written
                // and leaves the running call open.
                TJournalDb reader(file, TJournalAccess::Reader);
                const TJournalCall running = *TCallJournal(reader).Call(id);
                QCOMPARE(running.State, TJournalState::Open);
                QCOMPARE(running.Figures, FiguresAt(30, rates));
            }
            for (int tick = 31; tick <= 61; ++tick) {
                clock = clock.addSecs(1);
                journal.Progress(id, clock, FiguresAt(tick, rates));
            }
            clock = clock.addMSecs(400);
            journal.Ended(id, clock, FiguresAt(61, rates), 200, QStringLiteral("BYE"), TCallQuality{4.2, 12.5, 0.3});
            // The far end's flag may be raised after the call has ended.
            journal.SetAnswerFlags(id, QStringLiteral("sin audio del destino"));
            // Writes the call's state does not allow.
            QVERIFY_THROWS_EXCEPTION(std::logic_error, journal.Progress(id, clock, FiguresAt(62, rates)));
            QVERIFY_THROWS_EXCEPTION(std::logic_error, journal.Answered(id + 1, clock));
        }
        TJournalDb again(file);
        QCOMPARE(again.RecoveredCalls(), 0);
        const TJournalCall call = *TCallJournal(again).Call(id);
        QCOMPARE(call.Started, kMorning);
        QCOMPARE(call.Number, QStringLiteral("5491155550000"));
        QCOMPARE(call.DialString, QStringLiteral("005491155550000"));
        QCOMPARE(call.Destination, QStringLiteral("Argentina - Buenos Aires"));
        QCOMPARE(call.Rate, MoneyFromUnits(150));
        QCOMPARE(call.Answered, kMorning.addSecs(4));
        QCOMPARE(call.Ended, kMorning.addSecs(65).addMSecs(400));
        QCOMPARE(call.State, TJournalState::Ended);
        QCOMPARE(call.SipStatus, 200);
        QCOMPARE(call.EndReason, QStringLiteral("BYE"));
        // 61 s: two provider minutes (300) and three 30 s increments at
        // 1.2 x 75 (270).
        QCOMPARE(call.Figures, (TCallFigures{61, 2, MoneyFromUnits(300), MoneyFromUnits(270)}));
        QVERIFY(call.Quality.has_value());
        QCOMPARE(*call.Quality, (TCallQuality{4.2, 12.5, 0.3}));
        QCOMPARE(call.AnswerFlags, QStringLiteral("sin audio del destino"));
        QVERIFY(call.IsUnpaid());
    }

    // What is on disk after a power cut mid-call: the main file and its
    // write-ahead log as they are while the writer still holds them.
    void callLeftOpenIsClosedAsInterrupted() {
        const QString file = Folder_.filePath("live.sqlite");
        const QString copy = Folder_.filePath("after-cut.sqlite");
        QDateTime clock = kMorning;
        std::int64_t ended = 0;
        std::int64_t open = 0;
        {
            TJournalDb db(file);
            TCallJournal journal(db);
            ended = TalkedCall(journal, clock, 10, TSellingRates{});
            journal.Ended(ended, clock, FiguresAt(10, {}), 200, QStringLiteral("BYE"));
            open = TalkedCall(journal, clock, 42, TSellingRates{});
            QVERIFY(QFile::exists(file + "-wal"));
            QVERIFY(QFile::copy(file, copy));
            QVERIFY(QFile::copy(file + "-wal", copy + "-wal"));
        }
        // The crashed program's lock file is still there, naming a process
        // that no longer runs.
        QFile staleLock(copy + ".writer");
        QVERIFY(staleLock.open(QIODevice::WriteOnly));
        staleLock.write("999999\napp_tests\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        staleLock.close();
        {
            TJournalDb db(copy);
            QCOMPARE(db.RecoveredCalls(), 1);
            TCallJournal journal(db);
            const TJournalCall cut = *journal.Call(open);
            QCOMPARE(cut.State, TJournalState::Interrupted);
            QCOMPARE(cut.EndReason, QStringLiteral("interrumpida"));
            QCOMPARE(cut.Ended, clock);
            QCOMPARE(cut.Figures, FiguresAt(42, {}));
            QVERIFY(cut.IsUnpaid());  // the customer still owes what was shown
            QCOMPARE(journal.Call(ended)->State, TJournalState::Ended);
            QCOMPARE(journal.Call(ended)->Ended, kMorning.addSecs(14));
            // The recovered call can be charged, but not written to as open.
            QVERIFY_THROWS_EXCEPTION(std::logic_error, journal.Progress(open, clock, FiguresAt(43, {})));
            journal.Paid(open, clock, MoneyFromUnits(200));
        }
        TJournalDb again(copy);
        QCOMPARE(again.RecoveredCalls(), 0);
        QVERIFY(TCallJournal(again).Call(open)->IsPaid());
    }

    // A second writer (a second booth program on the same file) is refused
    // while the first runs; readers are not.
    void oneWriterAtATime() {
        const QString file = Folder_.filePath("one-writer.sqlite");
        {
            TJournalDb writer(file);
            try {
                TJournalDb second(file);
                QFAIL("a second writer opened the journal");
            } catch (const std::runtime_error& error) {
                QCOMPARE(
                    QString::fromUtf8(error.what()),
                    QStringLiteral("No se puede abrir el registro de llamadas: otro programa lo está escribiendo"));
            }
            TJournalDb reader(file, TJournalAccess::Reader);
            QCOMPARE(reader.SchemaVersion(), TJournalDb::CurrentSchemaVersion());
        }
        TJournalDb again(file);
    }

    void migrationFromAnEmptyFile() {
        const QString file = Folder_.filePath("empty.sqlite");
        QFile empty(file);
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        TJournalDb db(file);
        QCOMPARE(db.SchemaVersion(), TJournalDb::CurrentSchemaVersion());
        for (const char* table : {"calls", "selling_rules", "selling_settings", "shifts"})
            QCOMPARE(CountRows(db.Db(), QString::fromLatin1(table)), 0);
        QCOMPARE(LoadSellingRates(db), TSellingRates{});
    }

    // A file written by the first version of the journal keeps its calls and
    // gains what came later.
    void migrationKeepsTheCallsOfAnOlderFile() {
        const QString file = Folder_.filePath("v1.sqlite");
        {
            QSqlDatabase old = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("old"));
            old.setDatabaseName(file);
            QVERIFY(old.open());
            RunSql(old, QStringLiteral("CREATE TABLE calls (id INTEGER PRIMARY KEY, started_at INTEGER NOT NULL,"
                                       " number TEXT NOT NULL, dial_string TEXT NOT NULL, destination TEXT NOT NULL"
                                       " DEFAULT '', rate INTEGER NOT NULL DEFAULT 0, answered_at INTEGER,"
                                       " updated_at INTEGER NOT NULL, ended_at INTEGER, seconds INTEGER NOT NULL"
                                       " DEFAULT 0, charged_minutes INTEGER NOT NULL DEFAULT 0, provider_cost"
                                       " INTEGER NOT NULL DEFAULT 0, customer_price INTEGER NOT NULL DEFAULT 0,"
                                       " state TEXT NOT NULL DEFAULT 'abierta', sip_status INTEGER,"
                                       " end_reason TEXT NOT NULL DEFAULT '')"));
            RunSql(old,
                   QStringLiteral("INSERT INTO calls (started_at, updated_at, ended_at, number, dial_string,"
                                  " seconds, customer_price, state) VALUES (?, ?, ?, '123', '123', 5, 7000,"
                                  " 'terminada')"),
                   {JournalTime(kMorning), JournalTime(kMorning), JournalTime(kMorning)});
            RunSql(old, QStringLiteral("PRAGMA user_version = 1"));
            old.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("old"));
        TJournalDb db(file);
        QCOMPARE(db.SchemaVersion(), TJournalDb::CurrentSchemaVersion());
        TCallJournal journal(db);
        const TJournalCall call = *journal.Call(1);
        QCOMPARE(call.Figures.CustomerPrice, MoneyFromHundredths(70));
        QVERIFY(!call.Quality.has_value());
        journal.Paid(1, kMorning, MoneyFromUnits(1));
        QVERIFY(journal.Call(1)->IsPaid());
    }

    void filesThatCannotBeOpened() {
        const QString newer = Folder_.filePath("newer.sqlite");
        {
            TJournalDb db(newer);
            RunSql(db.Db(), QStringLiteral("PRAGMA user_version = 99"));
        }
        const QString garbage = Folder_.filePath("garbage.sqlite");
        QFile text(garbage);
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write(QByteArray(4096, 'x'));
        text.close();
        for (const QString& file : {newer, garbage, Folder_.filePath("no/such/folder/j.sqlite")}) {
            try {
                TJournalDb db(file);
                QFAIL(qPrintable("opened " + file));
            } catch (const std::runtime_error& error) {
                QVERIFY2(QString::fromUtf8(error.what()).startsWith("No se puede abrir el registro de llamadas: "),
                         error.what());
            }
        }
    }

    // The close window reads on its own connection while the call flow
    // writes a call second by second: no read fails or waits for the
    // writer, and no read sees the figures go back.
    void closeReadsWhileACallIsWritten() {
        const QString file = Folder_.filePath("busy.sqlite");
        { TJournalDb create(file); }
        std::atomic<bool> done{false};
        std::exception_ptr writerError;
        std::thread writer([&] {
            try {
                TJournalDb db(file);
                TCallJournal journal(db);
                QDateTime clock = kMorning;
                const std::int64_t id = TalkedCall(journal, clock, 600, TSellingRates{});
                journal.Ended(id, clock, FiguresAt(600, {}), 200, QStringLiteral("BYE"));
            } catch (...) {
                writerError = std::current_exception();
            }
            done = true;
        });
        TJournalDb db(file, TJournalAccess::Reader);
        TCallJournal journal(db);
        int reads = 0;
        int lastSeconds = 0;
        const QDateTime dayEnd = kMorning.addDays(1);
        try {
            while (!done) {
                const std::vector<TJournalCall> calls = journal.Calls(kMorning, dayEnd);
                ++reads;
                if (calls.empty()) continue;
                QCOMPARE(calls.size(), std::size_t(1));
                QVERIFY(calls[0].Figures.Seconds >= lastSeconds);
                lastSeconds = calls[0].Figures.Seconds;
                QCOMPARE(CloseTotals(calls).ProviderCost, calls[0].Figures.ProviderCost);
            }
        } catch (...) {
            writer.join();
            throw;
        }
        writer.join();
        if (writerError) std::rethrow_exception(writerError);
        QVERIFY(reads > 1);
        const std::vector<TJournalCall> calls = journal.Calls(kMorning, dayEnd);
        QCOMPARE(calls.size(), std::size_t(1));
        QCOMPARE(calls[0].State, TJournalState::Ended);
        QCOMPARE(calls[0].Figures.Seconds, 600);
    }

    // Pages of a long list, with calls started in the same millisecond
    // across a page boundary, give every call once and in order.
    void pagesOfALongList() {
        TJournalDb db(Folder_.filePath("pages.sqlite"));
        TCallJournal journal(db);
        for (int i = 0; i < 23; ++i) journal.Placed(kMorning.addSecs(i / 4), "1", "001");
        journal.Placed(kMorning.addDays(1), "2", "002");  // outside the day
        const QDateTime dayEnd = kMorning.addDays(1);
        std::vector<std::int64_t> paged;
        std::vector<TJournalCall> page = journal.FirstCalls(kMorning, dayEnd, 5);
        while (!page.empty()) {
            for (const TJournalCall& call : page) paged.push_back(call.Id);
            page = journal.CallsAfter(kMorning, dayEnd, page.back(), 5);
        }
        std::vector<std::int64_t> whole;
        for (const TJournalCall& call : journal.Calls(kMorning, dayEnd)) whole.push_back(call.Id);
        QCOMPARE(whole.size(), std::size_t(23));
        QCOMPARE(paged, whole);
    }

    void checkoutOnlyOnceAndOnlyAfterTheEnd() {
        TJournalDb db(Folder_.filePath("pay.sqlite"));
        TCallJournal journal(db);
        QDateTime clock = kMorning;
        const std::int64_t id = TalkedCall(journal, clock, 5, TSellingRates{});
        QVERIFY_THROWS_EXCEPTION(std::logic_error, journal.Paid(id, clock, MoneyFromUnits(200)));
        journal.Ended(id, clock, FiguresAt(5, {}), 0, QStringLiteral("Colgada"));
        journal.Paid(id, clock.addSecs(20), MoneyFromUnits(200));
        try {
            journal.Paid(id, clock.addSecs(21), MoneyFromUnits(500));
            QFAIL("charged twice");
        } catch (const std::logic_error& error) {
            QCOMPARE(QString::fromUtf8(error.what()), QStringLiteral("La llamada ya fue cobrada."));
        }
        const TJournalCall call = *journal.Call(id);
        QCOMPARE(call.PaidAt, clock.addSecs(20));
        QCOMPARE(call.AmountReceived, MoneyFromUnits(200));
        QCOMPARE(call.SipStatus, 0);
        QVERIFY(!call.Quality.has_value());
    }

    // Calls charged before the shift opened are not in its drawer; the one
    // charged in the very millisecond of the close is.
    void shiftExpectsTheCashChargedDuringIt() {
        TJournalDb db(Folder_.filePath("shift.sqlite"));
        TCallJournal journal(db);
        TShiftJournal shifts(db);
        QDateTime clock = kMorning;
        auto chargedCall = [&](int seconds, const QDateTime& paidAt) {
            const std::int64_t id = TalkedCall(journal, clock, seconds, TSellingRates{});
            journal.Ended(id, clock, FiguresAt(seconds, {}), 200, QStringLiteral("BYE"));
            journal.Paid(id, paidAt, MoneyFromUnits(1000));
        };
        chargedCall(10, kMorning.addSecs(20));  // 150, before the shift
        const QDateTime opened = kMorning.addSecs(30);
        QCOMPARE(shifts.Open(opened, MoneyFromUnits(500)).OpeningCash, MoneyFromUnits(500));
        QVERIFY_THROWS_EXCEPTION(std::logic_error, shifts.Open(opened, TMoney{}));
        clock = opened;
        chargedCall(70, opened.addSecs(100));  // 300
        const QDateTime closing = opened.addSecs(300);
        chargedCall(5, closing);  // 150
        const TShift closed = shifts.Close(closing, MoneyFromUnits(940));
        QCOMPARE(closed.Expected, MoneyFromUnits(950));
        QCOMPARE(closed.Difference(), MoneyFromUnits(-10));
        QVERIFY(!shifts.Current());
        QVERIFY_THROWS_EXCEPTION(std::logic_error, shifts.Close(closing, TMoney{}));
        const std::vector<TShift> recent = shifts.Recent(5);
        QCOMPARE(recent.size(), std::size_t(1));
        QCOMPARE(recent[0].Closed, closing);
        QCOMPARE(recent[0].Counted, MoneyFromUnits(940));
    }

    void sellingRatesKeptInTheDatabase() {
        const QString file = Folder_.filePath("rates.sqlite");
        TSellingRates rates;
        rates.Factor = 15000;
        rates.Minimum = MoneyFromHundredths(50);
        rates.RoundingStep = MoneyFromHundredths(5);
        rates.IncrementSeconds = 6;
        rates.Rules = {{"54", TPrefixRule::TKind::Factor, TMoney{}, 13000},
                       {"5411", TPrefixRule::TKind::Price, MoneyFromHundredths(180), kUnitFactor}};
        {
            TJournalDb db(file);
            SaveSellingRates(db, rates);
            TSellingRates bad = rates;
            bad.IncrementSeconds = 45;
            QVERIFY_THROWS_EXCEPTION(std::invalid_argument, SaveSellingRates(db, bad));
        }
        TJournalDb db(file);
        QCOMPARE(LoadSellingRates(db), rates);
    }

    // A call the portal never priced is no free call: it stays unpaid
    // (interrupted by a crash or not) until priced, a late portal rate or a
    // rate typed at checkout prices it, and the close counts the booth's
    // cuts, the far end's flags and the voided payments, in the database's
    // sums and call by call alike.
    void unpricedCallsAndTheCloseAudit() {
        const QString file = Folder_.filePath("audit.sqlite");
        std::int64_t crashed = 0;
        {
            TJournalDb db(file);
            TCallJournal journal(db);
            crashed = journal.Placed(kMorning, QStringLiteral("5411"), QStringLiteral("005411"));
            journal.Answered(crashed, kMorning.addSecs(2));
            journal.Progress(crashed, kMorning.addSecs(40), {38, 1, TMoney{}, TMoney{}});
        }
        TJournalDb db(file);
        TCallJournal journal(db);
        QCOMPARE(db.RecoveredCalls(), 1);
        const auto talked = [&](int minutes, const QString& number) {
            const QDateTime at = kMorning.addSecs(60 * minutes);
            const std::int64_t id = journal.Placed(at, number, "00" + number);
            journal.Answered(id, at);
            journal.Ended(id, at.addSecs(70), {70, 2, TMoney{}, TMoney{}}, 200, QStringLiteral("BYE"));
            return id;
        };
        const std::int64_t late = talked(10, QStringLiteral("5412"));
        const std::int64_t typed = talked(20, QStringLiteral("5413"));
        const std::int64_t cut = talked(30, QStringLiteral("5414"));
        const std::int64_t busy = journal.Placed(kMorning.addSecs(2400), "5415", "005415");
        journal.Ended(busy, kMorning.addSecs(2410), {}, 486, QStringLiteral("Busy Here"));

        const auto unpaidIds = [&] {
            std::vector<std::int64_t> ids;
            for (const TJournalCall& call : journal.Unpaid(kMorning)) ids.push_back(call.Id);
            return ids;
        };
        QCOMPARE(unpaidIds(), (std::vector<std::int64_t>{crashed, late, typed, cut}));
        QVERIFY(journal.Call(crashed)->NeedsRate());
        QVERIFY(!journal.Call(busy)->IsUnpaid());

        journal.Rated(late, QStringLiteral("Argentina"), MoneyFromUnits(150));
        journal.Repriced(late, MoneyFromUnits(150), TRateOrigin::Portal,
                         {70, 2, MoneyFromUnits(300), MoneyFromUnits(360)});
        journal.Repriced(typed, MoneyFromUnits(100), TRateOrigin::Operator,
                         {70, 2, MoneyFromUnits(200), MoneyFromUnits(240)});
        journal.Repriced(cut, MoneyFromUnits(120), TRateOrigin::Fallback,
                         {70, 2, MoneyFromUnits(240), MoneyFromUnits(240)});
        journal.SetCutReason(cut, QStringLiteral("saldo agotado"));
        journal.SetAnswerFlags(typed, QStringLiteral("sin audio del destino"));
        journal.Paid(typed, kMorning.addSecs(3000), MoneyFromUnits(240));
        journal.VoidPayment(typed, kMorning.addSecs(3100));
        journal.Paid(late, kMorning.addSecs(3200), MoneyFromUnits(400));
        QVERIFY_THROWS_EXCEPTION(std::logic_error, journal.Repriced(late, MoneyFromUnits(1), TRateOrigin::Portal, {}));
        QCOMPARE(unpaidIds(), (std::vector<std::int64_t>{crashed, typed, cut}));

        const TJournalCall cutCall = *journal.Call(cut);
        QCOMPARE(cutCall.RateOrigin, TRateOrigin::Fallback);
        QCOMPARE(StateText(cutCall), QStringLiteral("cortada: saldo agotado"));
        QCOMPARE(AuditText(*journal.Call(typed)),
                 QStringLiteral("1 cobro anulado; sin audio del destino; tarifa ingresada a mano"));
        QCOMPARE(AuditText(*journal.Call(crashed)), QStringLiteral("sin tarifa"));

        const QDateTime end = kMorning.addDays(1);
        const TCloseTotals totals = JournalTotals(db, kMorning, end);
        QCOMPARE(totals.Unpaid, 3);
        QCOMPARE(totals.UnpaidAmount, MoneyFromUnits(480));
        QCOMPARE(totals.VoidedPayments, 1);
        QCOMPARE(totals.Flagged, 1);
        QCOMPARE(totals.Cut, 1);
        QCOMPARE(CloseTotals(journal.Calls(kMorning, end)), totals);
        QVERIFY(CloseCsv(journal.Calls(kMorning, end)).contains(QStringLiteral("cortada: saldo agotado")));
    }

private:
    QTemporaryDir Folder_;
};
BOOTH_TEST_CLASS(CallJournal);

#include "call_journal_test.moc"
