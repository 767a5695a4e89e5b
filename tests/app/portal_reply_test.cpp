// The portal's reply rules and the booth's request texts, as tables.
#include <stdexcept>

#include <QTest>

#include "app/portal/portal_client.h"
#include "app/portal/portal_query.h"
#include "app/portal/portal_reply.h"
#include "app/portal/provider.h"
#include "tests/app/test_registry.h"

class PortalReply : public QObject {
    Q_OBJECT

private slots:
    void extractClamps_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("value");
        QTest::newRow("both tags in order") << "x<cr>12,5</cr>y" << "12,5";
        QTest::newRow("not trimmed") << "<cr> 7 </cr>" << " 7 ";
        QTest::newRow("empty between tags") << "<cr></cr>" << "";
        QTest::newRow("closing tag absent") << "<cr>123" << "";
        QTest::newRow("both absent") << "no tags here" << "";
        QTest::newRow("opening tag absent: from the fourth character") << "abcdefg</cr>" << "defg";
        QTest::newRow("opening absent, closing early") << "ab</cr>" << "";
        QTest::newRow("closing before opening") << "</cr>5<cr>6" << "";
        QTest::newRow("first occurrences") << "<cr>1</cr><cr>2</cr>" << "1";
        QTest::newRow("opening absent, closing first: negative length") << "</cr>abc" << "";
        QTest::newRow("empty reply") << "" << "";
    }
    void extractClamps() {
        QFETCH(QString, reply);
        QFETCH(QString, value);
        QCOMPARE(Extract(reply, QStringLiteral("<cr>"), QStringLiteral("</cr>")), value);
    }

    void digits_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("digits");
        QTest::newRow("separators dropped") << "1,234.56789" << "123456789";
        QTest::newRow("sign dropped") << "-5" << "5";
        QTest::newRow("empty gives zero") << "" << "0";
        QTest::newRow("no digits gives zero") << "abc" << "0";
        QTest::newRow("stops at NUL") << QString::fromUtf16(u"12\u0000" u"34", 5) << "12";
        QTest::newRow("NUL first") << QString::fromUtf16(u"\u0000" u"12", 3) << "0";
        QTest::newRow("only ASCII digits") << QString::fromUtf16(u"\u0661\u0662" u"3") << "3";
    }
    void digits() {
        QFETCH(QString, text);
        QFETCH(QString, digits);
        QCOMPARE(Digits(text), digits);
    }

    void balanceAndRate_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("balance");
        QTest::addColumn<qint64>("rate");
        QTest::newRow("decimal point") << "1234.56789" << qint64(12345679) << qint64(1234567890000);
        QTest::newRow("grouped") << "1,234.56789" << qint64(12345679) << qint64(1234567890000);
        QTest::newRow("bare") << "123456789" << qint64(12345679) << qint64(1234567890000);
        QTest::newRow("rate 150") << "150" << qint64(15) << qint64(1500000);
        QTest::newRow("rate 0.50 is fifty") << "0.50" << qint64(5) << qint64(500000);
        QTest::newRow("empty") << "" << qint64(0) << qint64(0);
        QTest::newRow("debt keeps its sign") << "-1234.56789" << qint64(-12345679) << qint64(1234567890000);
        QTest::newRow("debt after blanks") << " \t-100000" << qint64(-10000) << qint64(1000000000);
        QTest::newRow("inner minus is no sign") << "100000-" << qint64(10000) << qint64(1000000000);
    }
    void balanceAndRate() {
        QFETCH(QString, text);
        QFETCH(qint64, balance);
        QFETCH(qint64, rate);
        QCOMPARE(Balance(text).TenThousandths, balance);
        QCOMPARE(Rate(text).TenThousandths, rate);
    }

    void numbersTooLargeFail() {
        QVERIFY_THROWS_EXCEPTION(std::overflow_error, Balance(QStringLiteral("99999999999999999999")));
        QVERIFY_THROWS_EXCEPTION(std::overflow_error, Rate(QStringLiteral("922337203685478")));
        QCOMPARE(Balance(QStringLiteral("9223372036854775807")).TenThousandths, qint64(922337203685477581));
    }

    void validationReply() {
        const QString accepted = QStringLiteral(
            "<er></er><va>Cabina 7</va><cr>500000</cr>"
            "<f0>01/05 10:00</f0><n0>5491123</n0><d0>Argentina</d0><t0>00:01:10</t0><v0>3,00</v0>"
            "<f4>02/05</f4><v4>9</v4><ve>1165</ve>");
        const TValidationReply reply = ParseValidation(accepted);
        QVERIFY(!reply.Refused());
        QCOMPARE(reply.Display, QStringLiteral("Cabina 7"));
        QCOMPARE(reply.Balance.TenThousandths, qint64(50000));
        QCOMPARE(reply.Calls[0], (TRegisterRow{"01/05 10:00", "5491123", "Argentina", "00:01:10", "3,00"}));
        QCOMPARE(reply.Calls[1], TRegisterRow{});
        QCOMPARE(reply.Calls[4], (TRegisterRow{"02/05", "", "", "", "9"}));
        QCOMPARE(reply.Version, QStringLiteral("1165"));
        QVERIFY(ParseValidation(QStringLiteral("<er> </er><cr>5</cr>")).Refused());
        QVERIFY(!ParseValidation(QStringLiteral("<va></va><cr>5</cr>")).Refused());
        // Neither a refusal nor an account: an error page, a reply cut short.
        for (const char* garbage : {"<cr>5</cr>", "<va>Cabina 7</va>", "<html>Error 500</html>", "<va>x<cr>5</cr>",
                                    "</va><va><cr>5</cr>", ""})
            QVERIFY_THROWS_EXCEPTION(std::invalid_argument, ParseValidation(QString::fromLatin1(garbage)));
    }

    // Whether a rate reply holds a rate to go by; without one the booth
    // must not price the call at zero.
    void rateReplyPriced_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("priced");
        QTest::newRow("whole") << "<de>Argentina</de><vv>150</vv>" << true;
        QTest::newRow("free destination") << "<de>Servicio</de><vv>0</vv>" << true;
        QTest::newRow("no tags") << "<html>Error interno</html>" << false;
        QTest::newRow("tags out of order") << "<de>Argentina</de></vv>150<vv>" << false;
        QTest::newRow("empty rate") << "<de>Argentina</de><vv></vv>" << false;
        QTest::newRow("cut short") << "<de>Argentina</de><vv>15" << false;
    }
    void rateReplyPriced() {
        QFETCH(QString, reply);
        QFETCH(bool, priced);
        QCOMPARE(ParseRate(reply).Priced, priced);
    }

    void versionComparison() {
        QVERIFY(!IsNewerVersion(QStringLiteral("1164"), VersionDigits(QStringLiteral("1.164"))));
        QVERIFY(!IsNewerVersion(QStringLiteral("1000"), QStringLiteral("1164")));
        QVERIFY(IsNewerVersion(QStringLiteral("1165"), QStringLiteral("1164")));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, IsNewerVersion(QStringLiteral("1.165"), QStringLiteral("1164")));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, IsNewerVersion(QString(), QStringLiteral("1164")));
    }

    void queries_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("expected");
        const QString v = VersionDigits(QStringLiteral("1.164"));
        QTest::newRow("start") << StartValidationQuery("1000", "clave", v) << "?id=1000&dv=clave&ac=va&ve=1164";
        QTest::newRow("start, empty password") << StartValidationQuery("1000", "", v) << "?id=1000&dv=&ac=va&ve=1164";
        QTest::newRow("start, empty account") << StartValidationQuery("", "", v) << "?id=&dv=&ac=va&ve=1164";
        QTest::newRow("edit") << EditValidationQuery("1000", "clave") << "?id=1000&dv=clave&ac=va";
        QTest::newRow("balance") << BalanceQuery("1000", "clave") << "?id=1000&dv=clave&ac=cr";
        QTest::newRow("rate, 00 removed") << RateQuery("1000", "clave", PortalNumber("005491123456789"))
                                          << "?id=1000&dv=clave&ac=de&vl=5491123456789";
        QTest::newRow("rate, 999") << RateQuery("1000", "clave", PortalNumber("999123")) << "?id=1000&dv=clave&ac=de&vl=999123";
        QTest::newRow("rate, one 00 only") << RateQuery("1000", "c", PortalNumber("0000")) << "?id=1000&dv=c&ac=de&vl=00";
        QTest::newRow("reserved characters") << BalanceQuery("1000", "a&b#c+d%e f") << "?id=1000&dv=a%26b%23c%2Bd%25e%20f&ac=cr";
        QTest::newRow("not ASCII") << BalanceQuery("1000", "contraseña") << "?id=1000&dv=contrase%C3%B1a&ac=cr";
        QTest::newRow("keypad symbols") << RateQuery("1000", "c", "*#1") << "?id=1000&dv=c&ac=de&vl=%2A%231";
    }
    void queries() {
        QFETCH(QString, query);
        QFETCH(QString, expected);
        QCOMPARE(query, expected);
    }

    void addresses_data() {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("script on the default portal")
            << PortalScriptUrl(DefaultPortalBaseUrl(), "?id=1&dv=%26&ac=cr")
            << QByteArray("http://portal.telvira.example/portal/sys/procesar.php?id=1&dv=%26&ac=cr");
        QTest::newRow("call details, encoded, no password")
            << CallDetailUrl(DefaultPortalBaseUrl(), "10&0 0")
            << QByteArray("http://portal.telvira.example/portal/tarificador/cdr.php?usuario=10%260%200");
        QTest::newRow("local portal, trailing slash")
            << PortalScriptUrl("http://127.0.0.1:8080/", "?id=1") << QByteArray("http://127.0.0.1:8080/portal/sys/procesar.php?id=1");
        QTest::newRow("download page") << DownloadUrl(DefaultWebBaseUrl()) << QByteArray("http://www.telvira.example/es/cdescargas.php");
        QTest::newRow("web root") << WebRootUrl(DefaultWebBaseUrl()) << QByteArray("http://www.telvira.example/");
    }
    void addresses() {
        QFETCH(QUrl, url);
        QFETCH(QByteArray, expected);
        QCOMPARE(url.toEncoded(), expected);
    }

    void badBaseUrlFails() {
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, PortalScriptUrl("portal without scheme", "?id=1"));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, PortalScriptUrl("", "?id=1"));
    }

    void replyBodyDecoding() {
        const QByteArray utf8("<de>Per\xC3\xBA</de>");
        const QByteArray latin1("<de>Per\xFA</de>");
        const QString peru = QString::fromUtf8("<de>Perú</de>");
        QCOMPARE(DecodeReplyBody(utf8, "text/html; charset=UTF-8"), peru);
        QCOMPARE(DecodeReplyBody(utf8, "text/html"), peru);
        QCOMPARE(DecodeReplyBody(latin1, "text/html; charset=\"ISO-8859-1\""), peru);
        QCOMPARE(DecodeReplyBody(latin1, "text/html; charset=windows-1252; x=y"), peru);
        QCOMPARE(DecodeReplyBody(latin1, "text/html"), peru);
    }
};
BOOTH_TEST_CLASS(PortalReply);

#include "portal_reply_test.moc"
