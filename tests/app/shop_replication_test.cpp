// The booth's replicator against a real PostgreSQL started by the test: a
// call's whole life arriving at the shop as the journal writes it, the shop
// switched off in the middle of a call and on again (the booth goes on, and
// every change arrives once and in order), and the counter's payments, voids
// and sessions coming back into the booth's journal.
#include <chrono>
#include <memory>
#include <optional>

#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include "app/call_journal.h"
#include "app/journal_db.h"
#include "app/shop/shop_outbox.h"
#include "app/shop/shop_replicator.h"
#include "tests/app/pg_cluster.h"
#include "tests/app/shop_test_support.h"
#include "tests/app/test_registry.h"

namespace {

const QDateTime kStart(QDate(2026, 12, 8), QTime(10, 0), Qt::UTC);
constexpr int kCeilingMs = 20000;  // generous: the figure to beat is one second

TCallFigures Figures(int seconds) {
    return {seconds, seconds / 60 + 1, MoneyFromUnits(2 * (seconds / 60 + 1)),
            MoneyFromUnits(3 * (seconds / 60 + 1))};
}

QString Text(QSqlDatabase& db, const QString& statement) {
    try {
        return ScalarOf(db, statement).toString();
    } catch (const std::exception&) {
        return QStringLiteral("<none>");
    }
}

// A booth: its journal (the writer, with the outbox attached) and its
// replicator, polling fast.
struct TBooth {
    TBooth(const QString& file, const QString& url, const QString& name)
        : Db(file), Journal(Db) {
        AttachShopOutbox(Db);
        TShopReplicatorConfig config{file, url, name};
        config.PollMs = 20;
        config.HeartbeatMs = 500;
        config.MinBackoffMs = 50;
        config.MaxBackoffMs = 400;
        Replicator = std::make_unique<TShopReplicator>(config);
    }
    int Outbox() { return ScalarOf(Db.Db(), QStringLiteral("SELECT COUNT(*) FROM shop_outbox")).toInt(); }

    TJournalDb Db;
    TCallJournal Journal;
    std::unique_ptr<TShopReplicator> Replicator;
};

}  // namespace

class ShopReplication : public QObject {
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
    void init() {
        Database_ = QStringLiteral("replication_%1").arg(++Count_);
        try {
            PrepareShop(*Cluster_, Database_, {QStringLiteral("Cabina 1"), QStringLiteral("Cabina 2")});
        } catch (const std::exception& error) {
            QFAIL(error.what());
        }
    }

    // Notes are taken on the writer's connection once attached, and only
    // there: a booth without a shop notes nothing, and what another
    // connection writes (the counter's changes taken back) is not sent again.
    void outboxNotesOnlyTheWritersChanges() {
        QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("journal.sqlite"));
        TJournalDb writer(file);
        TCallJournal journal(writer);
        auto notes = [&] { return ScalarOf(writer.Db(), QStringLiteral("SELECT COUNT(*) FROM shop_outbox")).toInt(); };
        const std::int64_t alone = journal.Placed(kStart, QStringLiteral("1"), QStringLiteral("1"));
        journal.Ended(alone, kStart.addSecs(9), Figures(5), 200, QStringLiteral("BYE"));
        QCOMPARE(notes(), 0);
        AttachShopOutbox(writer);
        AttachShopOutbox(writer);
        const std::int64_t id = journal.Placed(kStart, QStringLiteral("2"), QStringLiteral("2"));
        journal.Ended(id, kStart.addSecs(9), Figures(5), 200, QStringLiteral("BYE"));
        journal.Paid(id, kStart.addSecs(20), MoneyFromUnits(1));
        journal.VoidPayment(id, kStart.addSecs(30));
        QCOMPARE(notes(), 5);  // placed, ended, paid, the void and the call unpaid
        {
            TJournalDb other(file, TJournalAccess::Reader);
            RunSql(other.Db(), QStringLiteral("UPDATE calls SET paid_at = 1 WHERE id = ?"), {qint64(id)});
        }
        QCOMPARE(notes(), 5);
        const TOutboxBatch batch = ReadOutboxBatch(writer, 100);
        QCOMPARE(batch.Items.size(), size_t(2));
        QCOMPARE(batch.Items[0].Kind, TOutboxItem::TKind::Void);
        QCOMPARE(batch.Items[1].Kind, TOutboxItem::TKind::Call);
        QCOMPARE(batch.Items[1].Values[kPaidAt].toLongLong(), 1);
        // Linking to a shop notes the history once.
        LinkToShop(writer, QStringLiteral("shop-a"));
        QCOMPARE(notes(), 5 + 2 + 1);
        LinkToShop(writer, QStringLiteral("shop-a"));
        QCOMPARE(notes(), 8);
    }

    // Each step of the call shows at the shop as the booth writes it, the
    // console's live state follows, and the last row is the journal's row.
    void wholeCallArrives() {
        TScopedConnection shop(Cluster_->Connect(Database_, QStringLiteral("shop")));
        QTemporaryDir folder;
        TBooth booth(folder.filePath(QStringLiteral("journal.sqlite")), BoothUrl("Cabina 1"), QStringLiteral("Cabina 1"));
        QTRY_VERIFY_WITH_TIMEOUT(booth.Replicator->IsConnected(), kCeilingMs);
        const QString live = QStringLiteral("SELECT state FROM shop.booths WHERE name = 'Cabina 1'");
        QTRY_COMPARE_WITH_TIMEOUT(Text(*shop, live), QStringLiteral("Cerrada"), kCeilingMs);
        QVERIFY(ScalarOf(*shop, QStringLiteral("INSERT INTO shop.sessions (booth, opened_by) VALUES ('Cabina 1', 'Ana')"
                                               " RETURNING id"))
                    .isValid());
        QTRY_COMPARE_WITH_TIMEOUT(Text(*shop, live), QStringLiteral("Libre"), kCeilingMs);

        const QDateTime placed = QDateTime::currentDateTimeUtc();
        const std::int64_t id = booth.Journal.Placed(placed, QStringLiteral("1155550000"), QStringLiteral("001155550000"));
        QTRY_COMPARE_WITH_TIMEOUT(Text(*shop, live), QStringLiteral("Marcando"), kCeilingMs);
        const QString row = QStringLiteral("SELECT %2 FROM shop.calls WHERE booth = 'Cabina 1' AND local_id = %1").arg(id);
        QCOMPARE(Text(*shop, row.arg(QStringLiteral("state"))), QStringLiteral("abierta"));
        QVERIFY(!Text(*shop, row.arg(QStringLiteral("session_id"))).isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(booth.Outbox(), 0, kCeilingMs);

        // After the outbox emptied: the next note must still be newer.
        booth.Journal.Rated(id, QStringLiteral("Argentina - Móvil"), MoneyFromUnits(2));
        QTRY_COMPARE_WITH_TIMEOUT(Text(*shop, row.arg(QStringLiteral("destination"))), QStringLiteral("Argentina - Móvil"),
                                  kCeilingMs);
        booth.Journal.Answered(id, placed.addSecs(5));
        QTRY_COMPARE_WITH_TIMEOUT(Text(*shop, live), QStringLiteral("En curso"), kCeilingMs);
        for (int second = 1; second <= 65; ++second) booth.Journal.Progress(id, placed.addSecs(5 + second), Figures(second));
        QTRY_COMPARE_WITH_TIMEOUT(Text(*shop, QStringLiteral("SELECT call_price FROM shop.booths WHERE name = 'Cabina 1'")),
                                  QString::number(MoneyFromUnits(6).TenThousandths), kCeilingMs);
        booth.Journal.Ended(id, placed.addSecs(71), Figures(66), 200, QStringLiteral("BYE"), TCallQuality{4.1, 9.5, 0.5});
        booth.Journal.SetAnswerFlags(id, QStringLiteral("sin audio del destino"));
        booth.Journal.Paid(id, placed.addSecs(90), MoneyFromUnits(10));
        QTRY_COMPARE_WITH_TIMEOUT(
            Text(*shop, QStringLiteral("SELECT place || ' ' || amount_received FROM shop.payments")),
            QStringLiteral("cabina %1").arg(MoneyFromUnits(10).TenThousandths), kCeilingMs);
        QTRY_COMPARE_WITH_TIMEOUT(Text(*shop, live), QStringLiteral("Libre"), kCeilingMs);

        const TJournalCall local = *booth.Journal.Call(id);
        const QString whole = QStringLiteral(
            "(extract(epoch FROM started_at) * 1000)::bigint || '|' || (extract(epoch FROM answered_at) * 1000)::bigint"
            " || '|' || (extract(epoch FROM ended_at) * 1000)::bigint || '|' || number || '|' || dial_string || '|' ||"
            " destination || '|' || rate || '|' || rate_origin || '|' || seconds || '|' || charged_minutes || '|' ||"
            " provider_cost || '|' || customer_price || '|' || state || '|' || sip_status || '|' || end_reason || '|' ||"
            " answer_flags || '|' || quality_mos || '|' || quality_jitter_ms || '|' || quality_loss_percent");
        const QString expected =
            QStringLiteral("%1|%2|%3|1155550000|001155550000|Argentina - Móvil|%4|portal|66|2|%5|%6|terminada|200|BYE|"
                           "sin audio del destino|4.1|9.5|0.5")
                .arg(JournalTime(local.Started))
                .arg(JournalTime(local.Answered))
                .arg(JournalTime(local.Ended))
                .arg(MoneyFromUnits(2).TenThousandths)
                .arg(local.Figures.ProviderCost.TenThousandths)
                .arg(local.Figures.CustomerPrice.TenThousandths);
        QCOMPARE(Text(*shop, row.arg(whole)), expected);
        QCOMPARE(ScalarOf(*shop, QStringLiteral("SELECT COUNT(*) FROM shop.calls")).toInt(), 1);
    }

    // The shop's server goes off in the middle of a call and comes back:
    // the booth writes on without waiting, and then every change arrives,
    // once, in the order the booth made them.
    void shopOffMidCallCatchesUpInOrder() {
        {
            // Every change a booth's role lands in calls is logged, in order.
            TScopedConnection admin(Cluster_->Connect(Database_, QStringLiteral("admin")));
            for (const QString& statement :
                 {QStringLiteral("CREATE TABLE public.arrivals (n bigserial, local_id bigint, change_seq bigint,"
                                 " seconds int, state text)"),
                  QStringLiteral("CREATE FUNCTION public.log_arrival() RETURNS trigger LANGUAGE plpgsql SECURITY"
                                 " DEFINER AS $$ BEGIN INSERT INTO public.arrivals (local_id, change_seq, seconds,"
                                 " state) VALUES (NEW.local_id, NEW.change_seq, NEW.seconds, NEW.state);"
                                 " RETURN NULL; END $$"),
                  QStringLiteral("CREATE TRIGGER log_arrival AFTER INSERT OR UPDATE ON shop.calls FOR EACH ROW"
                                 " EXECUTE FUNCTION public.log_arrival()"),
                  QStringLiteral("INSERT INTO shop.sessions (booth) VALUES ('Cabina 2')")})
                QVERIFY2(ExecError(*admin, statement).isEmpty(), qPrintable(ExecError(*admin, statement)));
        }
        QTemporaryDir folder;
        TBooth booth(folder.filePath(QStringLiteral("journal.sqlite")), BoothUrl("Cabina 2"), QStringLiteral("Cabina 2"));
        QSignalSpy lost(booth.Replicator.get(), &TShopReplicator::ConnectionChanged);
        QTRY_VERIFY_WITH_TIMEOUT(booth.Replicator->IsConnected(), kCeilingMs);
        const std::int64_t first = booth.Journal.Placed(kStart, QStringLiteral("1"), QStringLiteral("1"));
        booth.Journal.Answered(first, kStart.addSecs(3));
        for (int second = 1; second <= 5; ++second) booth.Journal.Progress(first, kStart.addSecs(3 + second), Figures(second));
        QTRY_COMPARE_WITH_TIMEOUT(booth.Outbox(), 0, kCeilingMs);

        Cluster_->Stop();
        // The booth's writes never wait for the shop.
        const auto before = std::chrono::steady_clock::now();
        for (int second = 6; second <= 40; ++second) booth.Journal.Progress(first, kStart.addSecs(3 + second), Figures(second));
        booth.Journal.Ended(first, kStart.addSecs(44), Figures(40), 200, QStringLiteral("BYE"));
        const std::int64_t second = booth.Journal.Placed(kStart.addSecs(60), QStringLiteral("2"), QStringLiteral("2"));
        booth.Journal.Ended(second, kStart.addSecs(70), Figures(0), 486, QStringLiteral("Ocupado"));
        booth.Journal.Paid(first, kStart.addSecs(80), MoneyFromUnits(5));
        QVERIFY(std::chrono::steady_clock::now() - before < std::chrono::seconds(5));
        QTRY_VERIFY_WITH_TIMEOUT(!booth.Replicator->IsConnected(), kCeilingMs);
        QVERIFY(booth.Outbox() > 0);

        Cluster_->Start();
        QTRY_COMPARE_WITH_TIMEOUT(booth.Outbox(), 0, kCeilingMs);
        QVERIFY(booth.Replicator->IsConnected());
        TScopedConnection shop(Cluster_->Connect(Database_, QStringLiteral("shop")));
        QCOMPARE(ScalarOf(*shop, QStringLiteral("SELECT COUNT(*) FROM shop.calls")).toInt(), 2);
        QCOMPARE(ScalarOf(*shop, QStringLiteral("SELECT COUNT(*) FROM shop.payments")).toInt(), 1);
        QCOMPARE(Text(*shop, QStringLiteral("SELECT seconds || state FROM shop.calls WHERE local_id = %1").arg(first)),
                 QStringLiteral("40terminada"));
        // Arrivals in the booth's order: each later than the one before,
        // none sent twice.
        QCOMPARE(ScalarOf(*shop, QStringLiteral("SELECT COUNT(*) FROM (SELECT change_seq < lag(change_seq)"
                                                " OVER (ORDER BY n) AS back FROM public.arrivals) a WHERE back"))
                     .toInt(),
                 0);
        QCOMPARE(ScalarOf(*shop, QStringLiteral("SELECT COUNT(*) - COUNT(DISTINCT change_seq) FROM public.arrivals"))
                     .toInt(),
                 0);
        QCOMPARE(Text(*shop, QStringLiteral("SELECT string_agg(state, ',' ORDER BY n) FROM public.arrivals"
                                            " WHERE local_id = %1 AND n > (SELECT MAX(n) FROM public.arrivals"
                                            " WHERE seconds = 5)").arg(first)),
                 QStringLiteral("terminada"));
    }

    // What the counter does for the booth shows in the booth's journal.
    void counterChangesComeBack() {
        QTemporaryDir folder;
        TBooth booth(folder.filePath(QStringLiteral("journal.sqlite")), BoothUrl("Cabina 1"), QStringLiteral("Cabina 1"));
        QSignalSpy applied(booth.Replicator.get(), &TShopReplicator::RemoteChangesApplied);
        const std::int64_t id = booth.Journal.Placed(kStart, QStringLiteral("1"), QStringLiteral("1"));
        booth.Journal.Ended(id, kStart.addSecs(90), Figures(80), 200, QStringLiteral("BYE"));
        TScopedConnection counter(Cluster_->ConnectAs(QStringLiteral("shop_counter"),
                                                      QString::fromLatin1(kCounterTestPassword), Database_,
                                                      QStringLiteral("counter")));
        QTRY_COMPARE_WITH_TIMEOUT(
            Text(*counter, QStringLiteral("SELECT state FROM shop.calls WHERE local_id = %1").arg(id)),
            QStringLiteral("terminada"), kCeilingMs);

        const qint64 paidAt = JournalTime(kStart.addSecs(120));
        QVERIFY(ScalarOf(*counter, QStringLiteral("INSERT INTO shop.payments (booth, call_local_id, paid_at,"
                                                  " amount_received, place, operator) VALUES ('Cabina 1', %1,"
                                                  " to_timestamp(%2 / 1000.0), 70000, 'mostrador', 'Ana') RETURNING id")
                                       .arg(id)
                                       .arg(paidAt))
                    .isValid());
        QTRY_VERIFY_WITH_TIMEOUT(booth.Journal.Call(id)->IsPaid(), kCeilingMs);
        QVERIFY(!applied.isEmpty());
        QCOMPARE(JournalTime(booth.Journal.Call(id)->PaidAt), paidAt);
        QCOMPARE(booth.Journal.Call(id)->AmountReceived, TMoney{70000});
        // The booth cannot charge it a second time.
        QVERIFY_THROWS_EXCEPTION(std::logic_error, booth.Journal.Paid(id, kStart.addSecs(130), MoneyFromUnits(9)));

        QVERIFY(ScalarOf(*counter, QStringLiteral("SELECT shop.void_payment('Cabina 1', %1, now(), 'admin')").arg(id))
                    .toBool());
        QTRY_VERIFY_WITH_TIMEOUT(!booth.Journal.Call(id)->IsPaid(), kCeilingMs);
        QCOMPARE(booth.Journal.VoidedPayments(id), 1);
        // Charged at the booth now, the payment goes to the shop as the booth's.
        booth.Journal.Paid(id, kStart.addSecs(140), MoneyFromUnits(8));
        QTRY_COMPARE_WITH_TIMEOUT(
            Text(*counter, QStringLiteral("SELECT place FROM shop.payments WHERE call_local_id = %1").arg(id)),
            QStringLiteral("cabina"), kCeilingMs);
        QCOMPARE(booth.Journal.VoidedPayments(id), 1);
        QCOMPARE(ScalarOf(*counter, QStringLiteral("SELECT COUNT(*) FROM shop.voided_payments")).toInt(), 1);

        // A session opened and closed at the counter.
        QVERIFY(ScalarOf(*counter, QStringLiteral("INSERT INTO shop.sessions (booth, limit_amount, opened_by)"
                                                  " VALUES ('Cabina 1', 100000, 'Ana') RETURNING id"))
                    .isValid());
        const QString openSessions = QStringLiteral("SELECT COUNT(*) FROM shop_sessions WHERE closed_at IS NULL"
                                                    " AND limit_amount = 100000");
        QTRY_COMPARE_WITH_TIMEOUT(ScalarOf(booth.Db.Db(), openSessions).toInt(), 1, kCeilingMs);
        QVERIFY(ExecError(*counter, QStringLiteral("UPDATE shop.sessions SET closed_at = now()")).isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(ScalarOf(booth.Db.Db(), openSessions).toInt(), 0, kCeilingMs);
    }

private:
    QString BoothUrl(const char* booth) const {
        return Cluster_->Url(QStringLiteral("booth_") + QString::fromLatin1(booth).toLower().replace(' ', '_'),
                             QString::fromLatin1(kBoothTestPassword), Database_);
    }

    std::unique_ptr<TPgCluster> Cluster_;
    QString Database_;
    int Count_ = 0;
};

BOOTH_TEST_CLASS(ShopReplication);

#include "shop_replication_test.moc"
