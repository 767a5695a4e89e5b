// The shop's costs on a throwaway PostgreSQL on loopback:
//  - replication lag: 20 booths, each with its own journal and replicator,
//    write a call second by second; the counter LISTENs and stamps the
//    arrival of each booth's change (p50, p99);
//  - the booth's journal write with replication on, beside the same write
//    with it off, each written by the call path itself and handed to the
//    journal's writer thread (median, p99);
//  - the shop's close over 20 booths x 10,000 calls: totals per booth and
//    per operator for one day and for the whole year.
// SHOP_BENCH_SECONDS sets the lag run's length (default 30).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include "app/till/call_journal.h"
#include "app/till/journal_db.h"
#include "app/shop/shop_command.h"
#include "app/shop/shop_outbox.h"
#include "app/shop/shop_replicator.h"
#include "tests/app/pg_cluster.h"

namespace {

using TClockType = std::chrono::steady_clock;
constexpr int kBooths = 20;

double MsSince(TClockType::time_point start) {
    return std::chrono::duration<double, std::milli>(TClockType::now() - start).count();
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

void Command(const QStringList& arguments) {
    QString out, err;
    QTextStream o(&out), e(&err);
    if (RunShopCommand(QStringList{QStringLiteral("softphone")} + arguments, o, e) != 0)
        throw std::runtime_error(err.toStdString());
}

void Exec(QSqlDatabase& db, const QString& statement) {
    QSqlQuery query(db);
    if (!query.exec(statement)) throw std::runtime_error((statement + query.lastError().text()).toStdString());
}

struct TSimBooth {
    TSimBooth(const QString& file, const QString& url, const QString& name, bool replicate, bool writerThread)
        : Db(file), Journal(Db) {
        if (writerThread) Db.StartWriterThread();
        if (!replicate) return;
        AttachShopOutbox(Db);
        TShopReplicatorConfig config{file, url, name};
        config.HeartbeatMs = 600000;  // only the calls' changes are timed
        Replicator = std::make_unique<TShopReplicator>(config);
    }
    TJournalDb Db;
    TCallJournal Journal;
    std::unique_ptr<TShopReplicator> Replicator;
    std::int64_t Call = 0;
    int Second = 0;
    std::optional<TClockType::time_point> Pending;
};

// Every 50 ms one booth writes (each booth once a second, as a call's
// progress); returns the write times.
std::vector<double> RunBooths(std::vector<std::unique_ptr<TSimBooth>>& booths, int seconds,
                              std::vector<double>* lags, QSqlDatabase* counter) {
    std::vector<double> writes;
    std::map<QString, TSimBooth*> byName;
    for (int i = 0; i < kBooths; ++i) byName[QStringLiteral("Cabina %1").arg(i + 1)] = booths[i].get();
    if (counter) {
        QObject::connect(counter->driver(), &QSqlDriver::notification,
                         [&](const QString&, QSqlDriver::NotificationSource, const QVariant& payload) {
                             TSimBooth* booth = byName[payload.toString()];
                             if (booth && booth->Pending) {
                                 lags->push_back(MsSince(*booth->Pending));
                                 booth->Pending.reset();
                             }
                         });
    }
    int next = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        TSimBooth& booth = *booths[next++ % kBooths];
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const auto start = TClockType::now();
        if (booth.Call == 0 || booth.Second >= 60) {
            if (booth.Call) booth.Journal.Ended(booth.Call, now, {60, 1, TMoney{20000}, TMoney{30000}}, 200, "BYE");
            booth.Call = booth.Journal.Placed(now, QStringLiteral("1155550000"), QStringLiteral("001155550000"));
            booth.Journal.Answered(booth.Call, now);
            booth.Second = 0;
        } else {
            ++booth.Second;
            booth.Journal.Progress(booth.Call, now, {booth.Second, 1, TMoney{20000}, TMoney{30000}});
        }
        writes.push_back(MsSince(start));
        if (!booth.Pending) booth.Pending = start;
    });
    timer.start(1000 / kBooths);
    QTimer::singleShot(seconds * 1000, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    return writes;
}

void Replication(TPgCluster& cluster, int seconds) {
    const QString url = cluster.AdminUrl(QStringLiteral("tienda"));
    Command({QStringLiteral("--init-shop-db"), url, QStringLiteral("m")});
    {
        QSqlDatabase admin = cluster.Connect(QStringLiteral("tienda"), QStringLiteral("admin"));
        for (int i = 1; i <= kBooths; ++i) {
            Command({QStringLiteral("--add-booth-role"), url, QStringLiteral("Cabina %1").arg(i), QStringLiteral("c")});
            Exec(admin, QStringLiteral("INSERT INTO shop.sessions (booth) VALUES ('Cabina %1')").arg(i));
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("admin"));
    QTemporaryDir folder;
    struct TMode {
        bool replicate;
        bool writerThread;
    };
    for (const TMode mode : {TMode{false, false}, TMode{true, false}, TMode{false, true}, TMode{true, true}}) {
        const bool replicate = mode.replicate;
        std::vector<std::unique_ptr<TSimBooth>> booths;
        for (int i = 1; i <= kBooths; ++i)
            booths.push_back(std::make_unique<TSimBooth>(
                folder.filePath(QStringLiteral("%1%2-%3.sqlite").arg(replicate).arg(mode.writerThread).arg(i)),
                cluster.Url(QStringLiteral("booth_cabina_%1").arg(i), QStringLiteral("c"), QStringLiteral("tienda")),
                QStringLiteral("Cabina %1").arg(i), replicate, mode.writerThread));
        std::vector<double> lags;
        std::vector<double> writes;
        if (replicate) {
            QSqlDatabase counter =
                cluster.ConnectAs(QStringLiteral("shop_counter"), QStringLiteral("m"), QStringLiteral("tienda"),
                                  QStringLiteral("counter"));
            counter.driver()->subscribeToNotification(QStringLiteral("shop_changes"));
            // The replicators connect and send their links first.
            const auto settle = TClockType::now();
            while (MsSince(settle) < 2000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            writes = RunBooths(booths, seconds, &lags, &counter);
            counter.close();
        } else {
            writes = RunBooths(booths, std::min(seconds, 10), nullptr, nullptr);
        }
        booths.clear();
        QSqlDatabase::removeDatabase(QStringLiteral("counter"));
        std::printf("journal write, replication %s, %s: %zu writes, median %.3f ms, p99 %.3f ms\n",
                    replicate ? "on " : "off", mode.writerThread ? "writer thread" : "written in place",
                    writes.size(), Percentile(writes, 0.5), Percentile(writes, 0.99));
        if (replicate)
            std::printf("replication lag, %d booths: %zu arrivals, p50 %.1f ms, p99 %.1f ms, max %.1f ms\n", kBooths,
                        lags.size(), Percentile(lags, 0.5), Percentile(lags, 0.99), Percentile(lags, 1.0));
    }
}

// 20 booths x 10,000 calls over 2026, 9 in 10 paid (a third at the counter).
void Close(TPgCluster& cluster) {
    const QString url = cluster.AdminUrl(QStringLiteral("cierre"));
    Command({QStringLiteral("--init-shop-db"), url, QStringLiteral("m")});
    for (int i = 1; i <= kBooths; ++i)
        Command({QStringLiteral("--add-booth-role"), url, QStringLiteral("Cabina %1").arg(i), QStringLiteral("c")});
    {
        QSqlDatabase admin = cluster.Connect(QStringLiteral("cierre"), QStringLiteral("admin"));
        const auto seed = TClockType::now();
        Exec(admin, QStringLiteral(
                        "INSERT INTO shop.calls (booth, local_id, change_seq, started_at, answered_at, ended_at,"
                        " updated_at, number, dial_string, destination, rate, rate_origin, seconds, charged_minutes,"
                        " provider_cost, customer_price, state, sip_status, end_reason)"
                        " SELECT 'Cabina ' || b, n, n, t, t + interval '5 s', t + interval '185 s', t + interval '185 s',"
                        " '1155550000', '001155550000', 'Argentina', 15000, 'portal', 180, 3, 45000, 54000,"
                        " 'terminada', 200, 'BYE'"
                        " FROM generate_series(1, 20) b, generate_series(1, 10000) n,"
                        " LATERAL (SELECT timestamptz '2026-01-01 08:00+00' + (n * interval '52 min')"
                        "  + b * interval '1 min' AS t) x"));
        Exec(admin, QStringLiteral(
                        "INSERT INTO shop.payments (booth, call_local_id, paid_at, amount_received, place, operator)"
                        " SELECT booth, local_id, ended_at + interval '1 min', 60000,"
                        " CASE WHEN local_id % 3 = 0 THEN 'mostrador' ELSE 'cabina' END,"
                        " CASE WHEN local_id % 3 = 0 THEN 'Ana' ELSE NULL END"
                        " FROM shop.calls WHERE local_id % 10 <> 0"));
        Exec(admin, QStringLiteral("ANALYZE"));
        std::printf("close: seeded 200,000 calls and 180,000 payments in %.0f ms\n", MsSince(seed));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("admin"));
    QSqlDatabase counter = cluster.ConnectAs(QStringLiteral("shop_counter"), QStringLiteral("m"),
                                             QStringLiteral("cierre"), QStringLiteral("counter"));
    const QString totals = QStringLiteral(
        "SELECT booth, COALESCE(operator, place), COUNT(*), SUM(price), SUM(amount_received) FROM shop.payments"
        " WHERE paid_at >= ? AND paid_at < ? GROUP BY ROLLUP (booth, COALESCE(operator, place))");
    const QString unpaid = QStringLiteral(
        "SELECT booth, COUNT(*), SUM(customer_price) FROM shop.unpaid_calls WHERE started_at >= ? AND started_at < ?"
        " GROUP BY booth");
    struct TPeriod {
        const char* Name;
        QDateTime From, To;
    };
    for (const TPeriod& period :
         {TPeriod{"one day", QDateTime(QDate(2026, 6, 1), QTime(0, 0), Qt::UTC), QDateTime(QDate(2026, 6, 2), QTime(0, 0), Qt::UTC)},
          TPeriod{"whole year", QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC),
                  QDateTime(QDate(2027, 3, 1), QTime(0, 0), Qt::UTC)}}) {
        for (const QString& statement : {totals, unpaid}) {
            std::vector<double> times;
            int rows = 0;
            for (int run = 0; run < 5; ++run) {
                const auto start = TClockType::now();
                rows = 0;
                QSqlQuery query(counter);
                query.setForwardOnly(true);
                query.prepare(statement);
                query.addBindValue(period.From);
                query.addBindValue(period.To);
                if (!query.exec()) throw std::runtime_error(query.lastError().text().toStdString());
                while (query.next()) ++rows;
                times.push_back(MsSince(start));
            }
            std::printf("close over 200,000 calls, %s, %s: %d rows, median %.1f ms, max %.1f ms\n", period.Name,
                        statement == totals ? "takings per booth and operator" : "unpaid per booth", rows,
                        Percentile(times, 0.5), Percentile(times, 1.0));
        }
    }
    counter.close();
    counter = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("counter"));
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int seconds = qEnvironmentVariableIsSet("SHOP_BENCH_SECONDS") ? qEnvironmentVariableIntValue("SHOP_BENCH_SECONDS") : 30;
    try {
        TPgCluster cluster;
        cluster.CreateDatabase(QStringLiteral("tienda"));
        cluster.CreateDatabase(QStringLiteral("cierre"));
        Replication(cluster, seconds);
        Close(cluster);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "shop bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
