// The booth's administrator PIN on the real window: each guarded action
// refused on a cancelled or wrong PIN and allowed with the right one (or
// with no PIN set), then kiosk mode filling the screen, its picture, and
// the PIN as the closing question.
#include <algorithm>
#include <cmath>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "app/booth/admin_pin.h"
#include "app/booth/booth_settings.h"
#include "app/booth/session_autostart.h"
#include "app/portal/portal_query.h"
#include "app/ui/cash_close_window.h"
#include "app/ui/kiosk_mode.h"
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
        // The booth's controls grow with the screen, keep their shape and
        // stand in its middle rather than in a corner.
        const QWidget* stage = window->centralWidget();
        const auto* client = Find<QWidget>(window.get(), "clientArea");
        const double factor = std::min(stage->width() / 449.0, stage->height() / 549.0);
        QVERIFY(factor >= 1.0);
        QVERIFY(std::abs(client->width() - 449 * factor) <= 1 && std::abs(client->height() - 549 * factor) <= 1);
        QVERIFY((client->geometry().center() - stage->rect().center()).manhattanLength() <= 2);
        const QRect key5 = Find<QPushButton>(window.get(), "key5")->geometry();
        QVERIFY(std::abs(key5.x() - 64 * factor) <= 1 && std::abs(key5.width() - 41 * factor) <= 1);
        const QString shot = QStringLiteral(BOOTH_SCREENSHOT_DIR "/booth-kiosk.png");
        QPixmap picture = screen->grabWindow(0);
        // The offscreen platform draws no screen; the window stands for it.
        if (QGuiApplication::platformName() == u"offscreen") picture = window->grab();
        QVERIFY(picture.save(shot));
        qInfo("screenshot: %s (%s)", qPrintable(shot), qPrintable(QGuiApplication::platformName()));

        // Minimised by the desktop, it comes straight back.
        window->setWindowState(Qt::WindowMinimized);
        QTRY_VERIFY(!window->isMinimized() && InKioskMode(*window));

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
        // The frame, its buttons and the place above other windows are back.
        const Qt::WindowFlags decorated = Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                                          Qt::WindowMinimizeButtonHint | Qt::WindowStaysOnTopHint;
        QCOMPARE(window->windowFlags() & (decorated | Qt::FramelessWindowHint), decorated);
        QCOMPARE(window->centralWidget()->size(), QSize(449, 568 - 19));
    }

    // Every way out of the booth's window, or into the till, asks for the
    // PIN in kiosk mode; a cancelled prompt leaves the customer where they
    // were, the right PIN lets the administrator through.
    void kioskLocksTheWaysOut_data() {
        QTest::addColumn<QString>("route");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("through");
        for (const char* route : {"logo", "account link", "cash close", "on line", "off line"})
            QTest::newRow(qPrintable(QString::fromLatin1(route) + QStringLiteral(", cancelled")))
                << QString::fromLatin1(route) << "-" << false;
        QTest::newRow("logo, right PIN") << "logo" << "4821" << true;
        QTest::newRow("account link, right PIN") << "account link" << "4821" << true;
        QTest::newRow("cash close, right PIN") << "cash close" << "4821" << true;
    }
    void kioskLocksTheWaysOut() {
        QFETCH(QString, route);
        QFETCH(QString, typed);
        QFETCH(bool, through);
        TAdminPin pin;
        pin.Set(kAdminPin);
        pin.SetKioskMode(true);
        TPortalSim sim(TestPortalConfig());
        TLinkRecorder links;
        auto window = MakeWindow(sim.BaseUrl());
        QVERIFY(StartAndWait(*window));
        window->ShowAsConfigured();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        // Going on or off line without the PIN is refused before it can
        // fail: nothing is shown beyond the prompt.
        TModalDriver driver({PinAnswer(typed)});
        if (route == u"logo") QTest::mouseClick(Find<QLabel>(window.get(), "logo"), Qt::LeftButton);
        if (route == u"account link") QTest::mouseClick(Find<QLabel>(window.get(), "accountValue"), Qt::LeftButton);
        if (route == u"cash close") Find<QAction>(window.get(), "cashCloseAction")->trigger();
        if (route == u"on line") Find<QAction>(window.get(), "onlineAction")->trigger();
        if (route == u"off line") Find<QAction>(window.get(), "offlineAction")->trigger();
        QTRY_COMPARE(driver.Seen(), QStringList{kPinPrompt});
        const auto* close = window->findChild<TCashCloseWindow*>();
        QCOMPARE(close && close->isVisible(), through && route == u"cash close");
        QList<QUrl> expected;
        if (through && route == u"logo") expected << WebRootUrl(QStringLiteral("http://web.test.invalid"));
        if (through && route == u"account link") expected << CallDetailUrl(sim.BaseUrl(), kTestAccount);
        QCOMPARE(links.Links, expected);
        // The password never travels in an address the browser keeps.
        for (const QUrl& link : links.Links) QVERIFY(!link.toString(QUrl::FullyDecoded).contains(kTestPassword));
        QCOMPARE(Find<QAction>(window.get(), "offlineAction")->isChecked(), true);
    }

    // Inside the close window: the shift's cash takes the PIN, and the
    // export writes to its own folder without a file dialog, which would
    // let anyone rename or delete any file, the journal included.
    void closeWindowShiftAndExport_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("seen");
        const QString amount = QStringLiteral("Abrir turno|Efectivo en caja al abrir:");
        QTest::newRow("open shift, cancelled") << "openShiftButton" << "-" << QStringList{kPinPrompt};
        QTest::newRow("open shift, wrong PIN") << "openShiftButton" << "1111" << QStringList{kPinPrompt, kWrongPinBox};
        QTest::newRow("open shift, right PIN") << "openShiftButton" << "4821" << QStringList{kPinPrompt, amount};
        QTest::newRow("close shift, cancelled") << "closeShiftButton" << "-" << QStringList{kPinPrompt};
        QTest::newRow("export") << "exportCsvButton" << "" << QStringList{QStringLiteral("Softphone Telvira|Cierre guardado en ")};
    }
    void closeWindowShiftAndExport() {
        QFETCH(QString, button);
        QFETCH(QString, typed);
        QFETCH(QStringList, seen);
        TAdminPin().Set(kAdminPin);
        QDir(TCashCloseWindow::ExportFolder()).removeRecursively();
        auto window = MakeWindow(QStringLiteral("http://127.0.0.1:9"));
        TCashCloseWindow* close = window->OpenCashClose();
        QVERIFY(close);
        QList<TModalAnswer> answers;
        if (!typed.isEmpty()) answers << PinAnswer(typed);
        answers << TModalAnswer::Pressed(QMessageBox::Ok) << TModalAnswer::Cancelled();
        TModalDriver driver(answers);
        Find<QPushButton>(close, button.toLatin1().constData())->click();
        QTRY_COMPARE(driver.Seen().size(), seen.size());
        for (int i = 0; i < seen.size(); ++i) QVERIFY2(driver.Seen()[i].startsWith(seen[i]), qPrintable(driver.Seen()[i]));
        const QStringList exported = QDir(TCashCloseWindow::ExportFolder()).entryList({"cierre-*.csv"}, QDir::Files);
        QCOMPARE(exported.size(), button == u"exportCsvButton" ? 1 : 0);
    }
};
BOOTH_TEST_CLASS(MainWindowAdmin);

#include "main_window_admin_test.moc"
