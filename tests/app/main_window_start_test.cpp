// The main window's start against the portal simulator over real HTTP:
// first-run prompts, the refused account, the version question, a portal
// that is down, the layout with its screenshot, closing and the error box.
// The component starts on its fixed signalling port; the SIP server given is
// a loopback port where nothing answers.
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QUdpSocket>

#include "app/booth/booth_settings.h"
#include "app/portal/portal_query.h"
#include "tests/app/booth_test_support.h"
#include "tests/app/modal_driver.h"
#include "tests/app/portal_sim.h"
#include "tests/app/test_registry.h"

namespace {

const QString kRefusedBox = QStringLiteral("Softphone Telvira|ERROR: Usuario o contraseña incorrecta.");
const QString kAccountPrompt = QStringLiteral("Validación de Datos|Por favor ingrese el número de cuenta Telvira:");
const QString kPasswordPrompt = QStringLiteral("Validación de Datos|Por favor digite la contraseña:");
const QString kUpdateBox = QStringLiteral(
    "Softphone Telvira|Existe una nueva actualización para este programa, ¿desea ir al sitio de descarga?");
const QString kQuitBox = QStringLiteral("Softphone Telvira|¿Desea salir del Softphone Telvira?");

void StoreTestAccount(const QString& password = kTestPassword) {
    TBoothSettings().WriteAccount({QString::fromLatin1(kTestAccount), password, QString(), QString()});
}

QString Text(QObject* window, const char* name) { return Find<QLabel>(window, name)->text(); }

}  // namespace

class MainWindowStart : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseBoothTestLocale(); }
    void init() { ClearBoothSettings(); }

    void emptySettingsAskAndStoreTheAnswers() {
        TPortalSim sim(TestPortalConfig());
        TModalDriver driver({TModalAnswer::Typed(kTestAccount), TModalAnswer::Typed(kTestPassword)});
        auto window = MakeWindow(sim.BaseUrl());
        QVERIFY(StartAndWait(*window));
        QCOMPARE(driver.Seen(), (QStringList{kAccountPrompt, kPasswordPrompt}));
        QCOMPARE(driver.Masked(), (QList<bool>{false, true}));
        const TAccountSettings stored = TBoothSettings().ReadAccount();
        QCOMPARE(stored.Username, QString::fromLatin1(kTestAccount));
        QCOMPARE(stored.Password, kTestPassword);
        QCOMPARE(sim.Targets(), QStringList{QStringLiteral("/portal/sys/procesar.php") +
                                            StartValidationQuery(kTestAccount, kTestPassword, "1164")});
        QCOMPARE(Text(window.get(), "accountValue"), QStringLiteral("Cuenta 5550001"));
        QCOMPARE(Text(window.get(), "balance"), QStringLiteral("$\u00a01.234,57"));
        QVERIFY(window->Client().GetActive());
    }

    void cancelledPromptsStoreEmptyValuesAndStillValidate() {
        TPortalSim sim(TestPortalConfig());
        TModalDriver driver({TModalAnswer::Cancelled(), TModalAnswer::Cancelled()});
        auto window = MakeWindow(sim.BaseUrl());
        QVERIFY(StartAndWait(*window));
        // The refusal opens the account dialog again (closed here).
        QTRY_COMPARE(driver.Seen(), (QStringList{kAccountPrompt, kPasswordPrompt, kRefusedBox,
                                                 QString::fromUtf8("Configuración Cuenta|?")}));
        QSettings raw(TBoothSettings().FileName(), QSettings::IniFormat);
        QVERIFY(raw.contains("Account/username") && raw.contains("Account/password"));
        QCOMPARE(raw.value("Account/username").toString(), QString());
        QCOMPARE(sim.Targets(), QStringList{QStringLiteral("/portal/sys/procesar.php") +
                                            StartValidationQuery("", "", "1164")});
    }

    void storedAccountWithoutPasswordAsksForBoth() {
        StoreTestAccount(QString());
        TPortalSim sim(TestPortalConfig());
        TModalDriver driver({TModalAnswer::Typed(kTestAccount), TModalAnswer::Typed(kTestPassword)});
        auto window = MakeWindow(sim.BaseUrl());
        QVERIFY(StartAndWait(*window));
        QCOMPARE(driver.Seen(), (QStringList{kAccountPrompt, kPasswordPrompt}));
        QVERIFY(window->isEnabled());
    }

    void portalVersion_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("opened");
        QTest::newRow("same version") << "1164" << int(QMessageBox::Yes) << false << false;
        QTest::newRow("older version") << "1100" << int(QMessageBox::Yes) << false << false;
        QTest::newRow("newer, declined") << "1165" << int(QMessageBox::No) << true << false;
        QTest::newRow("newer, accepted") << "1165" << int(QMessageBox::Yes) << true << true;
        QTest::newRow("not a number") << "1.2b" << int(QMessageBox::Yes) << false << false;
        QTest::newRow("missing") << "" << int(QMessageBox::Yes) << false << false;
    }
    void portalVersion() {
        QFETCH(QString, version);
        QFETCH(int, answer);
        QFETCH(bool, asked);
        QFETCH(bool, opened);
        StoreTestAccount();
        TPortalSim sim(TestPortalConfig(version));
        TLinkRecorder links;
        TModalDriver driver({TModalAnswer::Pressed(static_cast<QMessageBox::StandardButton>(answer))});
        auto window = MakeWindow(sim.BaseUrl());
        QVERIFY(StartAndWait(*window));
        QCOMPARE(driver.Seen(), asked ? QStringList{kUpdateBox} : QStringList{});
        QCOMPARE(links.Links, opened ? QList<QUrl>{DownloadUrl("http://web.test.invalid")} : QList<QUrl>{});
        // Whatever the version says, balance and register are already shown.
        QCOMPARE(Text(window.get(), "balance"), QStringLiteral("$\u00a01.234,57"));
        auto* grid = Find<QTableWidget>(window.get(), "register");
        QCOMPARE(grid->item(0, 0)->text(), QStringLiteral("2026-12-01 10:00"));
        QCOMPARE(grid->item(0, 1)->text(), QStringLiteral("00541155551234"));
        QCOMPARE(grid->item(1, 2)->text(), QStringLiteral("España"));
        QCOMPARE(grid->item(1, 3)->text(), QStringLiteral("00:00:30"));
        QCOMPARE(grid->item(1, 4)->text(), QStringLiteral("0.80"));
        QCOMPARE(grid->item(2, 0)->text(), QString());
    }

    void portalDownLeavesTheInitialCaptionsAndStaysOffLine() {
        StoreTestAccount();
        TPortalSim sim(TestPortalConfig());
        sim.Stop();
        TModalDriver driver;
        auto window = MakeWindow(sim.BaseUrl());
        QVERIFY(StartAndWait(*window));
        QCOMPARE(driver.Seen(), QStringList{});
        QCOMPARE(Text(window.get(), "textPanel"), QStringLiteral("Portal no disponible"));
        QVERIFY(window->isEnabled());
        QVERIFY(!window->Client().GetActive());
        QCOMPARE(Text(window.get(), "accountValue"), QStringLiteral("00000"));
        QCOMPARE(Text(window.get(), "balance"), QStringLiteral("$ 0,00"));
        QCOMPARE(Text(window.get(), "connectionPanel"), QStringLiteral("Desconectado"));
    }

    void layoutAfterStartWithScreenshot() {
        StoreTestAccount();
        TPortalSim sim(TestPortalConfig());
        TModalDriver driver;
        auto window = MakeWindow(sim.BaseUrl());
        QVERIFY(StartAndWait(*window));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QCOMPARE(window->windowTitle(), QStringLiteral("Softphone Telvira"));
        QVERIFY(window->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!(window->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(window->centralWidget()->size(), QSize(449, 568 - 19));
        QCOMPARE(window->statusBar()->height(), 19);
        QCOMPARE(window->height(), window->menuBar()->height() + 568);
        const struct {
            const char* name;
            const char* title;
            QRect place;
        } groups[] = {{"accountGroup", "Control de Cuenta", {8, 112, 257, 73}},
                      {"boothGroup", "Estado de la Cabina", {8, 192, 257, 146}},
                      {"callGroup", "Llamada", {8, 345, 257, 56}},
                      {"phoneGroup", "Teléfono", {272, 112, 169, 289}},
                      {"registerGroup", "Registro de las últimas 5 llamadas", {8, 408, 433, 137}}};
        for (const auto& group : groups) {
            auto* box = Find<QGroupBox>(window.get(), group.name);
            QCOMPARE(box->title(), QString::fromUtf8(group.title));
            QCOMPARE(box->geometry(), group.place);
        }
        auto* audio = Find<QGroupBox>(window.get(), "audioGroup");
        QVERIFY(!audio->isEnabled());
        QVERIFY(!window->centralWidget()->rect().intersects(audio->geometry()));
        QCOMPARE(Find<QComboBox>(window.get(), "speakers")->currentText(), QStringLiteral("Predeterminado"));
        QCOMPARE(Find<QComboBox>(window.get(), "microphones")->count(), 3);
        QCOMPARE(Find<QPushButton>(window.get(), "key5")->geometry(), QRect(64, 112, 41, 49));
        QCOMPARE(Find<QPushButton>(window.get(), "key#")->geometry(), QRect(112, 224, 41, 49));
        QCOMPARE(Find<QLineEdit>(window.get(), "number")->maxLength(), 32);
        QCOMPARE(Text(window.get(), "boothState"), QStringLiteral("Libre"));
        QCOMPARE(Text(window.get(), "duration"), QStringLiteral("00:00:00"));
        QCOMPARE(Text(window.get(), "versionPanel"), QStringLiteral("1.164"));
        auto* grid = Find<QTableWidget>(window.get(), "register");
        QCOMPARE(grid->horizontalHeaderItem(2)->text(), QStringLiteral("Destino"));
        QCOMPARE(grid->horizontalHeaderItem(4)->text(), QStringLiteral("TOTAL"));
        int widths = 0;
        for (int column = 0; column < 5; ++column) widths += grid->columnWidth(column);
        QCOMPARE(widths, grid->width() - 2 * grid->frameWidth());
        QStringList menus;
        for (QAction* menu : window->menuBar()->actions()) menus << menu->text();
        QCOMPARE(menus, (QStringList{"&Archivo", "&Estado", "&Opciones", "&Caja", "A&yuda"}));
        QVERIFY(!Find<QPushButton>(window.get(), "callButton")->isEnabled());
        QVERIFY(Find<QAction>(window.get(), "offlineAction")->isChecked());
        QVERIFY(Find<QLineEdit>(window.get(), "number")->hasFocus());
        const QString shot = QStringLiteral(BOOTH_SCREENSHOT_DIR "/main_window.png");
        QVERIFY(window->grab().save(shot));
        qInfo("screenshot: %s", qPrintable(shot));
    }

    void keypadAppendsAndClearEmpties() {
        auto window = MakeWindow(QStringLiteral("http://127.0.0.1:9"));
        auto* number = Find<QLineEdit>(window.get(), "number");
        for (const char* key : {"key0", "key0", "key5", "key*", "key#"})
            QTest::mouseClick(Find<QPushButton>(window.get(), key), Qt::LeftButton);
        QCOMPARE(number->text(), QStringLiteral("005*#"));
        QTest::mouseClick(Find<QPushButton>(window.get(), "clearButton"), Qt::LeftButton);
        QCOMPARE(number->text(), QString());
    }

    void linksOfTheLogoAndTheAccount() {
        StoreTestAccount();
        TPortalSim sim(TestPortalConfig());
        TLinkRecorder links;
        auto window = MakeWindow(sim.BaseUrl());
        QVERIFY(StartAndWait(*window));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QTest::mouseClick(Find<QLabel>(window.get(), "logo"), Qt::LeftButton);
        QTest::mouseClick(Find<QLabel>(window.get(), "accountValue"), Qt::LeftButton);
        QCOMPARE(links.Links, (QList<QUrl>{WebRootUrl("http://web.test.invalid"),
                                           CallDetailUrl(sim.BaseUrl(), kTestAccount)}));
    }

    void closingAsksAndSavesOnYesOnly() {
        StoreTestAccount();
        TPortalSim sim(TestPortalConfig());
        TModalDriver driver({TModalAnswer::Pressed(QMessageBox::No), TModalAnswer::Pressed(QMessageBox::Yes)});
        auto window = MakeWindow(sim.BaseUrl());
        QVERIFY(StartAndWait(*window));
        window->show();
        Find<QComboBox>(window.get(), "speakers")->setCurrentIndex(2);
        QVERIFY(!window->close());
        QVERIFY(window->isVisible());
        QCOMPARE(TBoothSettings().ReadAccount().WaveOut, QString());
        QVERIFY(window->close());
        QCOMPARE(driver.Seen(), (QStringList{kQuitBox, kQuitBox}));
        QCOMPARE(TBoothSettings().ReadAccount(),
                 (TAccountSettings{kTestAccount, kTestPassword, "Predeterminado", "Speaker Two"}));
    }

    void failedGoingOnLineFromTheMenuIsShownAndTheWindowStays() {
        StoreTestAccount();
        TPortalSim sim(TestPortalConfig());
        sim.Stop();
        QUdpSocket taken;
        QVERIFY(taken.bind(QHostAddress::AnyIPv4, 5075));
        TModalDriver driver({TModalAnswer::Pressed(QMessageBox::Ok)});
        auto window = MakeWindow(sim.BaseUrl());
        QVERIFY(StartAndWait(*window));
        window->show();
        Find<QAction>(window.get(), "onlineAction")->trigger();
        QCOMPARE(driver.Seen(), QStringList{QStringLiteral("Softphone Telvira|bind failed")});
        QVERIFY(window->isEnabled());
        QVERIFY(Find<QAction>(window.get(), "offlineAction")->isChecked());
        QCOMPARE(Text(window.get(), "connectionPanel"), QStringLiteral("Desconectado"));
    }
};
BOOTH_TEST_CLASS(MainWindowStart);

#include "main_window_start_test.moc"
