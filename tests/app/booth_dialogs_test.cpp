// The booth's menu dialogs, about box and tray against the portal simulator:
// device lists refilled at each opening, the account dialog's validation by
// either button and its refused path, the version label, minimising to the
// notification area and back, and "&Colgar" with no call.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QHeaderView>
#include <QTest>

#include "tests/app/booth_test_support.h"
#include "tests/app/dialog_driver.h"
#include "tests/app/modal_driver.h"
#include "tests/app/portal_sim.h"
#include "tests/app/test_registry.h"

namespace {

constexpr int kWaitMs = 30000;  // a bound only a fault reaches

QStringList Items(const QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items.append(list->itemText(i));
    return items;
}

void Press(QWidget* dialog, const char* button) { Find<QPushButton>(dialog, button)->click(); }

int CountTargets(const TPortalSim& sim, const QString& part) {
    int count = 0;
    for (const QString& target : sim.Targets()) count += target.contains(part) ? 1 : 0;
    return count;
}

// A window whose device lists the test changes between openings.
struct TDeviceWindow {
    TDeviceList Playback{{0, "Speaker One"}, {1, "Speaker Two"}};
    TDeviceList Capture{{0, "Mic One"}};
    std::unique_ptr<TMainWindow> Window;

    explicit TDeviceWindow(const QString& portalUrl) {
        Window = std::make_unique<TMainWindow>(
            TProviderAddresses{QStringLiteral("127.0.0.1:9"), portalUrl, QStringLiteral("http://web.test.invalid")},
            [this](bool capture) { return capture ? Capture : Playback; });
    }
};

}  // namespace

class BoothDialogs : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseBoothTestLocale(); }
    void init() { ClearBoothSettings(); }

    void audioDialogWithoutStoredNamesShowsDefault() {
        TBoothSettings().WriteAccount({kTestAccount, kTestPassword, QString(), QString()});
        TPortalSim sim(TestPortalConfig());
        TModalDriver boxes;
        TDeviceWindow booth(sim.BaseUrl());
        QVERIFY(StartAndWait(*booth.Window));
        QWidget* dialog = Find<QWidget>(booth.Window.get(), "audioDialog");
        QStringList playback, capture;
        TDialogDriver driver(dialog, [&](QWidget* shown) {
            playback = {Find<QComboBox>(shown, "playbackList")->currentText()};
            capture = {Find<QComboBox>(shown, "captureList")->currentText()};
            Press(shown, "cancelButton");
        });
        Find<QAction>(booth.Window.get(), "audioDialogAction")->trigger();
        QVERIFY(driver.Done());
        QCOMPARE(playback, QStringList{"Default"});
        QCOMPARE(capture, QStringList{"Default"});
    }

    // Stored names match ignoring case; devices plugged in since start
    // appear; "Cancelar" keeps the choice, "Aceptar" changes it.
    void audioDialogRefillsAndStoresTheChoice() {
        TBoothSettings().WriteAccount({kTestAccount, kTestPassword, QStringLiteral("MIC ONE"), "speaker two"});
        TPortalSim sim(TestPortalConfig());
        TModalDriver boxes;
        TDeviceWindow booth(sim.BaseUrl());
        QVERIFY(StartAndWait(*booth.Window));
        booth.Capture.push_back({1, "USB Headset"});
        QWidget* dialog = Find<QWidget>(booth.Window.get(), "audioDialog");
        QStringList seen;
        {
            TDialogDriver driver(dialog, [&](QWidget* shown) {
                auto* capture = Find<QComboBox>(shown, "captureList");
                seen = Items(capture) << capture->currentText()
                                      << Find<QComboBox>(shown, "playbackList")->currentText();
                capture->setCurrentIndex(2);
                Press(shown, "cancelButton");
            });
            Find<QAction>(booth.Window.get(), "audioDialogAction")->trigger();
            QVERIFY(driver.Done());
        }
        QCOMPARE(seen, (QStringList{"Default", "Mic One", "USB Headset", "Mic One", "Speaker Two"}));
        QCOMPARE(Find<QComboBox>(booth.Window.get(), "microphones")->currentText(), QStringLiteral("Mic One"));
        {
            TDialogDriver driver(dialog, [&](QWidget* shown) {
                Find<QComboBox>(shown, "captureList")->setCurrentIndex(2);
                Find<QComboBox>(shown, "playbackList")->setCurrentIndex(0);
                Press(shown, "acceptButton");
            });
            Find<QAction>(booth.Window.get(), "audioDialogAction")->trigger();
            QVERIFY(driver.Done());
        }
        QCOMPARE(Find<QComboBox>(booth.Window.get(), "microphones")->currentText(), QStringLiteral("USB Headset"));
        QCOMPARE(Find<QComboBox>(booth.Window.get(), "speakers")->currentText(), QStringLiteral("Default"));
    }

    // "&Cancelar" still validates the unchanged credentials (without the
    // version) and shows the portal's values.
    void accountDialogCancelStillValidates() {
        TBoothSettings().WriteAccount({kTestAccount, kTestPassword, QString(), QString()});
        TPortalSim sim(TestPortalConfig());
        TModalDriver boxes;
        auto window = MakeWindow(sim.BaseUrl());
        QVERIFY(StartAndWait(*window));
        Find<QLabel>(window.get(), "accountValue")->setText(QStringLiteral("00000"));
        // Only the dialog's validation can bring these back.
        Find<QTableWidget>(window.get(), "register")->clearContents();
        ClearBoothSettings();
        QWidget* dialog = Find<QWidget>(window.get(), "accountDialog");
        QStringList seen;
        TDialogDriver driver(dialog, [&](QWidget* shown) {
            auto* password = Find<QLineEdit>(shown, "passwordField");
            auto* server = Find<QComboBox>(shown, "serverList");
            auto* port = Find<QComboBox>(shown, "portList");
            seen << Find<QLineEdit>(shown, "usernameField")->text() << password->text()
                 << QString::number(password->echoMode() == QLineEdit::Password) << QString::number(server->isEnabled())
                 << server->currentText() << QString::number(port->isEnabled()) << Items(port).join(u',');
            Find<QLineEdit>(shown, "usernameField")->setText(QStringLiteral("9999"));
            Press(shown, "cancelButton");
        });
        QSignalSpy validated(window.get(), &TMainWindow::AccountValidated);
        Find<QAction>(window.get(), "accountDialogAction")->trigger();
        QVERIFY(driver.Done());
        QVERIFY(validated.count() > 0 || validated.wait(10000));
        QCOMPARE(seen, (QStringList{kTestAccount, kTestPassword, "1", "0", "sip1.telvira.example", "0", "5060,8080"}));
        QCOMPARE(CountTargets(sim, QStringLiteral("?id=5550001&dv=") + "p%26w%23%20%2B%251" + "&ac=va"), 2);
        QVERIFY(sim.Targets().constLast().endsWith(u"&ac=va"));
        QCOMPARE(Find<QLabel>(window.get(), "accountValue")->text(), QStringLiteral("Cuenta 5550001"));
        QTableWidgetItem* newest = Find<QTableWidget>(window.get(), "register")->item(0, 0);
        QVERIFY(newest);
        QCOMPARE(newest->text(), QStringLiteral("2026-12-01 10:00"));
        // Written at once, not at the close.
        QCOMPARE(TBoothSettings().ReadAccount().Username, QString::fromLatin1(kTestAccount));
        QCOMPARE(TBoothSettings().ReadAccount().Password, kTestPassword);
        QVERIFY(window->isEnabled());
        QCOMPARE(boxes.Seen(), QStringList{});
    }

    void accountDialogRefusedPasswordDisablesTheWindow() {
        TBoothSettings().WriteAccount({kTestAccount, kTestPassword, QString(), QString()});
        TPortalSim sim(TestPortalConfig());
        TModalDriver boxes;
        auto window = MakeWindow(sim.BaseUrl());
        QVERIFY(StartAndWait(*window));
        TDialogDriver driver(Find<QWidget>(window.get(), "accountDialog"), [](QWidget* shown) {
            Find<QLineEdit>(shown, "passwordField")->setText(QStringLiteral("wrong"));
            Press(shown, "acceptButton");
        });
        QSignalSpy validated(window.get(), &TMainWindow::AccountValidated);
        Find<QAction>(window.get(), "accountDialogAction")->trigger();
        QVERIFY(driver.Done());
        QVERIFY(validated.count() > 0 || validated.wait(10000));
        QCOMPARE(boxes.Seen(), QStringList{QString::fromUtf8("Softphone Telvira|ERROR: Usuario o contraseña incorrecta.")});
        QVERIFY(!window->isEnabled());
        const TAccountSettings stored = TBoothSettings().ReadAccount();
        QVERIFY(stored.Username.isEmpty() && stored.Password.isEmpty());
    }

    void aboutBoxShowsTheVersion() {
        auto window = MakeWindow(QStringLiteral("http://127.0.0.1:9"));
        QWidget* about = Find<QWidget>(window.get(), "aboutBox");
        QString version;
        TDialogDriver driver(about, [&](QWidget* shown) {
            version = Find<QLabel>(shown, "versionLabel")->text();
            Press(shown, "acceptButton");
        });
        QCOMPARE(Find<QLabel>(about, "versionLabel")->text(), QString::fromUtf8("Versión:"));
        Find<QAction>(window.get(), "aboutAction")->trigger();
        QVERIFY(driver.Done());
        QCOMPARE(version, QString::fromUtf8("Versión: 1.164"));
        QVERIFY(Find<QLabel>(about, "versionLabel")->font().bold());
    }

    void minimiseToTrayAndBack() {
        auto window = MakeWindow(QStringLiteral("http://127.0.0.1:9"));
        window->SetTrayAvailability([] { return true; });
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        Find<QAction>(window.get(), "minimizeAction")->trigger();
        QVERIFY(!window->isVisible());
        auto* title = Find<QAction>(window.get(), "trayTitleAction");
        QVERIFY(!title->isEnabled());
        QCOMPARE(title->text(), QStringLiteral("Softphone Telvira"));
        Find<QAction>(window.get(), "trayShowAction")->trigger();
        QVERIFY(window->isVisible());
        QVERIFY(!window->isMinimized());
    }

    void minimiseWithoutTrayStaysOnTheTaskbar() {
        auto window = MakeWindow(QStringLiteral("http://127.0.0.1:9"));
        window->SetTrayAvailability([] { return false; });
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        Find<QAction>(window.get(), "minimizeAction")->trigger();
        QTest::qWait(50);
        QVERIFY(window->isVisible());
        QVERIFY(window->windowState() & Qt::WindowMinimized);
    }

    void trayCloseAsksTheClosingQuestion() {
        auto window = MakeWindow(QStringLiteral("http://127.0.0.1:9"));
        window->show();
        TModalDriver boxes({TModalAnswer::Pressed(QMessageBox::No)});
        Find<QAction>(window.get(), "trayCloseAction")->trigger();
        QCOMPARE(boxes.Seen().size(), 1);
        QVERIFY(window->isVisible());
    }

    void hangUpWithNoCallDoesNothing() {
        auto window = MakeWindow(QStringLiteral("http://127.0.0.1:9"));
        TModalDriver boxes;
        Find<QPushButton>(window.get(), "hangUpButton")->click();
        QTest::qWait(50);
        QCOMPARE(boxes.Seen(), QStringList{});
        QCOMPARE(Find<QLabel>(window.get(), "boothState")->text(), QStringLiteral("Libre"));
        QVERIFY(!window->CurrentCall());
    }

    void registerHeaderIsCentred() {
        auto window = MakeWindow(QStringLiteral("http://127.0.0.1:9"));
        auto* grid = Find<QTableWidget>(window.get(), "register");
        QCOMPARE(grid->horizontalHeader()->defaultAlignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    }
};
BOOTH_TEST_CLASS(BoothDialogs);

#include "booth_dialogs_test.moc"
