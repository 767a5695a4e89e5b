// The journal's writer thread on real SQLite files: the call path's writes
// committed in the order handed over (with the shop's notes written beside
// them), a close that commits what is still queued, and a payment that
// outlives a crash of the booth right after it was taken.
#include <algorithm>
#include <csignal>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include "app/shop/shop_outbox.h"
#include "app/till/call_journal.h"
#include "app/till/journal_db.h"
#include "app/till/journal_writer.h"
#include "tests/app/test_registry.h"

namespace {

const QDateTime kMorning(QDate(2026, 12, 8), QTime(9, 0), Qt::LocalTime);

TCallFigures FiguresAt(int seconds) {
    return {seconds, seconds / 60 + 1, MoneyFromUnits(150 * (seconds / 60 + 1)),
            MoneyFromUnits(180 * (seconds / 60 + 1))};
}

// Places and talks a call of `seconds`, one progress write a second, and
// ends it; returns its id. Nothing waits for the disk on the way.
std::int64_t WholeCall(TCallJournal& journal, int seconds) {
    const std::int64_t id = journal.Placed(kMorning, QStringLiteral("5491155550000"), QStringLiteral("005491155550000"));
    journal.Rated(id, QStringLiteral("Argentina - Movil"), MoneyFromUnits(150));
    journal.Answered(id, kMorning.addSecs(4));
    for (int second = 1; second <= seconds; ++second)
        journal.Progress(id, kMorning.addSecs(4 + second), FiguresAt(second));
    journal.Ended(id, kMorning.addSecs(5 + seconds), FiguresAt(seconds), 200, QStringLiteral("BYE"));
    return id;
}

}  // namespace

class JournalWriter : public QObject {
    Q_OBJECT

private slots:
    void init() { QVERIFY(Folder_.isValid()); }

    // Every step lands in the order given, each noted once for the shop in
    // that order, and a step the call no longer allows is reported by the
    // next one handed over.
    void writesKeepTheirOrder() {
        TJournalDb db(Folder_.filePath("order.sqlite"));
        AttachShopOutbox(db);
        db.StartWriterThread();
        TCallJournal journal(db);
        const std::int64_t first = WholeCall(journal, 300);
        const std::int64_t second = WholeCall(journal, 61);
        QCOMPARE(second, first + 1);
        // Read at once: the reader waits for its own writes.
        const TJournalCall call = *journal.Call(first);
        QCOMPARE(call.State, TJournalState::Ended);
        QCOMPARE(call.Figures, FiguresAt(300));
        QCOMPARE(journal.Call(second)->Figures, FiguresAt(61));
        QVERIFY(db.Writer()->Batches() <= db.Writer()->Committed());

        // placed, rated, answered, the seconds and the end: one note each,
        // the first call's all before the second's.
        QSqlQuery notes = RunSql(db.Db(), QStringLiteral("SELECT row_id FROM shop_outbox ORDER BY seq"));
        std::vector<std::int64_t> rows;
        while (notes.next()) rows.push_back(notes.value(0).toLongLong());
        QCOMPARE(rows.size(), std::size_t(304 + 65));
        QVERIFY(std::is_sorted(rows.begin(), rows.end()));

        journal.Progress(first, kMorning.addSecs(400), FiguresAt(301));
        db.Writer()->Drain();
        QVERIFY_THROWS_EXCEPTION(std::logic_error, journal.SetCutReason(first, QStringLiteral("saldo agotado")));
        QCOMPARE(journal.Call(first)->Figures, FiguresAt(300));
        QCOMPARE(journal.Call(first)->CutReason, QStringLiteral("saldo agotado"));
    }

    // Closing the journal commits everything still queued: nothing is found
    // open (and closed as interrupted) when it is opened again.
    void closeDrainsTheQueue() {
        const QString file = Folder_.filePath("close.sqlite");
        std::int64_t id = 0;
        {
            TJournalDb db(file);
            db.StartWriterThread();
            TCallJournal journal(db);
            id = WholeCall(journal, 600);
        }
        TJournalDb again(file);
        QCOMPARE(again.RecoveredCalls(), 0);
        const TJournalCall call = *TCallJournal(again).Call(id);
        QCOMPARE(call.State, TJournalState::Ended);
        QCOMPARE(call.Figures, FiguresAt(600));
    }

    // The booth dies (SIGKILL, no destructor runs) just after "Cobrar"
    // returned: the payment, and the call it pays, are on disk.
    void paymentOutlivesACrash() {
        const QString file = Folder_.filePath("crash.sqlite");
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            TJournalDb db(file);
            db.StartWriterThread();
            TCallJournal journal(db);
            const std::int64_t id = WholeCall(journal, 120);
            journal.Paid(id, kMorning.addSecs(200), MoneyFromUnits(1000));
            // Still queued at the crash: may be lost, never half written.
            for (int i = 0; i < 50; ++i) journal.SetCutReason(id, QString::number(i));
            raise(SIGKILL);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        TJournalDb again(file);
        const std::vector<TJournalCall> calls = TCallJournal(again).Latest(5);
        QCOMPARE(calls.size(), std::size_t(1));
        QCOMPARE(calls.front().State, TJournalState::Ended);
        QCOMPARE(calls.front().Figures, FiguresAt(120));
        QVERIFY(calls.front().IsPaid());
        QCOMPARE(calls.front().AmountReceived, MoneyFromUnits(1000));
    }

private:
    QTemporaryDir Folder_;
};

BOOTH_TEST_CLASS(JournalWriter);

#include "journal_writer_test.moc"
