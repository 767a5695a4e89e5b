// The call flow on its own: a line, a rate source and a clock driven by the
// test, so late and out-of-order portal replies, refused and repeated
// answers and every way a call ends are played out without sockets, widgets
// or waiting.
#include <deque>
#include <stdexcept>
#include <vector>

#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include "app/booth/booth_call_flow.h"
#include "app/booth/call_clock.h"
#include "app/booth/call_rules.h"
#include "app/booth/rate_source.h"
#include "tests/app/call_flow_fakes.h"
#include "tests/app/test_registry.h"

namespace {

using namespace std::chrono_literals;

TMoney Units(qint64 units) { return MoneyFromUnits(units); }

}  // namespace

class BoothCallFlow : public QObject {
    Q_OBJECT

    struct TFixture {
        TManualClock Clock;
        TFakeLine Line;
        TFakeRates Rates;
        TBoothCallFlow Flow{Line, Rates, Clock};
        TFixture() { Flow.SetRateRetries({2000ms, 5000ms, 20000ms}); }
    };

private slots:
    // The fault the flow was built for: a slow reply for a call the far end
    // refused must not price the next call.
    void lateReplyOfAnEarlierCallIsPassedOver() {
        TFixture f;
        QSignalSpy known(&f.Flow, &TBoothCallFlow::RateKnown);
        f.Flow.Place(QStringLiteral("5491155550000"));
        f.Flow.LineEnded(1, 486, QStringLiteral("Busy Here"));
        QCOMPARE(f.Flow.End().Status, 486);
        f.Flow.Place(QStringLiteral("34911234567"));
        QCOMPARE(f.Rates.Asked, (QStringList{"005491155550000", "0034911234567"}));
        f.Rates.Answer(0, QStringLiteral("Argentina Celular"), 500);
        QCOMPARE(known.count(), 0);
        QVERIFY(!f.Flow.Rate());
        f.Rates.Answer(1, QStringLiteral("España Fijo"), 40);
        QCOMPARE(f.Flow.Destination(), QStringLiteral("España Fijo"));
        QCOMPARE(f.Flow.Rate(), Units(40));
        f.Flow.LineAnswered(2);
        f.Clock.Seconds(61);
        QCOMPARE(f.Flow.Charge().Cost, Units(80));
    }

    // Within one call any reply of its own counts, the first good one wins:
    // a request that timed out and then answered, a retry that failed.
    void outOfOrderRepliesOfTheSameCall() {
        TFixture f;
        QSignalSpy missing(&f.Flow, &TBoothCallFlow::RateMissing);
        f.Flow.Place(QStringLiteral("5491155550000"));
        f.Clock.Advance(2000ms);  // the first request's wait is over
        QCOMPARE(missing.count(), 1);
        f.Clock.Advance(5000ms);  // the retry goes out
        QCOMPARE(f.Rates.Asked.size(), 2);
        f.Rates.Broken(1);
        QCOMPARE(missing.count(), 2);
        f.Rates.Answer(0, QStringLiteral("Argentina Celular"), 150);
        QCOMPARE(f.Flow.Rate(), Units(150));
        f.Rates.Answer(0, QStringLiteral("Otra"), 999);  // a repeated answer changes nothing
        QCOMPARE(f.Flow.Rate(), Units(150));
        f.Clock.Advance(60000ms);
        QCOMPARE(f.Rates.Asked.size(), 2);  // priced: no more requests
    }

    // The far end resends its 200 (our ACK was lost) or re-INVITEs: the
    // count runs on from where it was, on the one timer started.
    void resentAnswerKeepsTheCount() {
        TFixture f;
        f.Flow.Place(QStringLiteral("5491155550000"));
        f.Rates.Answer(0, QStringLiteral("Argentina"), 150);
        f.Flow.LineAnswered(1);
        f.Clock.Advance(30500ms);
        f.Flow.LineAnswered(1);
        f.Clock.Advance(500ms);
        f.Flow.LineAnswered(1);
        f.Clock.Seconds(29);
        QCOMPARE(f.Flow.Charge().Seconds, 60);
        QCOMPARE(f.Flow.Charge().Minutes, 2);
        QCOMPARE(f.Flow.Charge().Cost, Units(300));
        QCOMPARE(f.Clock.Starts, 1);
    }

    // Without a rate the call is not priced at zero. The rate is asked for
    // again with a growing pause (5 s, 10 s, then 20 s at most, each after a
    // 2 s wait), after the call's end too, and when it comes the ended call
    // is priced from its first second.
    void rateAskedUntilItComesEvenAfterTheEnd() {
        TFixture f;
        QSignalSpy charged(&f.Flow, &TBoothCallFlow::Charged);
        QSignalSpy pricedLate(&f.Flow, &TBoothCallFlow::PricedAfterEnd);
        f.Flow.Place(QStringLiteral("5491155550000"));
        f.Rates.Fail(0);
        f.Flow.LineAnswered(1);
        f.Clock.Seconds(3);
        QVERIFY(!f.Flow.Charge().Cost);
        QCOMPARE(f.Rates.Asked.size(), 1);
        f.Clock.Seconds(67);  // requests at 0, 5, 17, 39 and 61 s
        QCOMPARE(f.Rates.Asked.size(), 5);
        QVERIFY(!f.Flow.Charge().Cost);
        f.Flow.LineEnded(1, 200, QString());
        QCOMPARE(f.Flow.Charge().Seconds, 70);
        f.Clock.Seconds(100);  // and at 83, 105, 127, 149 s
        QCOMPARE(f.Rates.Asked.size(), 9);
        QCOMPARE(pricedLate.count(), 0);
        f.Rates.Answer(3, QStringLiteral("Argentina"), 150);  // a late reply to an early request
        QCOMPARE(pricedLate.count(), 1);
        QCOMPARE(qvariant_cast<TCallCharge>(pricedLate.last().at(0)).Cost, Units(300));
        QCOMPARE(f.Flow.Charge().Seconds, 70);
        const int chargedBefore = static_cast<int>(charged.count());
        f.Clock.Seconds(600);
        QCOMPARE(f.Rates.Asked.size(), 9);  // priced: no more requests
        QCOMPARE(charged.count(), chargedBefore);
    }

    // The next call ends the asking for the last one; a call that was never
    // answered has nothing to price and is not asked for after its end.
    void askingStopsWhenNothingIsLeftToPrice() {
        TFixture f;
        f.Flow.Place(QStringLiteral("5491155550000"));
        f.Rates.Fail(0);
        f.Flow.LineEnded(1, 486, QStringLiteral("Busy Here"));
        f.Clock.Seconds(120);
        QCOMPARE(f.Rates.Asked.size(), 1);
        f.Flow.Place(QStringLiteral("5491155550000"));
        f.Flow.LineAnswered(2);
        f.Rates.Fail(1);
        f.Flow.LineEnded(2, 200, QString());
        f.Flow.Place(QStringLiteral("34911234567"));
        f.Rates.Answer(2, QStringLiteral("España"), 40);
        f.Clock.Seconds(120);
        QCOMPARE(f.Rates.Asked, (QStringList{"005491155550000", "005491155550000", "0034911234567"}));
        QCOMPARE(f.Flow.Rate(), Units(40));
    }

    void durationAfterAStall_data() {
        QTest::addColumn<int>("before");   // seconds talked before the window stalls
        QTest::addColumn<int>("stallMs");  // how long it stays busy
        QTest::addColumn<int>("after");    // seconds talked after it is free again
        QTest::addColumn<int>("seconds");
        QTest::addColumn<qint64>("cost");  // at 150 a minute
        QTest::newRow("no stall") << 59 << 0 << 0 << 59 << qint64(150);
        QTest::newRow("stall across the minute") << 57 << 3000 << 0 << 60 << qint64(300);
        QTest::newRow("stall, talk goes on") << 57 << 3000 << 5 << 65 << qint64(300);
        QTest::newRow("stall in the first second") << 0 << 3000 << 56 << 59 << qint64(150);
        QTest::newRow("stall of a part second") << 10 << 3500 << 46 << 59 << qint64(150);
        QTest::newRow("stall then the call ends") << 117 << 3000 << -1 << 120 << qint64(450);
    }
    // The duration comes from the monotonic clock, so ticks the busy window
    // never ran are made up; a call ending during the stall counts it too.
    void durationAfterAStall() {
        QFETCH(int, before);
        QFETCH(int, stallMs);
        QFETCH(int, after);
        QFETCH(int, seconds);
        QFETCH(qint64, cost);
        TFixture f;
        f.Flow.Place(QStringLiteral("5491155550000"));
        f.Rates.Answer(0, QStringLiteral("Argentina"), 150);
        f.Flow.LineAnswered(1);
        f.Clock.Seconds(before);
        f.Clock.Stall(std::chrono::milliseconds(stallMs));
        if (after >= 0) f.Clock.Seconds(after);
        f.Flow.LineEnded(1, 200, QString());
        QCOMPARE(f.Flow.Charge().Seconds, seconds);
        QCOMPARE(f.Flow.Charge().Cost, Units(cost));
    }

    // The line refuses the call: the flow is free again at once, says so,
    // and the next call goes out normally.
    void callRefusedByTheLine() {
        TFixture f;
        QSignalSpy ended(&f.Flow, &TBoothCallFlow::Ended);
        f.Line.Refuse = true;
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, f.Flow.Place(QStringLiteral("123")));
        QCOMPARE(f.Flow.Phase(), TBoothCallPhase::Idle);
        QCOMPARE(ended.count(), 1);
        QVERIFY(f.Flow.End().Refused);
        QCOMPARE(f.Flow.End().Reason, QStringLiteral("not active"));
        QVERIFY(f.Rates.Asked.isEmpty());
        f.Line.Refuse = false;
        f.Flow.Place(QStringLiteral("123"));
        QCOMPARE(f.Flow.Phase(), TBoothCallPhase::Ringing);
        QCOMPARE(f.Line.Dialled, QStringList{"123"});
    }

    // Events of calls that are not the flow's own, hang-ups with nothing
    // open, numbers that cannot be dialled.
    void strayEventsAndClicks() {
        TFixture f;
        f.Flow.HangUp();
        QVERIFY(f.Line.HungUp.empty());
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, f.Flow.Place(QString()));
        f.Flow.Place(QStringLiteral("5491155550000"));
        QVERIFY_THROWS_EXCEPTION(std::logic_error, f.Flow.Place(QStringLiteral("1234")));
        f.Flow.LineAnswered(7);
        f.Flow.LineEnded(7, 487, QString());
        QCOMPARE(f.Flow.Phase(), TBoothCallPhase::Ringing);
        QVERIFY(!f.Clock.Ticking());
        f.Flow.HangUp();
        QCOMPARE(f.Line.HungUp, std::vector<TLineCallId>{1});
        f.Flow.LineEnded(1, 487, QStringLiteral("Request Terminated"));
        f.Flow.LineEnded(1, 200, QString());  // a second end changes nothing
        QCOMPARE(f.Flow.End().Status, 487);
        f.Rates.Answer(0, QStringLiteral("Argentina"), 150);
        QVERIFY(!f.Flow.Rate());  // the call is over
    }

    // The far end's ringing is told once a call, for the flow's own call
    // only, and not once it answered; the next call may ring again.
    void farEndRingingOncePerCall() {
        TFixture f;
        QSignalSpy rang(&f.Flow, &TBoothCallFlow::FarEndRinging);
        f.Flow.LineRinging(1);
        QCOMPARE(rang.count(), 0);  // nothing placed yet
        f.Flow.Place(QStringLiteral("5491155550000"));
        f.Flow.LineRinging(7);
        QCOMPARE(rang.count(), 0);
        f.Flow.LineRinging(1);
        f.Flow.LineRinging(1);
        QCOMPARE(rang.count(), 1);
        f.Flow.LineAnswered(1);
        f.Flow.LineRinging(1);
        QCOMPARE(rang.count(), 1);
        f.Flow.LineEnded(1, 200, QString());
        f.Flow.Place(QStringLiteral("1234"));
        f.Flow.LineRinging(2);
        QCOMPARE(rang.count(), 2);
    }

    void endText_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<QString>("text");
        QTest::newRow("busy") << 486 << false << "Ocupado (486)";
        QTest::newRow("busy everywhere") << 600 << false << "Ocupado (600)";
        QTest::newRow("no answer") << 480 << false << "No contesta (480)";
        QTest::newRow("timed out") << 408 << false << "No contesta (408)";
        QTest::newRow("not found") << 404 << false << "Número no válido (404)";
        QTest::newRow("incomplete") << 484 << false << "Número no válido (484)";
        QTest::newRow("server down") << 503 << false << "Sin respuesta del servidor (503)";
        QTest::newRow("no final answer") << 0 << false << "Sin respuesta del servidor";
        QTest::newRow("forbidden") << 403 << false << "Rechazada por el proveedor (403)";
        QTest::newRow("payment") << 402 << false << "Rechazada por el proveedor (402)";
        QTest::newRow("declined") << 603 << false << "Rechazada por el proveedor (603)";
        QTest::newRow("cancelled") << 487 << false << "Llamada cancelada (487)";
        QTest::newRow("talked") << 200 << true << "Llamada finalizada";
    }
    // Each status reaches the flow's end as the line gave it and reads as
    // the operator is told.
    void endText() {
        QFETCH(int, status);
        QFETCH(bool, answered);
        QFETCH(QString, text);
        TFixture f;
        f.Flow.Place(QStringLiteral("5491155550000"));
        if (answered) f.Flow.LineAnswered(1);
        f.Flow.LineEnded(1, status, QString());
        QCOMPARE(f.Flow.End().Status, status);
        QCOMPARE(f.Flow.End().Answered, answered);
        QCOMPARE(CallEndText(f.Flow.End()), text);
    }
};
BOOTH_TEST_CLASS(BoothCallFlow);

#include "booth_call_flow_test.moc"
