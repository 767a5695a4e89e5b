// The booth's administrator PIN on the real window: each guarded action
// refused on a cancelled or wrong PIN and allowed with the right one (or
// with no PIN set), then kiosk mode filling the screen, its picture, and
// the PIN as the closing question.
#include <QAction>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include "app/admin_pin.h"
#include "app/booth_settings.h"
#include "app/kiosk_mode.h"
#include "app/session_autostart.h"
#include "tests/app/booth_test_support.h"
#include "tests/app/modal_driver.h"
#include "tests/app/portal_sim.h"
#include "tests/app/test_registry.h"

namespace {

const QString kPinPrompt = QStringLiteral("PIN de administrador|Ingrese el PIN de administrador:");
const QString kWrongPinBox = QStringLiteral("Softphone Telvira|PIN incorrecto.");
const QString kQuitBox = QStringLiteral("Softphone Telvira|¿Desea salir del Softphone Telvira?");
const QString kAdminPin = QStringLiteral("4821");

// The answer to the PIN prompt: "-" cancels, "" means no prompt expected.
TModalAnswer PinAnswer(const QString& pin) {
    return pin == u"-" ? TModalAnswer::Cancelled() : TModalAnswer::Typed(pin);
}

}  // namespace

class MainWindowAdmin : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseBoothTestLocale(); }
    void init() {
        ClearBoothSettings();
        QFile::remove(TSessionAutostart::EntryPath());
        TBoothSettings().WriteAccount({QString::fromLatin1(kTestAccount), kTestPassword, QString(), QString()});
    }

    void guardedActions_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("pinSet");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("seen");  // beyond the PIN prompt
        QTest::addColumn<bool>("done");
        const QString accountDialog = QStringLiteral("Configuración Cuenta|?");
        const QString audioDialog = QStringLiteral("Configuración de Audio|?");
        QTest::newRow("account, no PIN set") << "accountDialogAction" << false << "" << QStringList{accountDialog} << true;
        QTest::newRow("account, cancelled") << "accountDialogAction" << true << "-" << QStringList{} << false;
        QTest::newRow("account, wrong PIN") << "accountDialogAction" << true << "1111" << QStringList{kWrongPinBox}
                                            << false;
        QTest::newRow("account, right PIN") << "accountDialogAction" << true << "4821" << QStringList{accountDialog}
                                            << true;
        QTest::newRow("audio, wrong PIN") << "audioDialogAction" << true << "48210" << QStringList{kWrongPinBox}
                                          << false;
        QTest::newRow("audio, right PIN") << "audioDialogAction" << true << "4821" << QStringList{audioDialog} << true;
        QTest::newRow("autostart, wrong PIN") << "autostartAction" << true << "0000" << QStringList{kWrongPinBox}
                                              << false;
        QTest::newRow("autostart, right PIN") << "autostartAction" << true << "4821" << QStringList{} << true;
        const QString ratesDialog = QStringLiteral("Tarifas de venta|?");
        QTest::newRow("rates, wrong PIN") << "ratesAction" << true << "1111" << QStringList{kWrongPinBox} << false;
        QTest::newRow("rates, right PIN") << "ratesAction" << true << "4821" << QStringList{ratesDialog} << true;
        QTest::newRow("close, cancelled") << "close" << true << "-" << QStringList{} << false;
        QTest::newRow("close, wrong PIN") << "close" << true << "1234" << QStringList{kWrongPinBox} << false;
        QTest::newRow("close, right PIN") << "close" << true << "4821" << QStringList{kQuitBox} << true;
        QTest::newRow("close, no PIN set") << "close" << false << "" << QStringList{kQuitBox} << true;
    }
    void guardedActions() {
        QFETCH(QString, action);
        QFETCH(bool, pinSet);
        QFETCH(QString, typed);
        QFETCH(QStringList, seen);
        QFETCH(bool, done);
        if (pinSet) TAdminPin().Set(kAdminPin);
        TPortalSim sim(TestPortalConfig());
        auto window = MakeWindow(sim.BaseUrl());
        window->Start();
        window->show();

        QList<TModalAnswer> answers;
        QStringList expected;
        if (!typed.isEmpty()) {
            answers << PinAnswer(typed);
            expected << kPinPrompt;
        }
        // A refusal box gets its OK; a dialog is closed; the quit question gets Yes.
        answers << TModalAnswer::Pressed(seen.value(0) == kQuitBox ? QMessageBox::Yes : QMessageBox::Ok);
        expected << seen;
        TModalDriver driver(answers);
        if (action == u"close") {
            QCOMPARE(window->close(), done);
        } else {
            Find<QAction>(window.get(), action.toLatin1().constData())->trigger();
            if (action == u"autostartAction") {
                QCOMPARE(QFile::exists(TSessionAutostart::EntryPath()), done);
                QCOMPARE(Find<QAction>(window.get(), "autostartAction")->isChecked(), done);
            }
        }
        QTRY_COMPARE_WITH_TIMEOUT(driver.Seen(), expected, 30000);
    }

    // Three wrong PINs lock the guard: the fourth attempt is refused
    // without a prompt even with the right PIN, and so is every other
    // guarded action.
    void wrongPinsLockTheGuard() {
        TAdminPin().Set(kAdminPin);
        auto window = MakeWindow(QStringLiteral("http://127.0.0.1:9"));
        TModalDriver driver({TModalAnswer::Typed("1"), TModalAnswer::Pressed(QMessageBox::Ok),
                             TModalAnswer::Typed("2"), TModalAnswer::Pressed(QMessageBox::Ok),
                             TModalAnswer::Typed("3"), TModalAnswer::Pressed(QMessageBox::Ok),
                             TModalAnswer::Pressed(QMessageBox::Ok), TModalAnswer::Pressed(QMessageBox::Ok)});
        for (int i = 0; i < 4; ++i) Find<QAction>(window.get(), "audioDialogAction")->trigger();
        // The selling rates are behind the same lock.
        Find<QAction>(window.get(), "ratesAction")->trigger();
        const QString locked = QStringLiteral("Softphone Telvira|") + QString::fromUtf8(kPinLockedText);
        QCOMPARE(driver.Seen(), (QStringList{kPinPrompt, kWrongPinBox, kPinPrompt, kWrongPinBox, kPinPrompt, locked,
                                             locked, locked}));
    }

    // Kiosk mode: full screen without a frame, the minimise entry off, a
    // picture of the whole screen, and the PIN as the closing question.
    void kioskModeFillsTheScreen() {
        TAdminPin pin;
        pin.Set(kAdminPin);
        pin.SetKioskMode(true);
        TPortalSim sim(TestPortalConfig());
        auto window = MakeWindow(sim.BaseUrl());
        window->Start();
        window->ShowAsConfigured();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QVERIFY(InKioskMode(*window));
        QVERIFY(!Find<QAction>(window.get(), "minimizeAction")->isEnabled());
        QVERIFY(Find<QAction>(window.get(), "kioskAction")->isChecked());
        QScreen* screen = window->screen();
        QTRY_COMPARE_WITH_TIMEOUT(window->frameGeometry(), screen->geometry(), 30000);
        const QString shot = QStringLiteral(BOOTH_SCREENSHOT_DIR "/booth-kiosk.png");
        QPixmap picture = screen->grabWindow(0);
        // The offscreen platform draws no screen; the window stands for it.
        if (QGuiApplication::platformName() == u"offscreen") picture = window->grab();
        QVERIFY(picture.save(shot));
        qInfo("screenshot: %s (%s)", qPrintable(shot), qPrintable(QGuiApplication::platformName()));

        TModalDriver driver({TModalAnswer::Typed("9999"), TModalAnswer::Pressed(QMessageBox::Ok),
                             TModalAnswer::Typed(kAdminPin)});
        QVERIFY(!window->close());
        QVERIFY(window->close());
        QCOMPARE(driver.Seen(), (QStringList{kPinPrompt, kWrongPinBox, kPinPrompt}));
    }

    // Leaving kiosk mode from the menu takes the PIN too and brings the
    // frame back.
    void kioskModeOffAgain() {
        TAdminPin pin;
        pin.Set(kAdminPin);
        pin.SetKioskMode(true);
        auto window = MakeWindow(QStringLiteral("http://127.0.0.1:9"));
        window->ShowAsConfigured();
        TModalDriver driver({TModalAnswer::Typed(kAdminPin)});
        Find<QAction>(window.get(), "kioskAction")->trigger();
        QVERIFY(!TAdminPin().KioskMode());
        QVERIFY(!InKioskMode(*window));
        QVERIFY(Find<QAction>(window.get(), "minimizeAction")->isEnabled());
        QCOMPARE(driver.Seen(), QStringList{kPinPrompt});
    }
};
BOOTH_TEST_CLASS(MainWindowAdmin);

#include "main_window_admin_test.moc"
