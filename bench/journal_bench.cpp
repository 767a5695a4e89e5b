// The till's costs: what the call journal writes cost per call (on the
// disk of the working folder, with a sync at every commit), and how long the
// close window takes to open over a year of a busy booth (100,000 calls),
// both for one day and for the whole year in one list.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>

#include "app/booth/booth_settings.h"
#include "app/till/call_journal.h"
#include "app/till/cash_close.h"
#include "app/till/journal_db.h"
#include "app/ui/cash_close_window.h"

namespace {

using TClockType = std::chrono::steady_clock;

double MsSince(TClockType::time_point start) {
    return std::chrono::duration<double, std::milli>(TClockType::now() - start).count();
}

const QDateTime kYearStart(QDate(2026, 1, 1), QTime(8, 0), Qt::LocalTime);

// A three-minute call as the booth writes it: placed, rated, answered, one
// progress write a second, ended and paid.
void WriteCalls(const QString& file, int calls, bool writerThread) {
    TJournalDb db(file);
    if (writerThread) db.StartWriterThread();
    TCallJournal journal(db);
    std::vector<double> progress;
    const auto start = TClockType::now();
    QDateTime clock = kYearStart;
    for (int i = 0; i < calls; ++i) {
        const std::int64_t id =
            journal.Placed(clock, QStringLiteral("5491155550000"), QStringLiteral("005491155550000"));
        journal.Rated(id, QStringLiteral("Argentina - Movil"), MoneyFromUnits(150));
        journal.Answered(id, clock.addSecs(5));
        for (int second = 1; second <= 180; ++second) {
            const auto write = TClockType::now();
            journal.Progress(id, clock.addSecs(5 + second),
                             {second, second / 60 + 1, MoneyFromUnits(150 * (second / 60 + 1)),
                              MoneyFromUnits(180 * (second / 60 + 1))});
            progress.push_back(MsSince(write));
        }
        journal.Ended(id, clock.addSecs(186), {180, 4, MoneyFromUnits(600), MoneyFromUnits(720)}, 200,
                      QStringLiteral("BYE"));
        journal.Paid(id, clock.addSecs(200), MoneyFromUnits(1000));
        clock = clock.addSecs(300);
    }
    const double total = MsSince(start);
    std::sort(progress.begin(), progress.end());
    const char* how = writerThread ? "writer thread" : "written in place";
    std::printf("journal writes (%s): %d calls of 3 min (185 writes each): %.2f ms per call, %.3f ms per write\n",
                how, calls, total / calls, total / (calls * 185.0));
    std::printf("journal progress write (%s): median %.3f ms, p99 %.3f ms, max %.3f ms\n", how,
                progress[progress.size() / 2], progress[progress.size() * 99 / 100], progress.back());
}

// 100,000 finished calls spread over 365 days, most of them paid.
void SeedYear(const QString& file, int calls) {
    TJournalDb db(file);
    const auto start = TClockType::now();
    InTransaction(db.Db(), [&] {
        QSqlQuery insert(db.Db());
        insert.prepare(QStringLiteral(
            "INSERT INTO calls (started_at, updated_at, answered_at, ended_at, number, dial_string, destination,"
            " rate, seconds, charged_minutes, provider_cost, customer_price, state, sip_status, end_reason, paid_at,"
            " amount_received) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 'terminada', 200, 'BYE', ?, ?)"));
        const qint64 spacing = 365LL * 86400 * 1000 / calls;
        for (int i = 0; i < calls; ++i) {
            const qint64 at = JournalTime(kYearStart) + i * spacing;
            const int seconds = 30 + i % 400;
            const qint64 minutes = seconds / 60 + 1;
            const QVariant paid = i % 10 == 0 ? QVariant() : QVariant(at + 600000);
            const QVariantList values = {at,
                                         at + seconds * 1000LL,
                                         at + 5000,
                                         at + seconds * 1000LL + 5000,
                                         QStringLiteral("54911%1").arg(i, 8, 10, QLatin1Char('0')),
                                         QStringLiteral("0054911%1").arg(i, 8, 10, QLatin1Char('0')),
                                         QStringLiteral("Argentina - Movil"),
                                         qint64(1500000),
                                         seconds,
                                         minutes,
                                         minutes * 1500000,
                                         minutes * 1800000,
                                         paid,
                                         qint64(20000000)};
            for (int v = 0; v < values.size(); ++v) insert.bindValue(v, values[v]);
            insert.exec();
        }
    });
    std::printf("seeded %d calls in %.0f ms\n", calls, MsSince(start));
}

void OpenClose(const QString& file, const QDate& first, const QDate& last, const char* what) {
    {
        TJournalDb db(file, TJournalAccess::Reader);
        const auto start = TClockType::now();
        const std::size_t count = TCallJournal(db).Calls(first.startOfDay(), last.addDays(1).startOfDay()).size();
        const double read = MsSince(start);
        const auto totalsStart = TClockType::now();
        const TCloseTotals totals = JournalTotals(db, first.startOfDay(), last.addDays(1).startOfDay());
        std::printf("journal over %s: reading all %zu calls %.0f ms (export, print); totals of %d calls %.0f ms\n",
                    what, count, read, totals.Calls, MsSince(totalsStart));
    }
    const TBoothSettings settings;
    const QDateTime now(last, QTime(22, 0), Qt::LocalTime);
    const auto start = TClockType::now();
    TJournalDb db(file);
    // Corrections are not measured here: the guard lets everything by.
    TCashCloseWindow window(db, settings, [now] { return now; }, [] { return true; });
    window.ShowDays(first, last);
    window.show();
    QApplication::processEvents();
    const double opened = MsSince(start);
    std::printf("close window over %s: %d calls, opened in %.0f ms%s\n", what, window.Totals().Calls, opened,
                opened < 1000 ? "" : "  (over one second)");
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // On the disk the booth would use, not a memory file system.
    QTemporaryDir folder(QDir::current().filePath(QStringLiteral("journal-bench-XXXXXX")));
    if (!folder.isValid()) return 1;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder.filePath(QStringLiteral("config"))));
    WriteCalls(folder.filePath(QStringLiteral("writes.sqlite")), 20, false);
    WriteCalls(folder.filePath(QStringLiteral("writes-thread.sqlite")), 20, true);
    const QString year = folder.filePath(QStringLiteral("year.sqlite"));
    SeedYear(year, 100000);
    const QDate day = kYearStart.date().addDays(200);
    OpenClose(year, day, day, "one day");
    OpenClose(year, kYearStart.date(), kYearStart.date().addDays(364), "the whole year");
    return 0;
}
