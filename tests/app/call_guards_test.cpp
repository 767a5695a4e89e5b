// The booth's call guards without widgets or network: a call object of the
// media layer (its received-frame tap driven by the test), a recording
// sound player and a driven clock. Each case reads as the call's time line
// of what the window would show and do.
#include <QSignalSpy>
#include <QStringList>
#include <QTest>

#include "app/guards/call_guards.h"
#include "media/call.h"
#include "tests/app/test_registry.h"

namespace {

struct TRun {
    QStringList Events;  // "second:what"
    std::vector<std::string> Played;
};

// Connects every signal of the guards to one time line.
void Record(TCallGuards& guards, TRun& run, const std::int64_t& second) {
    QObject::connect(&guards, &TCallGuards::StatusText, [&](const QString& text) {
        run.Events << QStringLiteral("%1:%2").arg(second).arg(text.section(u' ', 0, 1));
    });
    QObject::connect(&guards, &TCallGuards::CostWarningChanged, [&](bool red) {
        run.Events << QStringLiteral("%1:%2").arg(second).arg(red ? "red" : "black");
    });
    QObject::connect(&guards, &TCallGuards::HangUpRequested,
                     [&] { run.Events << QStringLiteral("%1:hangup").arg(second); });
    QObject::connect(&guards, &TCallGuards::AnswerFlagged,
                     [&](const QString& text) { run.Events << QStringLiteral("%1:%2").arg(second).arg(text); });
}

}  // namespace

class CallGuards : public QObject {
    Q_OBJECT

private slots:
    void creditTimeLine_data() {
        QTest::addColumn<bool>("hangUp");
        QTest::addColumn<int>("rate");  // hundredths, 0 for none at the answer
        QTest::addColumn<int>("rateAt");
        QTest::addColumn<int>("topUpAt");
        QTest::addColumn<QString>("events");
        QTest::addColumn<bool>("balanceKnown");  // false: the portal never gave one
        QTest::newRow("warn and hang up")
            << true << 100 << 0 << 0 << "120:Queda 1 120:red 170:Quedan 10 179:Saldo agotado: 179:hangup 201:black" << true;
        QTest::newRow("warn only") << false << 100 << 0 << 0
                                   << "120:Queda 1 120:red 170:Quedan 10 179:Saldo agotado: 201:black" << true;
        QTest::newRow("no rate") << true << 0 << 0 << 0 << "0:Sin tarifa:" << true;
        QTest::newRow("rate after ninety seconds") << true << 0 << 90 << 0
                                                   << "0:Sin tarifa: 90: 120:Queda 1 120:red 170:Quedan 10 "
                                                      "179:Saldo agotado: 179:hangup 201:black" << true;
        QTest::newRow("top-up clears the red") << true << 100 << 0 << 150
                                               << "120:Queda 1 120:red 150:black" << true;
        QTest::newRow("portal down at start-up") << true << 100 << 0 << 0 << "0:Saldo desconocido:" << false;
        QTest::newRow("balance after a portal outage") << true << 100 << 0 << 30
                                                       << "0:Saldo desconocido: 120:Queda 1 120:red 170:Quedan 10 "
                                                          "179:Saldo agotado: 179:hangup 201:black"
                                                       << false;
    }
    void creditTimeLine() {
        QFETCH(bool, hangUp);
        QFETCH(int, rate);
        QFETCH(int, rateAt);
        QFETCH(int, topUpAt);
        QFETCH(QString, events);
        QFETCH(bool, balanceKnown);
        TGuardSettings settings;
        settings.Credit.HangUpAtZero = hangUp;
        settings.Answer.WatchMs = 0;  // the far end is not judged here
        TRun run;
        std::int64_t second = 0;
        TCallGuards guards(settings, [&](const ISipCallPtr&, const std::string& file) { run.Played.push_back(file); });
        Record(guards, run, second);
        const ISipCallPtr call = TCall::Create(TCallSettings{});
        const auto money = [](int hundredths) { return MoneyFromHundredths(hundredths); };
        if (balanceKnown) guards.BalanceRefreshed(money(300));
        guards.CallAnswered(call, rate ? std::optional(money(rate)) : std::nullopt);
        for (second = 1; second <= 200; ++second) {
            if (second == rateAt) guards.RateKnown(money(100));
            if (second == topUpAt) guards.BalanceRefreshed(money(balanceKnown ? 600 : 300));
            guards.Tick(second);
            if (second == topUpAt && balanceKnown) break;
        }
        guards.CallEnded();  // the red goes with the call
        QCOMPARE(run.Events.join(u' '), events);
        // A tone for each warning: two beeps, then three.
        const bool warned = events.contains(u"Quedan");
        QCOMPARE(run.Played.size(), size_t(warned ? 2 : events.contains(u"Queda") ? 1 : 0));
        if (warned) {
            QCOMPARE(run.Played[0], guards.ToneFile(2));
            QCOMPARE(run.Played[1], guards.ToneFile(3));
            QVERIFY(QFile::exists(QString::fromStdString(run.Played[1])));
        }
    }

    void lowBalanceAfterARefresh() {
        TRun run;
        std::int64_t second = 0;
        TCallGuards guards(TGuardSettings{}, {});
        Record(guards, run, second);
        guards.BalanceRefreshed(MoneyFromHundredths(500));  // no rate known yet
        guards.RateKnown(MoneyFromHundredths(100));
        guards.BalanceRefreshed(MoneyFromHundredths(1000));
        second = 1;
        guards.BalanceRefreshed(MoneyFromHundredths(999));
        QCOMPARE(run.Events, QStringList{QStringLiteral("1:Saldo bajo:")});
    }

    // The far end sends nothing after the answer: flagged once, at the
    // dead-line time of the clock, and nothing after the call has ended.
    void deadLineFlaggedOnce() {
        TGuardSettings settings;
        auto now = std::chrono::steady_clock::time_point{};
        TRun run;
        std::int64_t second = 0;
        TCallGuards guards(settings, {}, nullptr, [&] { return now; });
        Record(guards, run, second);
        const ISipCallPtr call = TCall::Create(TCallSettings{});
        guards.BalanceRefreshed(MoneyFromHundredths(100000));
        guards.CallAnswered(call, MoneyFromHundredths(100));
        for (second = 1; second <= 12; ++second) {
            now += std::chrono::seconds(1);
            guards.Tick(second);
        }
        guards.CallEnded();
        QCOMPARE(run.Events, QStringList{QStringLiteral("5:sin audio del destino")});
        QCOMPARE(guards.AnswerFlags(), QStringList{QStringLiteral("sin audio del destino")});
    }

    // Ringback frames through the call's own tap: the flag comes queued from
    // the media side and is shown once.
    void ringbackThroughTheCallsTap() {
        auto now = std::chrono::steady_clock::time_point{};
        TRun run;
        std::int64_t second = 0;
        TCallGuards guards(TGuardSettings{}, {}, nullptr, [&] { return now; });
        Record(guards, run, second);
        const ISipCallPtr call = TCall::Create(TCallSettings{});
        guards.BalanceRefreshed(MoneyFromHundredths(100000));
        guards.CallAnswered(call, MoneyFromHundredths(100));
        int16_t frame[160];
        for (int ms = 20; ms <= 4000; ms += 20) {
            now += std::chrono::milliseconds(20);
            for (int n = 0; n < 160; ++n)
                frame[n] = static_cast<int16_t>(8000 * std::sin(2 * 3.14159265358979 * 425 * (ms * 8 + n) / 8000.0));
            call->TapReceivedFrame(frame);
        }
        second = 4;
        QTRY_COMPARE_WITH_TIMEOUT(run.Events, QStringList{QStringLiteral("4:posible falsa atención")}, 30000);
        guards.CallEnded();

        // A flag still queued from the media side when the next call is
        // answered belongs to the old call and is never shown.
        run.Events.clear();
        const ISipCallPtr next = TCall::Create(TCallSettings{});
        guards.CallAnswered(next, MoneyFromHundredths(100));
        const ISipCallPtr later = TCall::Create(TCallSettings{});
        for (int ms = 20; ms <= 2000; ms += 20) {
            now += std::chrono::milliseconds(20);
            for (int n = 0; n < 160; ++n)
                frame[n] = static_cast<int16_t>(8000 * std::sin(2 * 3.14159265358979 * 425 * (ms * 8 + n) / 8000.0));
            next->TapReceivedFrame(frame);
        }
        guards.CallEnded();
        guards.CallAnswered(later, MoneyFromHundredths(100));
        QTest::qWait(50);
        QCOMPARE(run.Events, QStringList{});
        QCOMPARE(guards.AnswerFlags(), QStringList{});
        guards.CallEnded();
    }
};
BOOTH_TEST_CLASS(CallGuards);

#include "call_guards_test.moc"
