// The booth's call rules: what is dialled and asked of the portal for a typed
// number, the charged minutes and running cost at the minute boundaries, the
// duration display, the device numbers and the register's cell styles.
#include <stdexcept>

#include <QTest>

#include "app/booth/call_rules.h"
#include "app/portal/portal_query.h"
#include "app/ui/device_lists.h"
#include "tests/app/test_registry.h"

class CallRules : public QObject {
    Q_OBJECT

private slots:
    void dialStringAndPortalNumber_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("dialled");
        QTest::addColumn<QString>("asked");
        QTest::newRow("three characters") << "123" << "123" << "123";
        QTest::newRow("provider's 999") << "999456" << "999456" << "999456";
        QTest::newRow("already 00") << "0054911" << "0054911" << "54911";
        QTest::newRow("international") << "5491123456789" << "005491123456789" << "5491123456789";
        QTest::newRow("four digits") << "1234" << "001234" << "1234";
        QTest::newRow("empty") << "" << "00" << "";
        QTest::newRow("two digits") << "12" << "0012" << "12";
        QTest::newRow("only one 00 removed") << "0000" << "0000" << "00";
        QTest::newRow("99 is not 999") << "99123" << "0099123" << "99123";
        // Text that reached the field without the keyboard (pasted, set by
        // an accessibility tool) is cleaned where the call is placed.
        QTest::newRow("pasted with blanks and dash") << "54 911 5555-0000" << "005491155550000" << "5491155550000";
        QTest::newRow("pasted with a plus") << "+54 (11) 5555.0000" << "00541155550000" << "541155550000";
        QTest::newRow("service number with blanks") << " 1 1 2 " << "112" << "112";
        QTest::newRow("letters dropped") << "tel:0800abc" << "000800" << "0800";
        QTest::newRow("number at a host") << "54 11-5555@127.0.0.1:5099" << "0054115555@127.0.0.1:5099"
                                          << "54115555@127.0.0.1:5099";
    }
    void dialStringAndPortalNumber() {
        QFETCH(QString, typed);
        QFETCH(QString, dialled);
        QFETCH(QString, asked);
        QCOMPARE(DialString(typed), dialled);
        QCOMPARE(PortalNumber(DialString(typed)), asked);
    }

    // Rate 150 as the window shows it in any currency format.
    void runningCost_data() {
        QTest::addColumn<QString>("shownRate");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<qint64>("hundredths");
        QTest::addColumn<qint64>("minutes");
        QTest::newRow("00:00:01") << "$ 150,00" << 1 << qint64(15000) << qint64(1);
        QTest::newRow("00:00:59") << "$ 150,00" << 59 << qint64(15000) << qint64(1);
        QTest::newRow("00:01:00") << "$ 150,00" << 60 << qint64(30000) << qint64(2);
        QTest::newRow("00:01:59") << "$ 150,00" << 119 << qint64(30000) << qint64(2);
        QTest::newRow("00:02:00") << "$ 150,00" << 120 << qint64(45000) << qint64(3);
        QTest::newRow("other format") << "150.00 €" << 60 << qint64(30000) << qint64(2);
        QTest::newRow("grouped rate") << "$ 1.234,50" << 1 << qint64(123450) << qint64(1);
        QTest::newRow("no rate yet") << "$ 0,00" << 75 << qint64(0) << qint64(2);
        QTest::newRow("past a day") << "$ 1,00" << 86400 << qint64(144100) << qint64(1441);
    }
    void runningCost() {
        QFETCH(QString, shownRate);
        QFETCH(int, ticks);
        QFETCH(qint64, hundredths);
        QFETCH(qint64, minutes);
        QCOMPARE(ChargedMinutes(ticks), minutes);
        QCOMPARE(RunningCost(shownRate, ticks), MoneyFromHundredths(hundredths));
    }

    void runningCostOfAnUnpriceableRateThrows() {
        QVERIFY_THROWS_EXCEPTION(std::overflow_error, RunningCost(QStringLiteral("99999999999999999999"), 1));
        QVERIFY_THROWS_EXCEPTION(std::overflow_error, RunningCost(QStringLiteral("900000000000000000"), 600));
    }

    void nextDuration_data() {
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("next");
        QTest::newRow("start") << "00:00:00" << "00:00:01";
        QTest::newRow("minute") << "00:00:59" << "00:01:00";
        QTest::newRow("hour") << "00:59:59" << "01:00:00";
        QTest::newRow("wraps") << "23:59:59" << "00:00:00";
        QTest::newRow("no time") << "---" << "00:00:01";
    }
    void nextDuration() {
        QFETCH(QString, shown);
        QFETCH(QString, next);
        QCOMPARE(NextDuration(shown), next);
    }

    void deviceIndex_data() {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<int>("index");
        // The media layer's own numbers, not places in the list.
        QTest::newRow("first") << "Card A" << 3;
        QTest::newRow("second") << "Card B" << 7;
        QTest::newRow("default entry") << "Default" << -1;
        QTest::newRow("gone away") << "USB Headset" << -1;
        QTest::newRow("case counts") << "card b" << -1;
        QTest::newRow("nothing chosen") << "" << -1;
    }
    void deviceIndex() {
        QFETCH(QString, chosen);
        QFETCH(int, index);
        QCOMPARE(DeviceIndex({{3, "Card A"}, {7, "Card B"}}, chosen), index);
    }

    void registerCellStyle_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("horizontal");
        QTest::addColumn<bool>("leadingSpace");
        QTest::newRow("Fecha y Hora") << 0 << int(Qt::AlignLeft) << true;
        QTest::newRow("Nro Telef.") << 1 << int(Qt::AlignHCenter) << false;
        QTest::newRow("Destino") << 2 << int(Qt::AlignLeft) << true;
        QTest::newRow("Tiempo") << 3 << int(Qt::AlignHCenter) << false;
        QTest::newRow("TOTAL") << 4 << int(Qt::AlignRight) << false;
    }
    void registerCellStyle() {
        QFETCH(int, column);
        QFETCH(int, horizontal);
        QFETCH(bool, leadingSpace);
        const TRegisterCellStyle style = RegisterCellStyle(column);
        QCOMPARE(int(style.Alignment & Qt::AlignHorizontal_Mask), horizontal);
        QCOMPARE(style.LeadingSpace, leadingSpace);
    }
};
BOOTH_TEST_CLASS(CallRules);

#include "call_rules_test.moc"
