// The booth window in a shop: it dials only while the counter has it open,
// and a session's limit cuts the call like the credit guard does. Kamailio
// on 127.0.0.1:5060 (alice/alicepw), a SIPp peer that answers, the portal
// simulator pricing at 150.00 a minute, and a real PostgreSQL as the shop's
// database. The call timer is driven by the test.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <memory>

#include "app/booth/call_clock.h"
#include "app/till/call_journal.h"
#include "app/counter/booth_session.h"
#include "app/counter/counter_db.h"
#include "app/till/journal_db.h"
#include "app/shop/shop_address.h"
#include "tests/app/booth_test_support.h"
#include "tests/app/kamailio_process.h"
#include "tests/app/portal_sim.h"
#include "tests/app/shop_fixture.h"
#include "tests/app/sipp_peer.h"
#include "tests/app/test_registry.h"

namespace {

constexpr int kSipMs = 30000;  // a bound only a fault reaches
const QString kBooth = QStringLiteral("Cabina 1");

QString Text(QObject* window, const char* label) { return Find<QLabel>(window, label)->text(); }

void Tick(QObject* window) {
    auto* clock = window->findChild<TQtCallClock*>();
    QVERIFY(clock);
    const std::chrono::milliseconds now = clock->Now() + std::chrono::seconds(1);
    clock->SetTimeSource([now] { return now; });
    QVERIFY(QMetaObject::invokeMethod(Find<QTimer>(window, "callTimer"), "timeout"));
}

void TickUntil(QObject* window, const QString& shown) {
    for (int i = 0; i < 130 && Text(window, "duration") != shown; ++i) Tick(window);
    QCOMPARE(Text(window, "duration"), shown);
}

bool CallButtonEnabled(QObject* window) { return Find<QPushButton>(window, "callButton")->isEnabled(); }

}  // namespace

class BoothSessionWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        UseBoothTestLocale();
        if (!TSippPeer::Installed()) QSKIP("SIPp is not installed");
        qputenv("SOFTPHONE_MIC", "null");
        qputenv("SOFTPHONE_SPEAKER", "null");
        Kamailio_ = std::make_unique<TKamailioProcess>(QStringList{QStringLiteral("NOPROXYAUTH")});
        if (!Kamailio_->Ready()) QSKIP("Kamailio is not installed or did not start");
        try {
            Shop_ = std::make_unique<TShopFixture>(QStringList{kBooth});
        } catch (const std::exception& error) {
            QFAIL(error.what());
        }
    }
    void cleanupTestCase() {
        Shop_.reset();
        Kamailio_.reset();
    }

    void closedBoothDialsOnlyInASessionWithinItsLimit() {
        ClearBoothSettings();
        TBoothSettings booth;
        booth.WriteAccount({"alice", "alicepw", QString(), QString()});
        TShopSettings shop = booth.ReadShop();
        shop.Booth = kBooth;
        booth.WriteShop(shop);
        {
            QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QString::fromUtf8(kSettingsOrganization));
            settings.setValue(QStringLiteral("Shop/database"), Shop_->BoothUrl(kBooth));
        }
        TPortalSim sim({QStringLiteral("account|alice|alicepw|Alice|100000000"),
                        QStringLiteral("rate|5411|%1|150").arg(SimField("Argentina Buenos Aires"))});
        TSippPeer peer(QStringLiteral("uas_answer_late.xml"));
        auto window = MakeWindow(sim.BaseUrl(), QStringLiteral("127.0.0.1:5060"));
        QObject* w = window.get();
        window->Start();
        QTRY_COMPARE_WITH_TIMEOUT(Text(w, "connectionPanel"), QString::fromUtf8("En Línea"), kSipMs);
        Find<QLineEdit>(w, "number")->setText(QStringLiteral("00541155551234@127.0.0.1:%1").arg(peer.Port()));
        // Closed: on line, a number typed, and still no "&Llamar".
        QCOMPARE(Text(w, "boothState"), QStringLiteral("Cerrada"));
        QCOMPARE(Text(w, "textPanel"), QString::fromUtf8(kBoothClosedText));
        QVERIFY(!CallButtonEnabled(w));
        QVERIFY(!window->ReadyToCall());

        // Opened at the counter with a limit of two minutes at this rate.
        TCounterDb counter(Shop_->CounterUrl(), QStringLiteral("Marta"));
        counter.OpenSession(kBooth, MoneyFromUnits(300));
        QTRY_VERIFY_WITH_TIMEOUT(CallButtonEnabled(w), kSipMs);
        QCOMPARE(Text(w, "boothState"), QStringLiteral("Libre"));
        Find<QPushButton>(w, "callButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(Text(w, "boothState"), QStringLiteral("Llamada en Curso"), kSipMs);
        QTRY_VERIFY_WITH_TIMEOUT(Text(w, "ratePerMinute") != QStringLiteral("$ 0,00"), kSipMs);
        Find<QTimer>(w, "callTimer")->stop();
        TickUntil(w, QStringLiteral("00:01:00"));
        QCOMPARE(Text(w, "textPanel"), QString::fromUtf8(kSessionMinuteLeftText));
        TickUntil(w, QStringLiteral("00:01:58"));
        QCOMPARE(Text(w, "boothState"), QStringLiteral("Llamada en Curso"));
        Tick(w);
        QTRY_COMPARE_WITH_TIMEOUT(Text(w, "boothState"), QStringLiteral("Libre"), kSipMs);
        QTRY_COMPARE_WITH_TIMEOUT(Text(w, "textPanel"), QString::fromUtf8(kSessionLimitCutText), kSipMs);
        QVERIFY(peer.Finish());
        {
            TJournalDb journal(TJournalDb::DefaultFileName(), TJournalAccess::Reader);
            const std::vector<TJournalCall> calls = TCallJournal(journal).Latest(1);
            QCOMPARE(calls.size(), std::size_t{1});
            QCOMPARE(calls.front().CutReason, QString::fromUtf8(kSessionLimitCutReason));
            QCOMPARE(calls.front().Figures.CustomerPrice, MoneyFromUnits(300));
        }
        // Checkout closes the booth again.
        QTRY_VERIFY_WITH_TIMEOUT(CallButtonEnabled(w), kSipMs);
        counter.CloseSession(kBooth);
        QTRY_COMPARE_WITH_TIMEOUT(Text(w, "boothState"), QStringLiteral("Cerrada"), kSipMs);
        QVERIFY(!CallButtonEnabled(w));
    }

private:
    std::unique_ptr<TKamailioProcess> Kamailio_;
    std::unique_ptr<TShopFixture> Shop_;
};

BOOTH_TEST_CLASS(BoothSessionWindow);

#include "booth_session_window_test.moc"
