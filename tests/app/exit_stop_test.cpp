// A booth that ends by exit() (what Qt's X11 platform does when the display
// goes away) with its replicator trying the shop and call seconds still
// queued for the journal: the threads are stopped before Qt's statics go,
// so the program exits with its own status rather than a fault in a
// thread, and the queued seconds are on disk.
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <mutex>

#include <QTemporaryDir>
#include <QTest>

#include "app/shop/shop_outbox.h"
#include "app/shop/shop_replicator.h"
#include "app/till/call_journal.h"
#include "app/till/journal_db.h"
#include "tests/app/test_registry.h"

namespace {

const QDateTime kMorning(QDate(2026, 12, 8), QTime(9, 0), Qt::LocalTime);

TCallFigures FiguresAt(int seconds) {
    return {seconds, seconds / 60 + 1, MoneyFromUnits(150 * (seconds / 60 + 1)),
            MoneyFromUnits(180 * (seconds / 60 + 1))};
}

// The booth as the window runs it, then exit(3) from the main thread.
[[noreturn]] void BoothThatExits(const QString& file) {
    TJournalDb db(file);
    AttachShopOutbox(db);
    db.StartWriterThread();
    TCallJournal journal(db);
    // Nothing listens on port 1: the replicator goes on trying, in the
    // driver's code, as fast as it may.
    TShopReplicatorConfig config{file, QStringLiteral("postgresql://booth:c@127.0.0.1:1/tienda"),
                                 QStringLiteral("Cabina 1")};
    config.PollMs = 1;
    config.MinBackoffMs = 1;
    config.MaxBackoffMs = 1;
    TShopReplicator replicator(config);
    std::mutex lock;
    std::condition_variable tried;
    int attempts = 0;
    QObject::connect(
        &replicator, &TShopReplicator::ConnectionChanged, &replicator,
        [&](bool, const QString&) {
            std::lock_guard<std::mutex> guard(lock);
            ++attempts;
            tried.notify_all();
        },
        Qt::DirectConnection);
    {
        std::unique_lock<std::mutex> guard(lock);
        if (!tried.wait_for(guard, std::chrono::seconds(20), [&] { return attempts > 0; })) std::_Exit(4);
    }
    const std::int64_t id = journal.Placed(kMorning, QStringLiteral("5491155550000"), QStringLiteral("005491155550000"));
    journal.Answered(id, kMorning.addSecs(4));
    for (int second = 1; second <= 600; ++second) journal.Progress(id, kMorning.addSecs(4 + second), FiguresAt(second));
    std::exit(3);
}

}  // namespace

class ExitStops : public QObject {
    Q_OBJECT

private slots:
    void exitStopsTheThreadsFirst() {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString file = folder.filePath(QStringLiteral("journal.sqlite"));
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) BoothThatExits(file);
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY2(WIFEXITED(status), qPrintable(QStringLiteral("ended by signal %1").arg(WTERMSIG(status))));
        QCOMPARE(WEXITSTATUS(status), 3);
        TJournalDb again(file);
        const std::vector<TJournalCall> calls = TCallJournal(again).Latest(5);
        QCOMPARE(calls.size(), std::size_t(1));
        QCOMPARE(calls.front().Figures, FiguresAt(600));
    }
};

BOOTH_TEST_CLASS(ExitStops);

#include "exit_stop_test.moc"
