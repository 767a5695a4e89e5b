// The booth's menu dialogs, about box and tray against the portal simulator:
// device lists refilled at each opening, the account dialog's validation by
// either button and its refused path, the version label, minimising to the
// notification area and back, and "&Colgar" with no call.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QHeaderView>
#include <QTest>

#include "engine/engine.h"
#include "app/ui/audio_dialog.h"
#include "app/booth/booth_settings.h"
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
            // Each list under its own caption: playback is where the sound goes out.
            for (QLabel* label : shown->findChildren<QLabel*>()) {
                if (label->buddy() == Find<QComboBox>(shown, "playbackList")) playback << label->text();
                if (label->buddy() == Find<QComboBox>(shown, "captureList")) capture << label->text();
            }
            Press(shown, "cancelButton");
        });
        Find<QAction>(booth.Window.get(), "audioDialogAction")->trigger();
        QVERIFY(driver.Done());
        QCOMPARE(playback, (QStringList{"Predeterminado", QString::fromUtf8("Salida (Audífono):")}));
        QCOMPARE(capture, (QStringList{"Predeterminado", QString::fromUtf8("Entrada (Micrófono):")}));
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
        QCOMPARE(seen, (QStringList{"Predeterminado", "Mic One", "USB Headset", "Mic One", "Speaker Two"}));
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
        QCOMPARE(Find<QComboBox>(booth.Window.get(), "speakers")->currentText(), QStringLiteral("Predeterminado"));
    }

    // "Códecs": the stored order first and ticked, the other known codecs
    // after it; the administrator ticks G.729 and moves it to the top, and
    // the order is stored and shown so at the next opening.
    void audioDialogCodecOrderIsStored() {
        TBoothSettings().WriteAccount({kTestAccount, kTestPassword, QString(), QString()});
        TBoothSettings().WriteCodecs(QStringLiteral("pcma,pcmu"));
        TPortalSim sim(TestPortalConfig());
        TModalDriver boxes;
        TDeviceWindow booth(sim.BaseUrl());
        QVERIFY(StartAndWait(*booth.Window));
        QWidget* dialog = Find<QWidget>(booth.Window.get(), "audioDialog");
        const auto rows = [](QListWidget* list) {
            QStringList text;
            for (int row = 0; row < list->count(); ++row)
                text << list->item(row)->text() + (list->item(row)->checkState() == Qt::Checked ? "+" : "-");
            return text;
        };
        QStringList first, second;
        {
            TDialogDriver driver(dialog, [&](QWidget* shown) {
                auto* list = Find<QListWidget>(shown, "codecList");
                first = rows(list);
                list->setCurrentRow(first.indexOf("g729-"));
                list->currentItem()->setCheckState(Qt::Checked);
                for (int step = 0; step < 4; ++step) Press(shown, "codecUpButton");
                Press(shown, "acceptButton");
            });
            Find<QAction>(booth.Window.get(), "audioDialogAction")->trigger();
            QVERIFY(driver.Done());
        }
        QCOMPARE(first, (QStringList{"pcma+", "pcmu+", "opus-", "g729-", "gsm-", "speex-"}));
        QCOMPARE(TBoothSettings().ReadCodecs(), QStringLiteral("g729,pcma,pcmu"));
        {
            TDialogDriver driver(dialog, [&](QWidget* shown) {
                second = rows(Find<QListWidget>(shown, "codecList"));
                Press(shown, "cancelButton");
            });
            Find<QAction>(booth.Window.get(), "audioDialogAction")->trigger();
            QVERIFY(driver.Done());
        }
        QCOMPARE(second, (QStringList{"g729+", "pcma+", "pcmu+", "opus-", "gsm-", "speex-"}));
        QCOMPARE(CodecPayloadTypes(QStringLiteral("g729,pcma,pcmu")), (std::vector<int>{18, 8, 0}));
        QVERIFY(CodecPayloadTypes(QStringLiteral("g729,amr")).empty());  // edited into nonsense: the default
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
                 << server->currentText() << QString::number(port->isEnabled()) << port->currentText();
            Find<QLineEdit>(shown, "usernameField")->setText(QStringLiteral("9999"));
            Press(shown, "cancelButton");
        });
        QSignalSpy validated(window.get(), &TMainWindow::AccountValidated);
        Find<QAction>(window.get(), "accountDialogAction")->trigger();
        QVERIFY(driver.Done());
        QVERIFY(validated.count() > 0 || validated.wait(10000));
        // The server and port shown are the ones in use.
        QCOMPARE(seen, (QStringList{kTestAccount, kTestPassword, "1", "0", "127.0.0.1", "0", "9"}));
        QCOMPARE(CountTargets(sim, QStringLiteral("?id=5550001&dv=") + "p%26w%23%20%2B%251" + "&ac=va"), 2);
        QVERIFY(sim.Targets().constLast().endsWith(u"&ac=va"));
        QCOMPARE(Find<QLabel>(window.get(), "accountValue")->text(), QStringLiteral("Cuenta 5550001"));
        QTableWidgetItem* newest = Find<QTableWidget>(window.get(), "register")->item(0, 0);
        QVERIFY(newest);
        QCOMPARE(newest->text(), QStringLiteral("2026-12-01 10:00"));
        // Written at once, not at the close.
        QCOMPARE(TBoothSettings().ReadAccount().Password, kTestPassword);
        QVERIFY(window->isEnabled());
        QCOMPARE(boxes.Seen(), QStringList{});
    }

    // The transport chosen in the account dialog is kept beside the account
    // and is the one the booth registers over once validated; the dialog
    // shows it when opened again.
    void accountDialogTransportIsStoredAndUsed() {
        TBoothSettings().WriteAccount({kTestAccount, kTestPassword, QString(), QString()});
        TPortalSim sim(TestPortalConfig());
        TModalDriver boxes;
        auto window = MakeWindow(sim.BaseUrl());
        QVERIFY(StartAndWait(*window));
        QWidget* dialog = Find<QWidget>(window.get(), "accountDialog");
        QStringList shown;
        for (const char* choice : {"tls", "tcp"}) {
            TDialogDriver driver(dialog, [&](QWidget* open) {
                auto* transport = Find<QComboBox>(open, "transportList");
                shown << transport->currentText() << QString::number(transport->isEnabled());
                transport->setCurrentIndex(transport->findText(QString::fromLatin1(choice)));
                Press(open, "acceptButton");
            });
            QSignalSpy validated(window.get(), &TMainWindow::AccountValidated);
            Find<QAction>(window.get(), "accountDialogAction")->trigger();
            QVERIFY(driver.Done());
            QVERIFY(validated.count() > 0 || validated.wait(10000));
        }
        QCOMPARE(shown, (QStringList{"udp", "1", "tls", "1"}));
        QCOMPARE(TBoothSettings().ReadTransport(), QStringLiteral("tcp"));
        auto engine = std::dynamic_pointer_cast<TSipEngine>(window->Client().GetEngine());
        QVERIFY(engine);
        // The newest account is the one the booth registers now.
        QVERIFY(QTest::qWaitFor([&] {
            const int count = engine->Accounts().Count();
            ISipAccountPtr newest = engine->Accounts().AccountAt(count - 1);
            return newest && newest->GetTransport() == TSignallingTransport::kTcp;
        }, 10000));
    }

    // The CA file named in the account dialog is stored with the account's
    // other settings, handed to the account the booth registers, and shown
    // when the dialog opens again.
    void accountDialogCaFileIsStoredAndUsed() {
        TBoothSettings().WriteAccount({kTestAccount, kTestPassword, QString(), QString()});
        TPortalSim sim(TestPortalConfig());
        TModalDriver boxes;
        auto window = MakeWindow(sim.BaseUrl());
        QVERIFY(StartAndWait(*window));
        QWidget* dialog = Find<QWidget>(window.get(), "accountDialog");
        const QString caFile = QStringLiteral("/etc/telvira/proveedor-ca.pem");
        QStringList shown;
        for (const QString& typed : {caFile, QString()}) {
            TDialogDriver driver(dialog, [&](QWidget* open) {
                auto* field = Find<QLineEdit>(open, "caFileField");
                shown << field->text();
                if (!typed.isEmpty()) field->setText(QStringLiteral(" ") + typed);
                Press(open, "acceptButton");
            });
            QSignalSpy validated(window.get(), &TMainWindow::AccountValidated);
            Find<QAction>(window.get(), "accountDialogAction")->trigger();
            QVERIFY(driver.Done());
            QVERIFY(validated.count() > 0 || validated.wait(10000));
        }
        QCOMPARE(shown, (QStringList{QString(), caFile}));
        QCOMPARE(TBoothSettings().ReadTlsCaFile(), caFile);
        auto engine = std::dynamic_pointer_cast<TSipEngine>(window->Client().GetEngine());
        QVERIFY(engine);
        QVERIFY(QTest::qWaitFor([&] {
            const int count = engine->Accounts().Count();
            ISipAccountPtr newest = engine->Accounts().AccountAt(count - 1);
            return newest && newest->GetTlsCaFile() == caFile.toStdString();
        }, 10000));
    }

    // A mistyped password in the dialog: the error box, then the dialog
    // again with the name kept; cancelling it leaves the booth as it was,
    // on its stored account, and asks the portal nothing more.
    void accountDialogRefusedPasswordOpensItAgain() {
        TBoothSettings().WriteAccount({kTestAccount, kTestPassword, QString(), QString()});
        TPortalSim sim(TestPortalConfig());
        TModalDriver boxes;
        auto window = MakeWindow(sim.BaseUrl());
        QVERIFY(StartAndWait(*window));
        QWidget* dialog = Find<QWidget>(window.get(), "accountDialog");
        TDialogDriver first(dialog, [](QWidget* shown) {
            Find<QLineEdit>(shown, "usernameField")->setText(QStringLiteral("5550009"));
            Find<QLineEdit>(shown, "passwordField")->setText(QStringLiteral("wrong"));
            Press(shown, "acceptButton");
        });
        QSignalSpy validated(window.get(), &TMainWindow::AccountValidated);
        Find<QAction>(window.get(), "accountDialogAction")->trigger();
        QVERIFY(first.Done());
        QStringList again;
        TDialogDriver second(dialog, [&](QWidget* shown) {
            again << Find<QLineEdit>(shown, "usernameField")->text() << Find<QLineEdit>(shown, "passwordField")->text();
            Press(shown, "cancelButton");
        });
        QVERIFY(validated.count() > 0 || validated.wait(10000));
        QTRY_VERIFY_WITH_TIMEOUT(second.Done(), 10000);
        QCOMPARE(again, (QStringList{"5550009", ""}));
        QCOMPARE(boxes.Seen(), QStringList{QString::fromUtf8("Softphone Telvira|ERROR: Usuario o contraseña incorrecta.")});
        QVERIFY(window->isEnabled());
        QVERIFY(Find<QAction>(window.get(), "accountDialogAction")->isEnabled());
        const TAccountSettings stored = TBoothSettings().ReadAccount();
        QCOMPARE(stored.Username, QString::fromLatin1(kTestAccount));
        QCOMPARE(stored.Password, kTestPassword);
        const int asked = sim.Targets().size();
        QTest::qWait(300);
        QCOMPARE(sim.Targets().size(), asked);
    }

    // A refused account at start is no dead end: an error box (with the
    // critical icon), then the account dialog again with the name kept and
    // the password to type; the right one brings the booth on line and the
    // window was usable all along.
    void refusedAccountAtStartOpensTheDialogAgain() {
        TBoothSettings().WriteAccount({kTestAccount, QStringLiteral("wrong"), QString(), QString()});
        TPortalSim sim(TestPortalConfig());
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString said;
        TModalDriver driver({TModalAnswer::Acted([&](QWidget* shown) {
            auto* box = qobject_cast<QMessageBox*>(shown);
            icon = box->icon();
            said = box->text();
            box->button(QMessageBox::Ok)->click();
        })});
        auto window = MakeWindow(sim.BaseUrl());
        QStringList shownValues;
        TDialogDriver dialog(Find<QWidget>(window.get(), "accountDialog"), [&](QWidget* shown) {
            shownValues << Find<QLineEdit>(shown, "usernameField")->text()
                        << Find<QLineEdit>(shown, "passwordField")->text();
            Find<QLineEdit>(shown, "passwordField")->setText(kTestPassword);
            Press(shown, "acceptButton");
        });
        QSignalSpy validated(window.get(), &TMainWindow::AccountValidated);
        QVERIFY(StartAndWait(*window));
        QVERIFY(window->isEnabled());
        QVERIFY(validated.count() > 0 || validated.wait(10000));
        QVERIFY(dialog.Done());
        QCOMPARE(driver.Seen().size(), 1);
        QCOMPARE(said, QString::fromUtf8("ERROR: Usuario o contraseña incorrecta."));
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(shownValues, (QStringList{kTestAccount, QString()}));
        QCOMPARE(Find<QLabel>(window.get(), "accountValue")->text(), QStringLiteral("Cuenta 5550001"));
        QCOMPARE(TBoothSettings().ReadAccount().Password, kTestPassword);
        QVERIFY(window->Client().GetActive());
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
