// The call flow's side of the journal: the customer's price second by
// second, a call the portal never priced, and a journal that fails in the
// middle of a call.
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include "app/till/call_recorder.h"
#include "app/till/journal_db.h"
#include "tests/app/test_registry.h"

namespace {

const QDateTime kMorning(QDate(2026, 12, 8), QTime(9, 0), Qt::LocalTime);

}  // namespace

class CallRecorder : public QObject {
    Q_OBJECT

private slots:
    void init() { QVERIFY(Folder_.isValid()); }

    // The portal answers after the end and never for the second call: both
    // are recorded, the second at a price of zero rather than lost.
    void callsWithAndWithoutThePortal() {
        TJournalDb db(Folder_.filePath("recorder.sqlite"));
        TCallJournal journal(db);
        QDateTime clock = kMorning;
        QStringList errors;
        TCallRecorder recorder(
            &journal, [&clock] { return clock; }, [&errors](const QString& e) { errors << e; });
        TSellingRates rates;
        rates.Rules = {{"5411", TPrefixRule::TKind::Price, MoneyFromUnits(200), kUnitFactor}};
        rates.IncrementSeconds = 30;
        recorder.SetSellingRates(rates);

        recorder.Placed("541155551234", "00541155551234");
        const std::int64_t first = *recorder.LastCallId();
        clock = clock.addSecs(3);
        recorder.Answered();
        for (int second = 1; second <= 31; ++second) {
            clock = clock.addSecs(1);
            recorder.Tick(second, MoneyFromUnits(150), MoneyFromUnits(150 * (second / 60 + 1)));
        }
        // Two 30 s increments of the prefix's own price of 200 a minute.
        QCOMPARE(recorder.Figures().CustomerPrice, MoneyFromUnits(200));
        recorder.Ended(200, "BYE");
        QVERIFY(!recorder.IsOpen());
        recorder.Rated("Argentina Buenos Aires", MoneyFromUnits(150));  // late reply
        // Ticks after the end change nothing.
        recorder.Tick(99, MoneyFromUnits(150), MoneyFromUnits(300));
        QCOMPARE(recorder.Figures().Seconds, 31);

        recorder.Placed("1305", "001305");
        const std::int64_t second = *recorder.LastCallId();
        QCOMPARE(recorder.Figures(), TCallFigures{});
        recorder.Answered();
        for (int s = 1; s <= 10; ++s) recorder.Tick(s, TMoney{}, TMoney{});
        recorder.Ended(0, "Colgada");

        const TJournalCall a = *journal.Call(first);
        QCOMPARE(a.Destination, QStringLiteral("Argentina Buenos Aires"));
        QCOMPARE(a.Figures, (TCallFigures{31, 1, MoneyFromUnits(150), MoneyFromUnits(200)}));
        QCOMPARE(a.Ended, kMorning.addSecs(34));
        const TJournalCall b = *journal.Call(second);
        QCOMPARE(b.State, TJournalState::Ended);
        QCOMPARE(b.Figures.Seconds, 10);
        QCOMPARE(b.Figures.CustomerPrice, TMoney{});
        QCOMPARE(errors, QStringList{});
    }

    // A journal that stops taking writes mid-call: reported once, and the
    // price keeps running for the window.
    void failingJournalNeverStopsTheCall() {
        TJournalDb db(Folder_.filePath("failing.sqlite"));
        TCallJournal journal(db);
        QStringList errors;
        TCallRecorder recorder(
            &journal, [] { return kMorning; }, [&errors](const QString& e) { errors << e; });
        recorder.Placed("1", "001");
        recorder.Answered();
        recorder.Tick(1, MoneyFromUnits(10), MoneyFromUnits(10));
        RunSql(db.Db(), QStringLiteral("PRAGMA query_only = ON"));
        for (int s = 2; s <= 70; ++s) recorder.Tick(s, MoneyFromUnits(10), MoneyFromUnits(10 * (s / 60 + 1)));
        recorder.Ended(200, "BYE");
        QCOMPARE(errors.size(), 1);
        QCOMPARE(recorder.Figures().CustomerPrice, MoneyFromUnits(20));
        RunSql(db.Db(), QStringLiteral("PRAGMA query_only = OFF"));
        // The record holds the last second written before the failure.
        QCOMPARE(journal.Call(*recorder.LastCallId())->Figures.Seconds, 1);

        // Without any journal the booth still prices its calls.
        TCallRecorder bare(
            nullptr, [] { return kMorning; }, nullptr);
        bare.Placed("1", "001");
        bare.Answered();
        QCOMPARE(bare.Tick(1, MoneyFromUnits(10), MoneyFromUnits(10)).CustomerPrice, MoneyFromUnits(10));
        QVERIFY(!bare.LastCallId());
    }

private:
    QTemporaryDir Folder_;
};
BOOTH_TEST_CLASS(CallRecorder);

#include "call_recorder_test.moc"
