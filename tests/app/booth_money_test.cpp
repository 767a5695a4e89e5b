// The booth's money driven as a shop owner would, against portal-sim and
// Kamailio on 127.0.0.1:5060 (account alice/alicepw): a portal that prices
// a call late, never or with garbage, unpaid calls charged by the operator,
// and the credit guard's cut kept on screen, in the journal and the close.
#include <chrono>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "app/booth/booth_texts.h"
#include "app/guards/call_guards.h"
#include "app/money/money.h"
#include "app/till/call_journal.h"
#include "app/till/call_recorder.h"
#include "app/till/cash_close.h"
#include "app/till/journal_db.h"
#include "app/ui/till.h"
#include "tests/app/booth_test_support.h"
#include "tests/app/kamailio_process.h"
#include "tests/app/modal_driver.h"
#include "tests/app/portal_sim.h"
#include "tests/app/sipp_peer.h"
#include "tests/app/test_registry.h"

namespace {

using namespace std::chrono_literals;

constexpr int kSipMs = 15000;

QStringList AliceConfig(const QString& balance = QStringLiteral("100000000")) {
    return {QStringLiteral("account|alice|alicepw|Alice|%1").arg(balance),
            QStringLiteral("rate|5411|%1|150").arg(SimField("Argentina Buenos Aires"))};
}

QString Text(QObject* window, const char* label) { return Find<QLabel>(window, label)->text(); }

QString Currency(qint64 units) { return FormatCurrency(MoneyFromUnits(units), MoneyLocale(QLocale())); }

bool ShowsOnline(QObject* window) {
    return Text(window, "connectionPanel") == QString::fromUtf8(kOnlineText) &&
           Find<QAction>(window, "onlineAction")->isChecked();
}

int RateRequests(const TPortalSim& sim) {
    int count = 0;
    for (const QString& target : sim.Targets()) count += target.contains(u"&ac=de&") ? 1 : 0;
    return count;
}

// The checkout dialog answered with the exact amount and no receipt.
TModalAnswer PayExactly(qint64 units) {
    return TModalAnswer::Acted([units](QWidget* checkout) {
        Find<QLineEdit>(checkout, "receivedField")->setText(QString::number(units));
        Find<QCheckBox>(checkout, "printReceipt")->setChecked(false);
        Find<QPushButton>(checkout, "chargeButton")->click();
    });
}

std::optional<TJournalCall> JournalCall(std::int64_t id) {
    TJournalDb reader(TJournalDb::DefaultFileName(), TJournalAccess::Reader);
    return TCallJournal(reader).Call(id);
}

// An ended unpaid call at 150 a minute, written before the window opens.
std::int64_t EarlierUnpaidCall(TCallJournal& journal, const QDateTime& at) {
    const std::int64_t id = journal.Placed(at, QStringLiteral("5411"), QStringLiteral("005411"));
    journal.Rated(id, QStringLiteral("Argentina"), MoneyFromUnits(150));
    journal.Answered(id, at);
    journal.Ended(id, at.addSecs(30), {30, 1, MoneyFromUnits(150), MoneyFromUnits(150)}, 200, QStringLiteral("BYE"));
    return id;
}

}  // namespace

class BoothMoney : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        UseBoothTestLocale();
        qputenv("SOFTPHONE_MIC", "null");
        qputenv("SOFTPHONE_SPEAKER", "null");
    }
    void init() {
        ClearBoothSettings();
        QFile::remove(TJournalDb::DefaultFileName());
        TBoothSettings().WriteAccount({"alice", "alicepw", QString(), QString()});
        TBoothSettings().WriteAdminPin(QStringLiteral("4321"));
    }

    void unpricedCallIsNeverFree_data() {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<QString>("rateReply");  // a fixed body for the rate request
        QTest::addColumn<qint64>("fallback");    // the administrator's rate, 0 for none
        QTest::addColumn<QString>("typed");      // the rate typed at checkout, empty: none asked
        QTest::addColumn<qint64>("price");
        QTest::addColumn<int>("origin");
        QTest::newRow("late") << QStringList{"--delay", "7000"} << QString() << qint64(0) << QString() << qint64(150)
                              << int(TRateOrigin::Portal);
        QTest::newRow("never, typed") << QStringList{"--hang-action", "de"} << QString() << qint64(120)
                                      << QStringLiteral("200") << qint64(200) << int(TRateOrigin::Operator);
        QTest::newRow("garbage, fallback") << QStringList{} << QStringLiteral("<html>Error 500</html>")
                                           << qint64(120) << QStringLiteral("120") << qint64(120)
                                           << int(TRateOrigin::Fallback);
    }
    // A short call whose rate comes after its end, never, or as garbage:
    // priced when the rate comes, else charged at the rate the operator
    // enters (or the fallback offered); "A cobrar" never says $ 0,00.
    void unpricedCallIsNeverFree() {
        QFETCH(QStringList, simOptions);
        QFETCH(QString, rateReply);
        QFETCH(qint64, fallback);
        QFETCH(QString, typed);
        QFETCH(qint64, price);
        QFETCH(int, origin);
        if (!TSippPeer::Installed()) QSKIP("SIPp is not installed");
        TKamailioProcess kamailio({QStringLiteral("NOPROXYAUTH")});
        if (!kamailio.Ready()) QSKIP("Kamailio is not installed or did not start");
        TBoothSettings().WriteShop({QString(), QString(), QString(), MoneyFromUnits(fallback)});
        QStringList config = AliceConfig();
        if (!rateReply.isEmpty()) config << QStringLiteral("reply|de|%1").arg(SimField(rateReply));
        TPortalSim sim(config, simOptions);
        TSippPeer peer(QStringLiteral("uas_answer_late.xml"));
        QList<TModalAnswer> answers;
        if (!typed.isEmpty()) answers << TModalAnswer::Typed(typed);
        answers << PayExactly(price);
        TModalDriver boxes(answers);
        auto window = MakeWindow(sim.BaseUrl(), QStringLiteral("127.0.0.1:5060"));
        QObject* w = window.get();
        window->CallFlow().SetRateRetries({400ms, 300ms, 1200ms});
        QVERIFY(StartAndWait(*window, 30000));
        QTRY_VERIFY_WITH_TIMEOUT(ShowsOnline(w), kSipMs);

        Find<QLineEdit>(w, "number")->setText(QStringLiteral("00541155551234@127.0.0.1:%1").arg(peer.Port()));
        Find<QPushButton>(w, "callButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(Text(w, "boothState"), QStringLiteral("Llamada en Curso"), kSipMs);
        QTRY_COMPARE_WITH_TIMEOUT(Text(w, "duration"), QStringLiteral("00:00:01"), 5000);
        QCOMPARE(Text(w, "ratePerMinute"), QString::fromUtf8(kRateUnavailableText));
        Find<QPushButton>(w, "hangUpButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(Text(w, "boothState"), QStringLiteral("Libre"), kSipMs);
        const std::int64_t id = *window->Recorder().LastCallId();
        if (typed.isEmpty()) {
            // The rate comes after the end and prices the call.
            QTRY_COMPARE_WITH_TIMEOUT(window->AmountToCharge(), Currency(price), 15000);
        } else {
            QCOMPARE(window->AmountToCharge(), QString::fromUtf8(kRateUnavailableText));
            const int asked = RateRequests(sim);
            QTRY_VERIFY_WITH_TIMEOUT(RateRequests(sim) > asked, 5000);  // still asking after the end
        }
        QTRY_VERIFY_WITH_TIMEOUT(Find<QPushButton>(w, "chargeCallButton")->isEnabled(), 15000);
        Find<QPushButton>(w, "chargeCallButton")->click();
        QCOMPARE(boxes.Unanswered(), 0);
        const TJournalCall call = *JournalCall(id);
        QCOMPARE(call.Figures.CustomerPrice, MoneyFromUnits(price));
        QCOMPARE(int(call.RateOrigin), origin);
        QVERIFY(call.IsPaid());
        QVERIFY(peer.Finish());
    }

    // Earlier unpaid calls, one cut by a crash and never priced, are charged
    // from the operator's list without the administrator's PIN; an unpaid
    // call has no receipt copy.
    void unpaidCallsChargedByTheOperator() {
        const QDateTime now = QDateTime::currentDateTime();
        std::int64_t crashed = 0;
        std::int64_t earlier = 0;
        {
            TJournalDb db(TJournalDb::DefaultFileName());
            TCallJournal journal(db);
            earlier = EarlierUnpaidCall(journal, now.addSecs(-600));
            crashed = journal.Placed(now.addSecs(-300), QStringLiteral("5412"), QStringLiteral("005412"));
            journal.Answered(crashed, now.addSecs(-298));
            journal.Progress(crashed, now.addSecs(-200), {98, 2, TMoney{}, TMoney{}});
        }
        TPortalSim sim(AliceConfig());
        TModalDriver boxes({TModalAnswer::Cancelled(), PayExactly(150), TModalAnswer::Typed("100"), PayExactly(200)});
        auto window = MakeWindow(sim.BaseUrl());
        QObject* w = window.get();
        QVERIFY(StartAndWait(*window));
        auto* list = Find<QListWidget>(w, "unpaidList");
        QCOMPARE(list->count(), 2);
        QVERIFY(list->item(1)->text().contains(QStringLiteral("(interrumpida)")));
        QVERIFY(list->item(1)->text().contains(QString::fromUtf8(kRateUnavailableText)));
        {
            TCallJournal journal(*window->Journal());
            TSellingRatesSource rates = [] { return TSellingRates{}; };
            TTill till(journal, TBoothSettings(), [] { return QDateTime::currentDateTime(); }, rates);
            till.Reprint(window.get(), earlier);  // answered by the first box: a message, no print dialog
        }
        QCOMPARE(boxes.Seen().size(), 1);
        QVERIFY(boxes.Seen().front().contains(QStringLiteral("no fue cobrada")));
        list->setCurrentRow(0);
        Find<QPushButton>(w, "chargeUnpaidButton")->click();
        QCOMPARE(list->count(), 1);
        list->setCurrentRow(0);
        Find<QPushButton>(w, "chargeUnpaidButton")->click();
        QCOMPARE(list->count(), 0);
        QCOMPARE(boxes.Unanswered(), 0);
        QCOMPARE(boxes.Seen().size(), 4);  // no PIN asked
        QVERIFY(JournalCall(earlier)->IsPaid());
        const TJournalCall interrupted = *JournalCall(crashed);
        QVERIFY(interrupted.IsPaid());
        QCOMPARE(interrupted.RateOrigin, TRateOrigin::Operator);
        QCOMPARE(interrupted.Figures.CustomerPrice, MoneyFromUnits(200));
    }

    // The balance pays for three seconds: the guard cuts the call, the cut
    // stays on screen after the end and the refresh, and the journal and
    // the close say the booth cut it. The call started with one unpaid.
    void guardCutIsKeptAndRecorded() {
        if (!TSippPeer::Installed()) QSKIP("SIPp is not installed");
        TKamailioProcess kamailio({QStringLiteral("NOPROXYAUTH")});
        if (!kamailio.Ready()) QSKIP("Kamailio is not installed or did not start");
        {
            TJournalDb db(TJournalDb::DefaultFileName());
            TCallJournal journal(db);
            EarlierUnpaidCall(journal, QDateTime::currentDateTime().addSecs(-600));
        }
        TPortalSim sim(AliceConfig(QStringLiteral("750000")));
        TSippPeer peer(QStringLiteral("uas_answer_late.xml"));
        TModalDriver boxes;
        auto window = MakeWindow(sim.BaseUrl(), QStringLiteral("127.0.0.1:5060"));
        QObject* w = window.get();
        QVERIFY(StartAndWait(*window));
        QTRY_VERIFY_WITH_TIMEOUT(ShowsOnline(w), kSipMs);
        QVERIFY(!Find<QLabel>(w, "unpaidWarning")->isVisible());
        window->show();
        Find<QLineEdit>(w, "number")->setText(QStringLiteral("00541155551234@127.0.0.1:%1").arg(peer.Port()));
        Find<QPushButton>(w, "callButton")->click();
        QVERIFY(Find<QLabel>(w, "unpaidWarning")->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(Text(w, "boothState"), QStringLiteral("Llamada en Curso"), kSipMs);
        QTRY_COMPARE_WITH_TIMEOUT(Text(w, "boothState"), QStringLiteral("Libre"), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(window->ReadyToCall(), kSipMs);
        QCOMPARE(Text(w, "textPanel"), QString::fromUtf8(kCreditHangUpText));
        const TJournalCall call = *JournalCall(*window->Recorder().LastCallId());
        QCOMPARE(call.CutReason, QStringLiteral("saldo agotado"));
        QCOMPARE(StateText(call), QStringLiteral("cortada: saldo agotado"));
        TJournalDb reader(TJournalDb::DefaultFileName(), TJournalAccess::Reader);
        const QDateTime day = QDateTime::currentDateTime().addDays(-1);
        QCOMPARE(JournalTotals(reader, day, day.addDays(2)).Cut, 1);
        QVERIFY(peer.Finish());
    }
};
BOOTH_TEST_CLASS(BoothMoney);

#include "booth_money_test.moc"
