// Going on and off line through a real registrar (Kamailio on
// 127.0.0.1:5060, account alice/alicepw): the connection panel, "&Llamar"
// and the radio items follow the registration events of the window's own
// account only.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "tests/app/booth_test_support.h"
#include "tests/app/kamailio_process.h"
#include "tests/app/modal_driver.h"
#include "tests/app/portal_sim.h"
#include "tests/app/test_registry.h"

namespace {

constexpr int kRegistrationMs = 30000;  // a bound only a fault reaches

QStringList AliceConfig() {
    return {QStringLiteral("account|alice|alicepw|Alice|5000000")};
}

// "&Llamar" is enabled on line once there is a number to dial.
bool ShowsOnline(QObject* window) {
    Find<QLineEdit>(window, "number")->setText(QStringLiteral("123"));
    return Find<QLabel>(window, "connectionPanel")->text() == QString::fromUtf8("En Línea") &&
           Find<QPushButton>(window, "callButton")->isEnabled() &&
           Find<QAction>(window, "onlineAction")->isChecked();
}

bool ShowsOffline(QObject* window) {
    Find<QLineEdit>(window, "number")->setText(QStringLiteral("123"));
    return Find<QLabel>(window, "connectionPanel")->text() == QStringLiteral("Desconectado") &&
           !Find<QPushButton>(window, "callButton")->isEnabled() &&
           Find<QAction>(window, "offlineAction")->isChecked();
}

}  // namespace

class MainWindowOnline : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        UseBoothTestLocale();
        Kamailio_ = std::make_unique<TKamailioProcess>();
        if (!Kamailio_->Ready()) QSKIP("Kamailio is not installed or did not start");
    }
    void cleanupTestCase() { Kamailio_.reset(); }
    void init() {
        ClearBoothSettings();
        TBoothSettings().WriteAccount({"alice", "alicepw", QString(), QString()});
    }

    void onLineAfterValidationThenOffAndOnAgain() {
        TPortalSim sim(AliceConfig());
        TModalDriver driver;
        auto window = MakeWindow(sim.BaseUrl(), QStringLiteral("127.0.0.1:5060"));
        QVERIFY(StartAndWait(*window));
        QTRY_VERIFY_WITH_TIMEOUT(ShowsOnline(window.get()), kRegistrationMs);

        Find<QAction>(window.get(), "offlineAction")->trigger();
        // The radio items wait for the registrar's word, not the click.
        QVERIFY(Find<QAction>(window.get(), "onlineAction")->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(ShowsOffline(window.get()), kRegistrationMs);

        Find<QAction>(window.get(), "onlineAction")->trigger();
        QVERIFY(Find<QAction>(window.get(), "offlineAction")->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(ShowsOnline(window.get()), kRegistrationMs);
        QCOMPARE(driver.Seen(), QStringList{});
    }

    // Off and on at once: the old account's unregistration ends after the
    // new account registered, and must not switch the window off.
    void lateEventsOfTheReplacedAccountAreIgnored() {
        TPortalSim sim(AliceConfig());
        TModalDriver driver;
        auto window = MakeWindow(sim.BaseUrl(), QStringLiteral("127.0.0.1:5060"));
        QVERIFY(StartAndWait(*window));
        QTRY_VERIFY_WITH_TIMEOUT(ShowsOnline(window.get()), kRegistrationMs);
        QSignalSpy byes(&window->Client(), &TSipClient::OnRegistrationBye);
        Find<QAction>(window.get(), "offlineAction")->trigger();
        Find<QAction>(window.get(), "onlineAction")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(byes.count() >= 1, kRegistrationMs);
        QTest::qWait(1000);
        QVERIFY(ShowsOnline(window.get()));
    }

    // Enter presses "&Llamar" only while it is enabled; Escape "&Colgar".
    void enterAndEscapePressTheCallButtons() {
        TPortalSim sim(AliceConfig());
        TModalDriver driver;
        auto window = MakeWindow(sim.BaseUrl(), QStringLiteral("127.0.0.1:5060"));
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QSignalSpy calls(Find<QPushButton>(window.get(), "callButton"), &QPushButton::clicked);
        QSignalSpy hangUps(Find<QPushButton>(window.get(), "hangUpButton"), &QPushButton::clicked);
        QTest::keyClick(window.get(), Qt::Key_Return);
        QCOMPARE(calls.count(), 0);
        QVERIFY(StartAndWait(*window));
        QTRY_VERIFY_WITH_TIMEOUT(ShowsOnline(window.get()), kRegistrationMs);
        // An empty number field leaves "&Llamar" disabled: nothing dials "00".
        auto* number = Find<QLineEdit>(window.get(), "number");
        number->clear();
        QVERIFY(!Find<QPushButton>(window.get(), "callButton")->isEnabled());
        QTest::keyClick(window.get(), Qt::Key_Return);
        QCOMPARE(calls.count(), 0);
        // Kamailio knows no user 123: the call ends by itself.
        QTest::keyClicks(number, QStringLiteral("123"));
        QTest::keyClick(window.get(), Qt::Key_Return);
        QCOMPARE(calls.count(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(window->ReadyToCall(), kRegistrationMs);
        QTest::keyClick(window.get(), Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(calls.count(), 2);
        QTest::keyClick(window.get(), Qt::Key_Escape);
        QCOMPARE(hangUps.count(), 1);
    }

private:
    std::unique_ptr<TKamailioProcess> Kamailio_;
};
BOOTH_TEST_CLASS(MainWindowOnline);

#include "main_window_online_test.moc"
