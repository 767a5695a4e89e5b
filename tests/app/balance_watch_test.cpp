// The balance read during a call, against the portal simulator on
// 127.0.0.1: asked only while the call runs, never twice at once from a
// slow portal, and a reply that arrives after the call is dropped.
#include <chrono>

#include <QSignalSpy>
#include <QTest>

#include "app/portal/balance_watch.h"
#include "tests/app/portal_sim.h"
#include "tests/app/test_registry.h"

using namespace std::chrono_literals;

namespace {

QStringList Config() { return {"account|1000|clave|Cabina|250000"}; }

int BalanceRequests(const TPortalSim& sim) {
    int count = 0;
    for (const QString& target : sim.Targets()) count += target.contains(u"ac=cr") ? 1 : 0;
    return count;
}

struct TWatched {
    TPortal Portal;
    TBalanceWatch Watch;
    TWatched(const TPortalSim& sim, std::chrono::milliseconds period, std::chrono::milliseconds timeout = 5s)
        : Portal(sim.BaseUrl(), nullptr, timeout),
          Watch([this](QObject* context,
                       TPortalHandler<TBalanceReply> done) { Portal.BalanceAndRegister("1000", "clave", context, done); },
                period) {}
};

}  // namespace

class BalanceWatch : public QObject {
    Q_OBJECT

private slots:
    void readsOnlyWhileTheCallRuns() {
        TPortalSim sim(Config());
        TWatched watched(sim, 100ms);
        QSignalSpy read(&watched.Watch, &TBalanceWatch::BalanceRead);
        QTest::qWait(300);
        QCOMPARE(BalanceRequests(sim), 0);
        watched.Watch.Start();
        QTRY_VERIFY_WITH_TIMEOUT(read.size() >= 2, 30000);
        QCOMPARE(read.front().front().value<TMoney>().TenThousandths, qint64(25000));
        watched.Watch.Stop();
        const int asked = BalanceRequests(sim);
        QTest::qWait(400);
        QCOMPARE(BalanceRequests(sim), asked);
    }

    // A portal that never answers is asked once, however many periods go
    // by; the next call asks again at once on a fresh request.
    void slowPortalIsNotAskedAgain() {
        TPortalSim sim(Config(), {"--hang"});
        TWatched watched(sim, 50ms);
        watched.Watch.Start();
        QTRY_COMPARE_WITH_TIMEOUT(BalanceRequests(sim), 1, 30000);
        QTest::qWait(400);
        QCOMPARE(BalanceRequests(sim), 1);
        watched.Watch.Stop();
        watched.Watch.Start();
        QTRY_COMPARE_WITH_TIMEOUT(BalanceRequests(sim), 2, 30000);
    }

    // The call ends while the portal is still answering: its balance must
    // not land after the refresh that follows the call.
    void replyAfterTheCallIsDropped() {
        TPortalSim sim(Config(), {"--delay", "400"});
        TWatched watched(sim, 50ms);
        QSignalSpy read(&watched.Watch, &TBalanceWatch::BalanceRead);
        watched.Watch.Start();
        QTRY_COMPARE_WITH_TIMEOUT(BalanceRequests(sim), 1, 30000);
        watched.Watch.Stop();
        QTest::qWait(900);
        QCOMPARE(read.size(), 0);
    }

    void zeroPeriodNeverAsks() {
        TPortalSim sim(Config());
        TWatched watched(sim, 0ms);
        watched.Watch.Start();
        QVERIFY(!watched.Watch.IsRunning());
        QTest::qWait(300);
        QCOMPARE(BalanceRequests(sim), 0);
    }
};
BOOTH_TEST_CLASS(BalanceWatch);

#include "balance_watch_test.moc"
