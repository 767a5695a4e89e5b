// The credit guard on a driven clock: a call is ticked second by second and
// the events it raised are written "second:event" in order, so each row reads
// as the call's time line. Changes to the balance or the rate come at given
// seconds, as a portal refresh or a late rate answer would.
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include "app/guards/credit_guard.h"
#include "app/guards/guard_settings.h"
#include "tests/app/test_registry.h"

namespace {

const char* EventName(TCreditEvent event) {
    switch (event) {
        case TCreditEvent::OneMinuteLeft: return "minute";
        case TCreditEvent::TenSecondsLeft: return "ten";
        case TCreditEvent::HangUp: return "hangup";
        case TCreditEvent::RanOut: return "ranout";
        case TCreditEvent::None: break;
    }
    return "none";
}

// "120:balance=300;130:rate=0" -> the guard gets those values at those seconds.
void ApplyChanges(TCreditGuard& guard, const QString& changes, int second) {
    for (const QString& change : changes.split(u';', Qt::SkipEmptyParts)) {
        const QStringList atWhat = change.split(u':');
        if (atWhat.value(0).toInt() != second) continue;
        const QStringList nameValue = atWhat.value(1).split(u'=');
        const TMoney value = MoneyFromHundredths(nameValue.value(1).toLongLong());
        if (nameValue.value(0) == u"balance")
            guard.SetBalance(value);
        else
            guard.SetRate(value.TenThousandths ? std::optional(value) : std::nullopt);
    }
}

}  // namespace

class CreditGuard : public QObject {
    Q_OBJECT

private slots:
    void timeLine_data() {
        QTest::addColumn<int>("rate");      // hundredths per minute, 0 for none
        QTest::addColumn<int>("balance");   // hundredths
        QTest::addColumn<int>("increment");
        QTest::addColumn<bool>("hangUp");
        QTest::addColumn<QString>("changes");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QString>("events");
        QTest::newRow("five minutes") << 100 << 500 << 60 << true << "" << 400 << "240:minute 290:ten 299:hangup";
        QTest::newRow("balance not a whole minute") << 100 << 550 << 60 << true << "" << 400
                                                    << "240:minute 290:ten 299:hangup";
        QTest::newRow("expensive destination") << 15000 << 100000 << 60 << true << "" << 400
                                               << "300:minute 350:ten 359:hangup";
        QTest::newRow("warn only") << 100 << 500 << 60 << false << "" << 400 << "240:minute 290:ten 299:ranout";
        QTest::newRow("less than a minute at the answer") << 100 << 120 << 60 << true << "" << 100
                                                          << "1:minute 50:ten 59:hangup";
        QTest::newRow("less than ten seconds") << 100 << 20 << 10 << true << "" << 30 << "1:ten 9:hangup";
        QTest::newRow("not even the first minute") << 100 << 99 << 60 << true << "" << 30 << "1:hangup";
        QTest::newRow("debt at the answer") << 100 << -500 << 60 << true << "" << 30 << "1:hangup";
        QTest::newRow("six-second increments") << 60 << 100 << 6 << true << "" << 200
                                               << "36:minute 86:ten 95:hangup";
        QTest::newRow("increment price rounded up") << 100 << 70 << 7 << true << "" << 200
                                                    << "1:minute 25:ten 34:hangup";
        QTest::newRow("no rate") << 0 << 500 << 60 << true << "" << 900 << "";
        QTest::newRow("rate comes late") << 0 << 300 << 60 << true << "5:rate=100" << 400
                                         << "120:minute 170:ten 179:hangup";
        QTest::newRow("rate late, already due") << 0 << 100 << 60 << true << "30:rate=100" << 100
                                                << "30:minute 50:ten 59:hangup";
        QTest::newRow("top-up before the warning") << 100 << 300 << 60 << true << "60:balance=1000" << 700
                                                   << "540:minute 590:ten 599:hangup";
        QTest::newRow("top-up after the warnings") << 100 << 300 << 60 << true << "175:balance=600" << 400
                                                   << "120:minute 170:ten 300:minute 350:ten 359:hangup";
        QTest::newRow("same balance refreshed repeats nothing") << 100 << 300 << 60 << true
                                                              << "130:balance=300" << 400
                                                              << "120:minute 170:ten 179:hangup";
        QTest::newRow("balance spent elsewhere") << 100 << 1000 << 60 << true << "100:balance=200" << 400
                                                 << "100:minute 110:ten 119:hangup";
        QTest::newRow("rate dropped mid-call") << 100 << 300 << 60 << true << "100:rate=0" << 400 << "";
        QTest::newRow("skipped ticks report the most urgent") << 100 << 300 << 60 << true << "" << -1
                                                              << "175:ten 180:hangup";
    }
    void timeLine() {
        QFETCH(int, rate);
        QFETCH(int, balance);
        QFETCH(int, increment);
        QFETCH(bool, hangUp);
        QFETCH(QString, changes);
        QFETCH(int, seconds);
        QFETCH(QString, events);

        TCreditGuard guard({hangUp, increment});
        guard.SetBalance(MoneyFromHundredths(balance));
        if (rate) guard.SetRate(MoneyFromHundredths(rate));
        QStringList seen;
        // A negative length stands for a timer that stalled: only 175 and 180.
        const QList<int> ticks = seconds < 0 ? QList<int>{175, 180} : [seconds] {
            QList<int> all;
            for (int s = 1; s <= seconds; ++s) all << s;
            return all;
        }();
        for (const int second : ticks) {
            ApplyChanges(guard, changes, second);
            const TCreditEvent event = guard.Tick(second);
            if (event != TCreditEvent::None) seen << QStringLiteral("%1:%2").arg(second).arg(EventName(event));
        }
        QCOMPARE(seen.join(u' '), events);
    }

    void noRateIsNotGuarded() {
        TCreditGuard guard;
        guard.SetBalance(MoneyFromHundredths(500));
        QVERIFY(!guard.Guarding());
        guard.SetRate(MoneyFromHundredths(0));
        QVERIFY(!guard.Guarding());
        guard.SetRate(MoneyFromHundredths(100));
        QCOMPARE(guard.RunOutSecond(), std::optional<std::int64_t>(300));
        QVERIFY(!guard.Warning());
        guard.Tick(240);
        QVERIFY(guard.Warning());
        // A top-up that moves the run-out beyond a minute clears the red.
        guard.SetBalance(MoneyFromHundredths(1000));
        QVERIFY(!guard.Warning());
    }

    void lowBalance_data() {
        QTest::addColumn<int>("balance");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("minutes");
        QTest::addColumn<bool>("low");
        QTest::newRow("exactly ten minutes") << 1000 << 100 << 10 << false;
        QTest::newRow("a cent short") << 999 << 100 << 10 << true;
        QTest::newRow("no rate yet") << 1 << 0 << 10 << false;
        QTest::newRow("check off") << 1 << 100 << 0 << false;
        QTest::newRow("in debt") << -100 << 100 << 10 << true;
    }
    void lowBalance() {
        QFETCH(int, balance);
        QFETCH(int, rate);
        QFETCH(int, minutes);
        QFETCH(bool, low);
        const std::optional<TMoney> lastRate =
            rate ? std::optional(MoneyFromHundredths(rate)) : std::nullopt;
        QCOMPARE(IsLowBalance(MoneyFromHundredths(balance), lastRate, minutes), low);
    }

    // Values as a hand-edited file may hold them; a bad one reads as its
    // default ("=" the default, else the value read).
    void settingsFromTheFile_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("read");
        QTest::newRow("warn only") << "Credit/hangupatzero" << "false" << "hangup=0";
        QTest::newRow("not a truth value") << "Credit/hangupatzero" << "quizás" << "hangup=1";
        QTest::newRow("six-second billing") << "Credit/billingincrement" << "6" << "increment=6";
        QTest::newRow("zero increment") << "Credit/billingincrement" << "0" << "increment=60";
        QTest::newRow("low balance off") << "Credit/lowbalanceminutes" << "0" << "low=0";
        QTest::newRow("negative minutes") << "Credit/lowbalanceminutes" << "-5" << "low=10";
        QTest::newRow("balance refresh 30 s") << "Credit/balancerefreshseconds" << "30" << "refresh=30";
        QTest::newRow("balance refresh off") << "Credit/balancerefreshseconds" << "0" << "refresh=0";
        QTest::newRow("balance refresh too often") << "Credit/balancerefreshseconds" << "2" << "refresh=15";
        QTest::newRow("balance refresh in words") << "Credit/balancerefreshseconds" << "uno" << "refresh=60";
        QTest::newRow("watch 6 s") << "AnswerSupervision/watchms" << "6000" << "watch=6000";
        QTest::newRow("watch in words") << "AnswerSupervision/watchms" << "diez" << "watch=10000";
        QTest::newRow("silence level") << "AnswerSupervision/silencedbfs" << "-50.5" << "silence=-50.5";
        QTest::newRow("positive dBFS") << "AnswerSupervision/silencedbfs" << "3" << "silence=-45";
        QTest::newRow("ringback time") << "AnswerSupervision/tonems" << "2500" << "tone=2500";
        QTest::newRow("no ringback time") << "AnswerSupervision/tonems" << "0" << "tone=1500";
    }
    void settingsFromTheFile() {
        QFETCH(QString, key);
        QFETCH(QString, text);
        QFETCH(QString, read);
        QTemporaryDir dir;
        QSettings file(dir.filePath(QStringLiteral("booth.conf")), QSettings::IniFormat);
        file.setValue(key, text);
        const TGuardSettings values = ReadGuardSettings(file);
        const QString all = QStringLiteral("hangup=%1 increment=%2 low=%3 watch=%4 silence=%5 tone=%6 refresh=%7")
                                .arg(int(values.Credit.HangUpAtZero))
                                .arg(values.Credit.BillingIncrement)
                                .arg(values.LowBalanceMinutes)
                                .arg(values.Answer.WatchMs)
                                .arg(values.Answer.SilenceDbfs)
                                .arg(values.Answer.ToneMs)
                                .arg(values.BalanceRefreshSeconds);
        QVERIFY2(all.split(u' ').contains(read), qPrintable(all));
        // What is written reads back the same.
        WriteGuardSettings(file, values);
        const TGuardSettings again = ReadGuardSettings(file);
        QCOMPARE(again.Answer.SilenceDbfs, values.Answer.SilenceDbfs);
        QCOMPARE(again.Credit.HangUpAtZero, values.Credit.HangUpAtZero);
        QCOMPARE(again.LowBalanceMinutes, values.LowBalanceMinutes);
        QCOMPARE(again.BalanceRefreshSeconds, values.BalanceRefreshSeconds);
    }
};
BOOTH_TEST_CLASS(CreditGuard);

#include "credit_guard_test.moc"
