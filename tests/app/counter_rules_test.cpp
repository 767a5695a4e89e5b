// The counter's plain rules: the board's words for a booth at a given
// moment, the session's gate and limit, and the shop close's arithmetic.
#include <QStringList>
#include <QTest>

#include "app/counter/booth_board.h"
#include "app/counter/booth_session.h"
#include "app/counter/shop_close.h"
#include "app/till/selling_price.h"
#include "tests/app/test_registry.h"

namespace {

const QDateTime kNow = QDateTime(QDate(2026, 5, 4), QTime(15, 30, 0));

TMoney Cents(std::int64_t hundredths) { return MoneyFromHundredths(hundredths); }

TJournalCall EndedCall(std::int64_t id, std::int64_t priceCents, bool paid) {
    TJournalCall call;
    call.Id = id;
    call.Started = kNow.addSecs(-600);
    call.Number = QStringLiteral("0054911%1").arg(id);
    call.DialString = call.Number;
    call.State = TJournalState::Ended;
    call.Answered = call.Started.addSecs(5);
    call.Figures.Seconds = 65;
    call.Figures.CustomerPrice = Cents(priceCents);
    if (paid) call.PaidAt = kNow;
    return call;
}

}  // namespace

class CounterRules : public QObject {
    Q_OBJECT

private slots:
    void boardState_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("silentFor");  // seconds since the heartbeat; -1: never heard
        QTest::addColumn<int>("answeredAgo");  // -1: not answered
        QTest::addColumn<bool>("session");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("running");
        QTest::newRow("free") << "Libre" << 2 << -1 << true << "Libre" << 0;
        QTest::newRow("nothing written yet") << "" << 2 << -1 << true << "Libre" << 0;
        QTest::newRow("idle without a session") << "Libre" << 2 << -1 << false << "Cerrada" << 0;
        QTest::newRow("a call outlives its session") << "En curso" << 2 << 10 << false << "En curso" << 10;
        QTest::newRow("ringing has no duration") << "Timbrando" << 1 << -1 << true << "Timbrando" << 0;
        QTest::newRow("in call ticks from the answer") << "En curso" << 3 << 75 << true << "En curso" << 75;
        QTest::newRow("just under the silence") << "En curso" << 14 << 20 << true << "En curso" << 20;
        QTest::newRow("silent since 15:29:45") << "En curso" << 15 << 20 << true << "Sin conexión desde 15:29" << 20;
        QTest::newRow("never heard") << "" << -1 << -1 << true << "Sin conexión desde --:--" << 0;
        QTest::newRow("ended call keeps no duration") << "Libre" << 1 << 75 << true << "Libre" << 0;
        QTest::newRow("closed") << "Cerrada" << 1 << -1 << false << "Cerrada" << 0;
    }
    void boardState() {
        QFETCH(QString, state);
        QFETCH(int, silentFor);
        QFETCH(int, answeredAgo);
        QFETCH(bool, session);
        QFETCH(QString, shown);
        QFETCH(int, running);
        TBoothRow row;
        row.Name = QStringLiteral("Cabina 1");
        row.State = state;
        if (silentFor >= 0) row.LastSeen = kNow.addSecs(-silentFor);
        if (answeredAgo >= 0) row.Answered = kNow.addSecs(-answeredAgo);
        if (session) row.SessionId = 3;
        QCOMPARE(BoardStateText(row, kNow), shown);
        QCOMPARE(RunningSeconds(row, kNow), running);
    }

    void dialGate_data() {
        QTest::addColumn<bool>("shop");
        QTest::addColumn<bool>("open");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("alone, no session") << false << false << "";
        QTest::newRow("shop, closed") << true << false << "Cabina cerrada: pase por el mostrador";
        QTest::newRow("shop, open") << true << true << "";
    }
    void dialGate() {
        QFETCH(bool, shop);
        QFETCH(bool, open);
        QFETCH(QString, refusal);
        TBoothSession session;
        if (open) session.Id = 7;
        QCOMPARE(DialRefusal(shop, session), refusal);
    }

    // The limit's time line at 100.00 a minute sold by the minute: events as
    // "second:event", the first tick being the answer (second 0).
    void sessionLimit_data() {
        QTest::addColumn<int>("remainingCents");
        QTest::addColumn<int>("increment");
        QTest::addColumn<int>("minimumCents");
        QTest::addColumn<QString>("events");
        QTest::newRow("three minutes left") << 30000 << 60 << 0 << "120:minute 179:hangup";
        QTest::newRow("one minute left warns at once") << 10000 << 60 << 0 << "0:minute 59:hangup";
        QTest::newRow("less than the first minute") << 9999 << 60 << 0 << "0:hangup";
        QTest::newRow("by 6 seconds") << 1500 << 6 << 0 << "0:minute 5:hangup";
        QTest::newRow("minimum above what is left") << 20000 << 60 << 25000 << "0:hangup";
    }
    void sessionLimit() {
        QFETCH(int, remainingCents);
        QFETCH(int, increment);
        QFETCH(int, minimumCents);
        QFETCH(QString, events);
        TSellingRates rates;
        rates.IncrementSeconds = increment;
        rates.Minimum = Cents(minimumCents);
        const QString number = QStringLiteral("5491100000000");
        TSessionLimit limit(Cents(remainingCents), [&](int seconds) {
            return CustomerPrice(rates, number, Cents(10000), seconds);
        });
        QStringList seen;
        for (int second = 0; second < 400; ++second) {
            const TCreditEvent event = limit.Tick(second);
            if (event == TCreditEvent::OneMinuteLeft) seen << QStringLiteral("%1:minute").arg(second);
            if (event == TCreditEvent::HangUp) seen << QStringLiteral("%1:hangup").arg(second);
        }
        QCOMPARE(seen.join(u' '), events);
    }

    void sessionRemaining_data() {
        QTest::addColumn<int>("limitCents");  // -1: no limit
        QTest::addColumn<int>("spentCents");
        QTest::addColumn<int>("remainingCents");  // -1: none
        QTest::newRow("no limit") << -1 << 5000 << -1;
        QTest::newRow("half spent") << 10000 << 5000 << 5000;
        QTest::newRow("overspent reads as nothing left") << 10000 << 12000 << 0;
    }
    void sessionRemaining() {
        QFETCH(int, limitCents);
        QFETCH(int, spentCents);
        QFETCH(int, remainingCents);
        TBoothSession session;
        session.Id = 1;
        if (limitCents >= 0) session.Limit = Cents(limitCents);
        const std::optional<TMoney> remaining = SessionRemaining(session, Cents(spentCents));
        QCOMPARE(remaining.has_value(), remainingCents >= 0);
        if (remaining) QCOMPARE(remaining->TenThousandths, Cents(remainingCents).TenThousandths);
    }

    // The shop's totals are the booths' summed; the drawer expects the
    // opening cash plus what every operator charged, wherever.
    void shopCloseSumsBoothsAndOperators() {
        TCloseTotals one = CloseTotals({EndedCall(1, 1500, true), EndedCall(2, 700, false)});
        TCloseTotals two = CloseTotals({EndedCall(1, 2000, true)});
        const TShopClose close = MakeShopClose(
            {{QStringLiteral("Cabina 2"), two}, {QStringLiteral("Cabina 1"), one}},
            {{QStringLiteral("Marta"), 1, Cents(1500), Cents(2000)}, {QString(), 1, Cents(2000), Cents(2000)}},
            Cents(10000));
        QCOMPARE(close.PerBooth.front().Booth, QStringLiteral("Cabina 1"));
        QCOMPARE(close.All.Calls, 3);
        QCOMPARE(close.All.Takings, Cents(3500));
        QCOMPARE(close.All.Unpaid, 1);
        QCOMPARE(close.All.UnpaidAmount, Cents(700));
        QCOMPARE(close.Expected, Cents(13500));
        QCOMPARE(CashDifference(close, Cents(13000)), Cents(-500));
    }

    void shopCsvPutsTheBoothInFront() {
        TJournalCall call = EndedCall(4, 1234, true);
        call.Destination = QStringLiteral("Argentina; móviles");
        const QString csv = ShopCloseCsv({{QStringLiteral("Cabina \"A\""), call, QStringLiteral("Marta")}});
        const QStringList lines = csv.split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 3);  // header, the call, the empty end
        QVERIFY(lines[0].startsWith(QStringLiteral("Cabina;Fecha y hora;")));
        QVERIFY(lines[0].endsWith(QStringLiteral(";Cobrada por")));
        QVERIFY2(lines[1].startsWith(QStringLiteral("\"Cabina \"\"A\"\"\";")), qPrintable(lines[1]));
        QVERIFY(lines[1].contains(QStringLiteral("\"Argentina; móviles\"")));
        QVERIFY(lines[1].contains(QStringLiteral(";12,34;")));
        QVERIFY(lines[1].endsWith(QStringLiteral(";sí;;Marta")));
    }
};

BOOTH_TEST_CLASS(CounterRules);

#include "counter_rules_test.moc"
