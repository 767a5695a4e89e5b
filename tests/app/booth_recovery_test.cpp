// Whole booth sessions on a bad day, against portal-sim and Kamailio on
// 127.0.0.1:5060 (account alice/alicepw): the portal or the SIP server down
// at start and coming up later, and a call whose rate request is never
// answered. The waits between attempts are shortened, nothing else.
#include <chrono>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/booth/booth_texts.h"
#include "tests/app/booth_test_support.h"
#include "tests/app/kamailio_process.h"
#include "tests/app/modal_driver.h"
#include "tests/app/portal_sim.h"
#include "tests/app/sipp_peer.h"
#include "tests/app/test_registry.h"

namespace {

using namespace std::chrono_literals;

constexpr int kSipMs = 30000;
// The engine gives up on an unanswered REGISTER after 20 s; the rest is
// room for a busy machine.
constexpr int kRegisterGivesUpMs = 60000;

QStringList AliceConfig() {
    return {QStringLiteral("account|alice|alicepw|Alice|100000000"),
            QStringLiteral("rate|5411|%1|150").arg(SimField("Argentina Buenos Aires"))};
}

QString Text(QObject* window, const char* label) { return Find<QLabel>(window, label)->text(); }

bool ShowsOnline(QObject* window) {
    return Text(window, "connectionPanel") == QString::fromUtf8("En Línea") &&
           Find<QAction>(window, "onlineAction")->isChecked();
}

int RateRequests(const TPortalSim& sim) {
    int count = 0;
    for (const QString& target : sim.Targets()) count += target.contains(u"&ac=de&") ? 1 : 0;
    return count;
}

}  // namespace

class BoothRecovery : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        UseBoothTestLocale();
        qputenv("SOFTPHONE_MIC", "null");
        qputenv("SOFTPHONE_SPEAKER", "null");
    }
    void init() {
        ClearBoothSettings();
        TBoothSettings().WriteAccount({"alice", "alicepw", QString(), QString()});
    }

    // The window shows at once while the portal is away, says so, and goes
    // on line by itself once the portal answers.
    void portalDownAtStartThenUp() {
        TKamailioProcess kamailio;
        if (!kamailio.Ready()) QSKIP("Kamailio is not installed or did not start");
        const quint16 port = FreeTcpPort();
        TModalDriver boxes;
        auto window = MakeWindow(QStringLiteral("http://127.0.0.1:%1").arg(port), QStringLiteral("127.0.0.1:5060"));
        QObject* w = window.get();
        window->SetRetryDelays(300ms, 1s);
        window->Start();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QTRY_COMPARE_WITH_TIMEOUT(Text(w, "textPanel"), QStringLiteral("Portal no disponible"), kSipMs);
        QCOMPARE(Text(w, "accountValue"), QStringLiteral("00000"));
        QVERIFY(!ShowsOnline(w));

        TPortalSim sim(AliceConfig(), {}, port);
        QTRY_VERIFY_WITH_TIMEOUT(ShowsOnline(w), kSipMs);
        QCOMPARE(Text(w, "accountValue"), QStringLiteral("Alice"));
        QCOMPARE(Text(w, "textPanel"), QString::fromUtf8(kStatusLineText));
        QCOMPARE(boxes.Seen(), QStringList{});
    }

    // A portal that takes the connection and never answers: the window is
    // up and says it is validating.
    void hangingPortalDoesNotHoldTheWindow() {
        TPortalSim sim(AliceConfig(), {"--hang"});
        TModalDriver boxes;
        auto window = MakeWindow(sim.BaseUrl());
        window->Start();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QCOMPARE(Text(window.get(), "textPanel"), QString::fromUtf8(kValidatingText));
        QTRY_COMPARE_WITH_TIMEOUT(sim.Targets().size(), 1, kSipMs);
    }

    void sipServerDownAtStartThenUp() {
        TPortalSim sim(AliceConfig());
        TModalDriver boxes;
        auto window = MakeWindow(sim.BaseUrl(), QStringLiteral("127.0.0.1:5060"));
        QObject* w = window.get();
        window->SetRetryDelays(300ms, 1s);
        QVERIFY(StartAndWait(*window));
        QCOMPARE(Text(w, "accountValue"), QStringLiteral("Alice"));
        QTRY_COMPARE_WITH_TIMEOUT(Text(w, "textPanel"), QStringLiteral("Servidor SIP no responde"), kRegisterGivesUpMs);
        QVERIFY(!ShowsOnline(w));

        TKamailioProcess kamailio;
        if (!kamailio.Ready()) QSKIP("Kamailio is not installed or did not start");
        QTRY_VERIFY_WITH_TIMEOUT(ShowsOnline(w), kRegisterGivesUpMs);
        QCOMPARE(Text(w, "textPanel"), QString::fromUtf8(kStatusLineText));
        QCOMPARE(boxes.Seen(), QStringList{});
    }

    // The portal takes a password the registrar does not: the booth says
    // the account was refused rather than that the server is silent.
    void sipServerRefusesTheAccount() {
        TKamailioProcess kamailio;
        if (!kamailio.Ready()) QSKIP("Kamailio is not installed or did not start");
        TBoothSettings().WriteAccount({"alice", "stale", QString(), QString()});
        TPortalSim sim({QStringLiteral("account|alice|stale|Alice|100000000")});
        TModalDriver boxes;
        auto window = MakeWindow(sim.BaseUrl(), QStringLiteral("127.0.0.1:5060"));
        window->SetRetryDelays(60s, 60s);
        QVERIFY(StartAndWait(*window));
        QTRY_COMPARE_WITH_TIMEOUT(Text(window.get(), "textPanel"), QStringLiteral("Cuenta rechazada"), kSipMs);
        QVERIFY(!ShowsOnline(window.get()));
    }

    // The rate request is never answered: the call goes on, the booth says
    // the rate is missing where rate and cost stand, keeps asking with a
    // growing pause, and the call still ends and refreshes normally.
    void rateReplyThatNeverComes() {
        if (!TSippPeer::Installed()) QSKIP("SIPp is not installed");
        TKamailioProcess kamailio({QStringLiteral("NOPROXYAUTH")});
        if (!kamailio.Ready()) QSKIP("Kamailio is not installed or did not start");
        TPortalSim sim(AliceConfig(), {"--hang-action", "de"});
        TSippPeer peer(QStringLiteral("uas_answer_late.xml"));
        TModalDriver boxes;
        auto window = MakeWindow(sim.BaseUrl(), QStringLiteral("127.0.0.1:5060"));
        QObject* w = window.get();
        window->CallFlow().SetRateRetries({400ms, 300ms, 1200ms});
        QVERIFY(StartAndWait(*window));
        QTRY_VERIFY_WITH_TIMEOUT(ShowsOnline(w), kSipMs);

        Find<QLineEdit>(w, "number")->setText(QStringLiteral("00541155551234@127.0.0.1:%1").arg(peer.Port()));
        Find<QPushButton>(w, "callButton")->click();
        const QString missing = QString::fromUtf8(kRateUnavailableText);
        QTRY_COMPARE_WITH_TIMEOUT(Text(w, "ratePerMinute"), missing, kSipMs);
        QTRY_COMPARE_WITH_TIMEOUT(Text(w, "boothState"), QStringLiteral("Llamada en Curso"), kSipMs);
        QTRY_VERIFY_WITH_TIMEOUT(Text(w, "duration") >= QStringLiteral("00:00:02"), kSipMs);
        QCOMPARE(Text(w, "totalCost"), missing);
        QCOMPARE(Text(w, "destination"), QStringLiteral("---"));
        // The rate is asked again and again while it does not come.
        QTRY_VERIFY_WITH_TIMEOUT(RateRequests(sim) >= 3, kSipMs);

        Find<QPushButton>(w, "hangUpButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(window->ReadyToCall(), kSipMs);
        QCOMPARE(Text(w, "boothState"), QStringLiteral("Libre"));
        QCOMPARE(Text(w, "textPanel"), QStringLiteral("Llamada finalizada"));
        QVERIFY(peer.Finish());
        QCOMPARE(boxes.Seen(), QStringList{});
    }
};
BOOTH_TEST_CLASS(BoothRecovery);

#include "booth_recovery_test.moc"
