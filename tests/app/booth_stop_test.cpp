// The real booth program stopped from outside during a call (SIGTERM, as a
// shutdown or a logout sends it): the far end hears BYE and the registrar an
// un-REGISTER before the program exits. Kamailio on 127.0.0.1:5060 is the
// registrar, SIPp the far end, portal-sim the portal.
#include <signal.h>
#include <sys/types.h>

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include "tests/app/booth_test_support.h"
#include "tests/app/child_process.h"
#include "tests/app/kamailio_process.h"
#include "tests/app/portal_sim.h"
#include "tests/app/sipp_peer.h"
#include "tests/app/test_registry.h"

namespace {

int UnRegisters(const TKamailioProcess& kamailio) {
    return static_cast<int>(kamailio.Log().count(QRegularExpression(QStringLiteral("REQ REGISTER [^\\n]*expires=0"))));
}

}  // namespace

class BoothStop : public QObject {
    Q_OBJECT

private slots:
    void stopSignalsEndTheCallAndTheRegistration_data() {
        QTest::addColumn<bool>("interrupt");
        QTest::newRow("SIGTERM") << false;
        QTest::newRow("SIGINT") << true;
    }
    void stopSignalsEndTheCallAndTheRegistration() {
        QFETCH(bool, interrupt);
        if (!TSippPeer::Installed()) QSKIP("SIPp is not installed");
        TKamailioProcess kamailio({QStringLiteral("NOPROXYAUTH")});
        if (!kamailio.Ready()) QSKIP("Kamailio is not installed or did not start");
        ClearBoothSettings();
        TBoothSettings().WriteAccount({QStringLiteral("alice"), QStringLiteral("alicepw"), QString(), QString()});
        TPortalSim sim({QStringLiteral("account|alice|alicepw|Alice|100000000"),
                        QStringLiteral("rate|5411|%1|150").arg(SimField("Argentina Buenos Aires"))});
        TSippPeer peer(QStringLiteral("uas_answer_late.xml"));

        QProcess booth;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("XDG_CONFIG_HOME", IsolatedConfigHome());
        environment.insert("XDG_RUNTIME_DIR", IsolatedRuntimeDir());
        booth.setProcessEnvironment(environment);
        booth.setProcessChannelMode(QProcess::ForwardedChannels);
        DieWithTest(booth);
        booth.start(QStringLiteral(SOFTPHONE_PATH),
                    {"--portal-url", sim.BaseUrl(), "--sip-server", "127.0.0.1:5060", "--demo-call",
                     QStringLiteral("00541155551234@127.0.0.1:%1").arg(peer.Port())});
        QVERIFY(booth.waitForStarted(5000));
        // Answered: the ACK has passed the registrar on its way to the peer.
        QTRY_VERIFY_WITH_TIMEOUT(kamailio.Log().contains(QStringLiteral("REQ ACK ")), 30000);
        QCOMPARE(UnRegisters(kamailio), 0);
        if (interrupt)
            ::kill(static_cast<pid_t>(booth.processId()), SIGINT);
        else
            booth.terminate();
        QVERIFY(booth.waitForFinished(10000));
        // Ended by its own hand, not by the signal.
        QCOMPARE(booth.exitStatus(), QProcess::NormalExit);
        QVERIFY(peer.Finish(5000));  // its scenario ends with the BYE answered
        QVERIFY2(UnRegisters(kamailio) > 0, qPrintable(kamailio.Log().right(2000)));
    }
};
BOOTH_TEST_CLASS(BoothStop);

#include "booth_stop_test.moc"
