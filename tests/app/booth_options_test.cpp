// Where the booth finds its provider, the device list choice and which calls
// closing ends: tables of command lines, stored values, names and states.
#include <stdexcept>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include "app/booth/booth_options.h"
#include "app/booth/call_rules.h"
#include "app/portal/provider.h"
#include "app/ui/device_lists.h"
#include "tests/app/child_process.h"
#include "tests/app/test_registry.h"

class BoothOptions : public QObject {
    Q_OBJECT

private slots:
    void sipServerForms_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("name") << "sip1.telvira.example" << true;
        QTest::newRow("address and port") << "127.0.0.1:5060" << true;
        QTest::newRow("highest port") << "host:65535" << true;
        QTest::newRow("port zero") << "host:0" << false;
        QTest::newRow("port too high") << "host:65536" << false;
        QTest::newRow("signed port") << "host:+5060" << false;
        QTest::newRow("empty port") << "host:" << false;
        QTest::newRow("no host") << ":5060" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("two colons") << "a:1:2" << false;
        QTest::newRow("URI, not a host") << "sip:host" << false;
        QTest::newRow("blank inside") << "ho st" << false;
    }
    void sipServerForms() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QCOMPARE(IsSipServerAddress(text), valid);
    }

    void webAddressForms_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("http with port") << "http://127.0.0.1:8080" << true;
        QTest::newRow("https") << "https://portal.example" << true;
        QTest::newRow("no scheme") << "portal.example" << false;
        QTest::newRow("ftp") << "ftp://portal.example" << false;
        QTest::newRow("no host") << "http://" << false;
        QTest::newRow("empty") << "" << false;
    }
    void webAddressForms() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QCOMPARE(IsWebAddress(text), valid);
    }

    void commandLineWinsOverSettingsOverDefaults() {
        const TProviderSettings none;
        const TProviderSettings stored{"10.0.0.1:5070", "http://stored:1", "http://storedweb:2"};
        const TProviderSettings given{"127.0.0.1:5060", "http://127.0.0.1:8000", "http://127.0.0.1:8001"};
        const TProviderAddresses defaults{DefaultSipServers().first(), DefaultPortalBaseUrl(), DefaultWebBaseUrl()};
        QCOMPARE(ResolveProviderAddresses(none, none), defaults);
        QCOMPARE(defaults.SipServer, QStringLiteral("sip1.telvira.example"));
        QCOMPARE(ResolveProviderAddresses(none, stored),
                 (TProviderAddresses{stored.SipServer, stored.PortalUrl, stored.WebUrl}));
        QCOMPARE(ResolveProviderAddresses(given, stored),
                 (TProviderAddresses{given.SipServer, given.PortalUrl, given.WebUrl}));
        // Each address on its own: a command line naming only the portal.
        QCOMPARE(ResolveProviderAddresses({"", "http://127.0.0.1:8000", ""}, stored),
                 (TProviderAddresses{stored.SipServer, "http://127.0.0.1:8000", stored.WebUrl}));
        // A damaged stored value falls back to the provider's own.
        QCOMPARE(ResolveProviderAddresses(none, {"bad host:x", "nonsense", "also nonsense"}), defaults);
    }

    void commandLineOptions() {
        const TCommandLine line = ParseCommandLine({"softphone", "--sip-server", "127.0.0.1:5060", "--portal-url",
                                                    "http://127.0.0.1:8000", "--web-url=http://127.0.0.1:8001"});
        QCOMPARE(line.Overrides.SipServer, QStringLiteral("127.0.0.1:5060"));
        QCOMPARE(line.Overrides.PortalUrl, QStringLiteral("http://127.0.0.1:8000"));
        QCOMPARE(line.Overrides.WebUrl, QStringLiteral("http://127.0.0.1:8001"));
        QVERIFY(ParseCommandLine({"softphone"}).Overrides.SipServer.isEmpty());
        const TCommandLine demo = ParseCommandLine({"softphone", "--demo-call", "5491155550000", "--screenshots", "/tmp/x"});
        QCOMPARE(demo.DemoCall, QStringLiteral("5491155550000"));
        QCOMPARE(demo.ScreenshotDir, QStringLiteral("/tmp/x"));
    }

    void commandLineRefusals_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("unknown option") << QStringList{"softphone", "--sip", "x"};
        QTest::newRow("missing value") << QStringList{"softphone", "--portal-url"};
        QTest::newRow("bad server") << QStringList{"softphone", "--sip-server", "host:99999"};
        QTest::newRow("bad portal") << QStringList{"softphone", "--portal-url", "127.0.0.1:8000"};
        QTest::newRow("bad web") << QStringList{"softphone", "--web-url", "www"};
        QTest::newRow("stray argument") << QStringList{"softphone", "extra"};
        QTest::newRow("pictures without a call") << QStringList{"softphone", "--screenshots", "/tmp/x"};
    }
    void commandLineRefusals() {
        QFETCH(QStringList, arguments);
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, ParseCommandLine(arguments));
    }

    void deviceListChoice_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("index");
        QTest::newRow("nothing stored: Default") << "" << 0;
        QTest::newRow("exact name") << "USB Headset" << 2;
        QTest::newRow("letter case ignored") << "usb headset" << 2;
        QTest::newRow("first of two equal names") << "Line" << 1;
        QTest::newRow("Default by name") << "DEFAULT" << 0;
        QTest::newRow("the default as shown") << "Predeterminado" << 0;
        QTest::newRow("unplugged device: no selection") << "Old Card" << -1;
        QTest::newRow("prefix is no match") << "USB" << -1;
    }
    void deviceListChoice() {
        QFETCH(QString, stored);
        QFETCH(int, index);
        const QStringList entries = DeviceListEntries({"Line", "USB Headset", "line"});
        QCOMPARE(entries.first(), QStringLiteral("Predeterminado"));
        QCOMPARE(entries.size(), 4);
        QCOMPARE(DeviceListSelection(entries, stored), index);
    }

    void callsHungUpOnClose_data() {
        QTest::addColumn<bool>("incoming");
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("hangUp");
        QTest::newRow("outgoing, ringing") << false << int(csRinging) << true;
        QTest::newRow("outgoing, calling") << false << int(csCalling) << true;
        QTest::newRow("outgoing, connected") << false << int(csConnected) << true;
        QTest::newRow("incoming, ringing: left alone") << true << int(csRinging) << false;
        QTest::newRow("incoming, connected") << true << int(csConnected) << true;
        QTest::newRow("incoming, holding") << true << int(csHolding) << true;
    }
    void callsHungUpOnClose() {
        QFETCH(bool, incoming);
        QFETCH(int, state);
        QFETCH(bool, hangUp);
        QCOMPARE(IsCallToHangUp(incoming, static_cast<TCallState>(state)), hangUp);
    }

    // Whether a window can be opened at all, from the environment alone.
    void displayAvailable_data() {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("wayland");
        QTest::addColumn<bool>("available");
        QTest::newRow("nothing") << "" << "" << "" << false;
        QTest::newRow("X display") << "" << ":0" << "" << true;
        QTest::newRow("Wayland") << "" << "" << "wayland-0" << true;
        QTest::newRow("xcb asked, no X") << "xcb" << "" << "wayland-0" << false;
        QTest::newRow("wayland asked, no Wayland") << "wayland" << ":0" << "" << false;
        QTest::newRow("list, second there") << "wayland;xcb" << ":0" << "" << true;
        QTest::newRow("offscreen needs none") << "offscreen" << "" << "" << true;
        QTest::newRow("xcb with options") << "xcb:nomitshm" << ":1" << "" << true;
    }
    void displayAvailable() {
        QFETCH(QString, platform);
        QFETCH(QString, display);
        QFETCH(QString, wayland);
        QFETCH(bool, available);
        QProcessEnvironment environment;
        if (!platform.isEmpty()) environment.insert("QT_QPA_PLATFORM", platform);
        if (!display.isEmpty()) environment.insert("DISPLAY", display);
        if (!wayland.isEmpty()) environment.insert("WAYLAND_DISPLAY", wayland);
        QCOMPARE(DisplayAvailable(environment), available);
    }

    // The real program answers --help and --version, and says why it cannot
    // start without a display, on any terminal and before any window.
    void programWithoutAWindow_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("display");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");  // on stdout for 0, stderr otherwise
        QTest::newRow("--help") << QStringList{"--help"} << false << 0 << "Uso: softphone [opciones]";
        QTest::newRow("-h") << QStringList{"-h"} << false << 0 << "--demo-call";
        QTest::newRow("--version") << QStringList{"--version"} << false << 0 << "softphone 1.164";
        QTest::newRow("no display") << QStringList{} << false << 1 << "no se encontró una pantalla";
        QTest::newRow("unknown option") << QStringList{"--nope"} << true << 2 << "nope";
    }
    void programWithoutAWindow() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, display);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) environment.remove(name);
        if (display) environment.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(environment);
        DieWithTest(program);
        program.start(QStringLiteral(SOFTPHONE_PATH), arguments);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), exitCode);
        const QString output =
            QString::fromUtf8(exitCode == 0 ? program.readAllStandardOutput() : program.readAllStandardError());
        QVERIFY2(output.contains(said), qPrintable(output));
    }
};
BOOTH_TEST_CLASS(BoothOptions);

#include "booth_options_test.moc"
