// The booth's real call clock: each tick comes as a whole second of the
// call completes, so the second is counted, priced and sent to the shop at
// once rather than up to a second later (the board then showed a running
// call at $ 0,00 for its first two seconds).
#include <QTest>

#include <chrono>
#include <vector>

#include "app/booth/call_clock.h"
#include "tests/app/test_registry.h"

using namespace std::chrono_literals;

class CallClock : public QObject {
    Q_OBJECT

private slots:
    // Late is tolerated (a busy thread), early never: a tick before the
    // second is complete counts nothing and the second waits a whole tick.
    void ticksAsEachSecondCompletes() {
        TQtCallClock clock;
        std::vector<std::chrono::milliseconds> ticks;
        const std::chrono::milliseconds start = clock.Now();
        clock.StartTicks([&] { ticks.push_back(clock.Now() - start); });
        QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 4, 10000);
        clock.StopTicks();
        for (std::size_t i = 0; i < 4; ++i) {
            const auto due = std::chrono::seconds(i + 1);
            QVERIFY2(ticks[i] >= due && ticks[i] < due + 250ms,
                     qPrintable(QStringLiteral("tick %1 at %2 ms").arg(i + 1).arg(ticks[i].count())));
        }
        const std::size_t seen = ticks.size();
        QTest::qWait(1200);
        QCOMPARE(ticks.size(), seen);
    }

    // A thread that was busy past several seconds gets one tick, then the
    // ticks fall on the call's whole seconds again.
    void busyThreadRejoinsTheSeconds() {
        TQtCallClock clock;
        std::vector<std::chrono::milliseconds> ticks;
        const std::chrono::milliseconds start = clock.Now();
        clock.StartTicks([&] {
            ticks.push_back(clock.Now() - start);
            if (ticks.size() == 1) {
                const auto until = clock.Now() + 2300ms;
                while (clock.Now() < until) {
                }
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 3, 10000);
        clock.StopTicks();
        QVERIFY2(ticks[1] >= 3300ms && ticks[1] < 3600ms, qPrintable(QString::number(ticks[1].count())));
        QVERIFY2(ticks[2] >= 4000ms && ticks[2] < 4250ms, qPrintable(QString::number(ticks[2].count())));
    }
};

BOOTH_TEST_CLASS(CallClock);

#include "call_clock_test.moc"
