// The portal client over real HTTP against the simulator on 127.0.0.1: the
// exact requests it sends, the replies it reads, and a portal that fails.
#include <chrono>
#include <memory>

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include "app/portal/portal.h"
#include "app/portal/portal_query.h"
#include "tests/app/portal_sim.h"
#include "tests/app/test_registry.h"

using namespace std::chrono_literals;

namespace {

const QString kAwkwardPassword = QStringLiteral("&#+% ");
const QString kScript = QStringLiteral("/portal/sys/procesar.php");

QStringList BoothConfig(const QString& password, const QString& balance) {
    return {"version|1165",
            "account|1000|" + SimField(password) + "|Cabina%201000|" + SimField(balance),
            "call|1000|01/05/2024 10:00|5491123456789|Argentina Movil|00:02:10|" + SimField("4,40"),
            "call|1000|01/05/2024 11:00|123|Servicio|00:00:20|0,00",
            "account|2000||Cabina 2000|0",
            "rate|54|Argentina|150",
            "rate|549|Argentina Movil|0.50"};
}

// The text of the TPortalError that the call throws; empty when it throws
// nothing.
template <typename F>
QString FailureOf(F&& request) {
    try {
        request();
    } catch (const TPortalError& e) {
        return QString::fromStdString(e.what());
    }
    return QString();
}

}  // namespace

class PortalHttp : public QObject {
    Q_OBJECT

private slots:
    void requestsArriveExactlyAsTyped() {
        TPortalSim sim(BoothConfig(kAwkwardPassword, "1,234.56789"));
        TPortal portal(sim.BaseUrl());
        const TValidationReply start = portal.ValidateAtStart("1000", kAwkwardPassword, "1.164");
        QVERIFY2(!start.Refused(), "the password did not reach the portal intact");
        QCOMPARE(start.Display, QStringLiteral("Cabina 1000"));
        QCOMPARE(start.Balance.TenThousandths, qint64(12345679));
        QCOMPARE(start.Calls[0], (TRegisterRow{"01/05/2024 10:00", "5491123456789", "Argentina Movil", "00:02:10", "4,40"}));
        QCOMPARE(start.Calls[1].Number, QStringLiteral("123"));
        QCOMPARE(start.Calls[2], TRegisterRow{});
        QVERIFY(IsNewerVersion(start.Version, VersionDigits("1.164")));
        QVERIFY(!portal.ValidateAfterEdit("1000", kAwkwardPassword).Refused());
        const TRateReply mobile = portal.DestinationAndRate("1000", kAwkwardPassword, "005491123456789");
        QCOMPARE(mobile.Destination, QStringLiteral("Argentina Movil"));
        QCOMPARE(FormatCurrency(mobile.Rate, QLocale(QLocale::Spanish, QLocale::Argentina)),
                 QStringLiteral("$\u00A050,00"));
        QCOMPARE(portal.DestinationAndRate("1000", kAwkwardPassword, "999123").Destination,
                 QStringLiteral("Destino desconocido"));
        QCOMPARE(portal.BalanceAndRegister("1000", kAwkwardPassword).Calls[1].Destination, QStringLiteral("Servicio"));

        const QString credentials = "?id=1000&dv=%26%23%2B%25%20";
        QCOMPARE(sim.Targets(), (QStringList{kScript + credentials + "&ac=va&ve=1164",
                                             kScript + credentials + "&ac=va",
                                             kScript + credentials + "&ac=de&vl=5491123456789",
                                             kScript + credentials + "&ac=de&vl=999123",
                                             kScript + credentials + "&ac=cr"}));
    }

    void headersConnectionsAndCookies() {
        TPortalSim sim(BoothConfig("clave", "0"));
        TPortal portal(sim.BaseUrl());
        portal.ValidateAtStart("1000", "clave", "1.164");
        portal.ValidateAfterEdit("1000", "clave");
        portal.BalanceAndRegister("1000", "clave");
        const QList<TLoggedRequest> requests = sim.Requests();
        QCOMPARE(requests.size(), 3);
        for (const TLoggedRequest& request : requests) {
            QCOMPARE(request.Method, QStringLiteral("GET"));
            QCOMPARE(request.Accept, QStringLiteral("text/html, */*"));
            QCOMPARE(request.UserAgent, QStringLiteral("3c1e7a90b24d5f68e0a9c7b1d2f4e608"));
        }
        // Every request on a connection of its own; the validation client
        // sends back the cookie of its first answer, the other client has none.
        QCOMPARE(requests[0].Connection, 1);
        QCOMPARE(requests[1].Connection, 2);
        QCOMPARE(requests[2].Connection, 3);
        QCOMPARE(requests[0].Cookie, QString());
        QCOMPARE(requests[1].Cookie, QStringLiteral("sesion=1"));
        QCOMPARE(requests[2].Cookie, QString());
    }

    void refusedAccountAndEmptyPassword() {
        TPortalSim sim(BoothConfig("clave", "0"));
        TPortal portal(sim.BaseUrl());
        QVERIFY(portal.ValidateAtStart("1000", "Clave", "1.164").Refused());
        QVERIFY(portal.ValidateAtStart("1000", "", "1.164").Refused());
        QVERIFY(!portal.ValidateAtStart("2000", "", "1.164").Refused());
        QCOMPARE(sim.Targets().last(), kScript + "?id=2000&dv=&ac=va&ve=1164");
    }

    void debtIsShownNegative() {
        TPortalSim sim(BoothConfig("clave", "-1,234.56789"));
        TPortal portal(sim.BaseUrl());
        const TMoney balance = portal.BalanceAndRegister("1000", "clave").Balance;
        QCOMPARE(balance.TenThousandths, qint64(-12345679));
        QCOMPARE(FormatCurrency(balance, QLocale::c()), QStringLiteral("-1234.57"));
    }

    void balanceReplies_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<qint64>("balance");
        QTest::newRow("tagged") << "<cr>1234.56789</cr>" << qint64(12345679);
        QTest::newRow("no closing tag") << "<cr>1234.56789" << qint64(0);
        QTest::newRow("no opening tag: from the fourth character") << "xyz2345</cr>" << qint64(234);
        QTest::newRow("no tags") << "1234.56789" << qint64(0);
        QTest::newRow("closing first") << "</cr>9<cr>" << qint64(0);
    }
    void balanceReplies() {
        QFETCH(QString, body);
        QFETCH(qint64, balance);
        TPortalSim sim({"reply|cr|" + SimField(body)});
        TPortal portal(sim.BaseUrl());
        QCOMPARE(portal.BalanceAndRegister("1", "x").Balance.TenThousandths, balance);
    }

    void rateReplies_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<qint64>("rate");
        QTest::newRow("tagged") << "<de>Peru</de>\n<vv>150</vv>" << "Peru" << qint64(1500000);
        QTest::newRow("rate closing first") << "<de>Peru</de></vv>7<vv>" << "Peru" << qint64(0);
        QTest::newRow("no rate") << "<de>Peru</de>" << "Peru" << qint64(0);
        QTest::newRow("destination unclosed") << "<de>Peru<vv>5</vv>" << "" << qint64(50000);
    }
    void rateReplies() {
        QFETCH(QString, body);
        QFETCH(QString, destination);
        QFETCH(qint64, rate);
        TPortalSim sim({"reply|de|" + SimField(body)});
        TPortal portal(sim.BaseUrl());
        const TRateReply reply = portal.DestinationAndRate("1", "x", "0051");
        QCOMPARE(reply.Destination, destination);
        QCOMPARE(reply.Rate.TenThousandths, rate);
    }

    void replyWithoutTags() {
        TPortalSim sim({}, {"--no-tags"});
        TPortal portal(sim.BaseUrl());
        // A page without the account is no log-in with a blank account.
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, portal.ValidateAtStart("1000", "clave", "1.164"));
        QCOMPARE(portal.DestinationAndRate("1000", "clave", "0051").Rate.TenThousandths, qint64(0));
    }

    void silentPortalTimesOutWhileEventsRun() {
        TPortalSim sim({}, {"--hang"});
        TPortal portal(sim.BaseUrl(), nullptr, 400ms);
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, this, [&ticks] { ++ticks; });
        timer.start(20);
        QElapsedTimer elapsed;
        elapsed.start();
        const QString failure = FailureOf([&] { portal.ValidateAtStart("1000", "clave", "1.164"); });
        QVERIFY2(failure.contains("400 ms"), qPrintable(failure));
        QVERIFY(elapsed.elapsed() >= 400);
        QVERIFY(elapsed.elapsed() < 10000);
        QVERIFY2(ticks >= 5, "the event loop did not run while the request waited");
        QCOMPARE(sim.Targets().size(), 1);
    }

    void portalDown() {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 port = probe.serverPort();
        probe.close();
        TPortal portal(QStringLiteral("http://127.0.0.1:%1").arg(port), nullptr, 5s);
        QElapsedTimer elapsed;
        elapsed.start();
        const QString failure = FailureOf([&] { portal.BalanceAndRegister("1000", "clave"); });
        QVERIFY2(failure.contains("refused", Qt::CaseInsensitive), qPrintable(failure));
        QVERIFY(elapsed.elapsed() < 4000);
    }

    void httpErrorStatusFailsWithoutShowingThePassword() {
        TPortalSim sim({}, {"--status", "503"});
        TPortal portal(sim.BaseUrl());
        const QString failure = FailureOf([&] { portal.ValidateAtStart("1000", "SecretoXYZ", "1.164"); });
        QVERIFY2(failure.contains("503"), qPrintable(failure));
        QVERIFY(!failure.contains("SecretoXYZ"));
    }

    // A request started while another one waits, on another client and on
    // the same one: both complete, each on its own connection.
    void requestsInsideRequests() {
        TPortalSim sim(BoothConfig("clave", "100000"), {"--delay", "300"});
        TPortal portal(sim.BaseUrl(), nullptr, 5s);
        QString innerRate;
        bool innerValidated = false;
        QTimer::singleShot(50, this, [&] {
            innerRate = portal.DestinationAndRate("1000", "clave", "0054").Destination;
            innerValidated = !portal.ValidateAfterEdit("1000", "clave").Refused();
        });
        const TValidationReply outer = portal.ValidateAtStart("1000", "clave", "1.164");
        QTRY_VERIFY_WITH_TIMEOUT(innerValidated, 30000);
        QCOMPARE(outer.Balance.TenThousandths, qint64(10000));
        QCOMPARE(innerRate, QStringLiteral("Argentina"));
        const QList<TLoggedRequest> requests = sim.Requests();
        QCOMPARE(requests.size(), 3);
        QCOMPARE(requests[0].Connection, 1);
        QCOMPARE(requests[1].Connection, 2);
        QCOMPARE(requests[2].Connection, 3);
    }

    void portalDestroyedWhileWaiting() {
        TPortalSim sim({}, {"--hang"});
        auto portal = std::make_unique<TPortal>(sim.BaseUrl(), nullptr, 5s);
        TPortal* const raw = portal.get();
        QTimer::singleShot(100, this, [&portal] { portal.reset(); });
        const QString failure = FailureOf([&] { raw->ValidateAtStart("1000", "clave", "1.164"); });
        QVERIFY2(failure.contains("closed"), qPrintable(failure));
        QVERIFY(!portal);
    }
};
BOOTH_TEST_CLASS(PortalHttp);

#include "portal_http_test.moc"
