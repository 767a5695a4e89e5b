// Money conversions and the currency display, against pinned locales.
#include <limits>
#include <stdexcept>

#include <QTest>

#include "app/money/amount_text.h"
#include "app/money/money.h"
#include "tests/app/test_registry.h"

Q_DECLARE_METATYPE(QLocale)

namespace {

const QLocale kArgentina(QLocale::Spanish, QLocale::Argentina);
const QLocale kSpain(QLocale::Spanish, QLocale::Spain);
const QLocale kGermany(QLocale::German, QLocale::Germany);
const QLocale kEgypt(QLocale::Arabic, QLocale::Egypt);

}  // namespace

class Money : public QObject {
    Q_OBJECT

private slots:
    void hundredThousandthsRoundHalfToEven_data() {
        QTest::addColumn<qint64>("hundredThousandths");
        QTest::addColumn<qint64>("tenThousandths");
        QTest::newRow("1234.56789") << qint64(123456789) << qint64(12345679);
        QTest::newRow("half to even, down") << qint64(5) << qint64(0);
        QTest::newRow("half to even, up") << qint64(15) << qint64(2);
        QTest::newRow("half to even, stays") << qint64(25) << qint64(2);
        QTest::newRow("below half") << qint64(34) << qint64(3);
        QTest::newRow("above half") << qint64(36) << qint64(4);
        QTest::newRow("negative half to even") << qint64(-25) << qint64(-2);
        QTest::newRow("negative half, odd") << qint64(-35) << qint64(-4);
        QTest::newRow("negative above half") << qint64(-36) << qint64(-4);
        QTest::newRow("largest") << std::numeric_limits<qint64>::max() << qint64(922337203685477581);
    }
    void hundredThousandthsRoundHalfToEven() {
        QFETCH(qint64, hundredThousandths);
        QFETCH(qint64, tenThousandths);
        QCOMPARE(MoneyFromHundredThousandths(hundredThousandths).TenThousandths, tenThousandths);
    }

    void hundredthsRoundHalfAwayFromZero_data() {
        QTest::addColumn<qint64>("tenThousandths");
        QTest::addColumn<qint64>("hundredths");
        QTest::newRow("1234.5679") << qint64(12345679) << qint64(123457);
        QTest::newRow("half") << qint64(50) << qint64(1);
        QTest::newRow("below half") << qint64(49) << qint64(0);
        QTest::newRow("negative half") << qint64(-50) << qint64(-1);
        QTest::newRow("negative below half") << qint64(-49) << qint64(0);
        QTest::newRow("1.5 hundredths") << qint64(150) << qint64(2);
    }
    void hundredthsRoundHalfAwayFromZero() {
        QFETCH(qint64, tenThousandths);
        QFETCH(qint64, hundredths);
        QCOMPARE(RoundToHundredths(TMoney{tenThousandths}), hundredths);
    }

    void scalingRefusesWhatDoesNotFit() {
        QCOMPARE(MoneyFromUnits(922337203685477).TenThousandths, qint64(9223372036854770000));
        QCOMPARE(MoneyFromUnits(-3).TenThousandths, qint64(-30000));
        QCOMPARE(MoneyFromHundredths(15000).TenThousandths, qint64(1500000));
        QVERIFY_THROWS_EXCEPTION(std::overflow_error, MoneyFromUnits(922337203685478));
        QVERIFY_THROWS_EXCEPTION(std::overflow_error, MoneyFromUnits(-922337203685478));
        QVERIFY_THROWS_EXCEPTION(std::overflow_error, MoneyFromHundredths(92233720368547759));
    }

    void currencyDisplay_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<qint64>("tenThousandths");
        QTest::addColumn<QString>("shown");
        const QString nbsp(QChar(0x00A0));
        QTest::newRow("ar zero") << kArgentina << qint64(0) << "$" + nbsp + "0,00";
        QTest::newRow("ar balance") << kArgentina << qint64(12345679) << "$" + nbsp + "1.234,57";
        QTest::newRow("ar rate") << kArgentina << qint64(1500000) << "$" + nbsp + "150,00";
        QTest::newRow("ar millions") << kArgentina << qint64(12345678900000) << "$" + nbsp + "1.234.567.890,00";
        QTest::newRow("ar tiny debt rounds to zero") << kArgentina << qint64(-49) << "$" + nbsp + "0,00";
        QTest::newRow("C balance") << QLocale::c() << qint64(12345679) << "1234.57";
        QTest::newRow("C negative") << QLocale::c() << qint64(-12345679) << "-1234.57";
        QTest::newRow("C one cent") << QLocale::c() << qint64(100) << "0.01";
        QTest::newRow("de negative") << kGermany << qint64(-12345679) << "-1.234,57" + nbsp + "€";
        QTest::newRow("es no grouping of four digits") << kSpain << qint64(12345700) << "1234,57" + nbsp + "€";
        QTest::newRow("es grouping of five digits") << kSpain << qint64(123456700) << "12.345,67" + nbsp + "€";
        QTest::newRow("C largest, beyond double precision")
            << QLocale::c() << std::numeric_limits<qint64>::max() << "922337203685477.58";
        QTest::newRow("C smallest") << QLocale::c() << std::numeric_limits<qint64>::min() << "-922337203685477.58";
    }
    void currencyDisplay() {
        QFETCH(QLocale, locale);
        QFETCH(qint64, tenThousandths);
        QFETCH(QString, shown);
        QCOMPARE(FormatCurrency(TMoney{tenThousandths}, locale), shown);
    }

    // Where a double is still exact, the display must agree with the locale's
    // own currency formatting, whatever its digits, signs and symbol place.
    void currencyDisplayAgreesWithLocale() {
        const QList<QLocale> locales{kArgentina, kSpain, kGermany, kEgypt, QLocale::c(),
                                     QLocale(QLocale::English, QLocale::UnitedStates),
                                     QLocale(QLocale::French, QLocale::France),
                                     QLocale(QLocale::Hindi, QLocale::India)};
        const qint64 amounts[] = {0, 1, 99, 100, 5000, 12345679, -12345679, -100, 99999999900, -7000000000};
        for (const QLocale& locale : locales) {
            for (const qint64 amount : amounts) {
                const double units = static_cast<double>(RoundToHundredths(TMoney{amount})) / 100.0;
                QCOMPARE(FormatCurrency(TMoney{amount}, locale), locale.toCurrencyString(units, QString(), 2));
            }
        }
    }

    // Amounts typed at the till: thousands grouped as the operator writes
    // them are read, a lone separator is never taken for grouping.
    void typedAmounts_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<qint64>("tenThousandths");  // -1: refused
        QTest::newRow("plain comma") << "150,5" << qint64(1505000);
        QTest::newRow("plain point") << "150.50" << qint64(1505000);
        QTest::newRow("grouped, comma decimals") << "1.000,50" << qint64(10005000);
        QTest::newRow("grouped, point decimals") << "$ 1,000.50" << qint64(10005000);
        QTest::newRow("two groups, no decimals") << "1.000.000" << qint64(10000000000);
        QTest::newRow("grouped, empty decimals") << "2.500," << qint64(25000000);
        QTest::newRow("lone point, three digits") << "1.234" << qint64(-1);
        QTest::newRow("same separator twice then decimals") << "1.000.50" << qint64(-1);
        QTest::newRow("group of two") << "1.00,50" << qint64(-1);
        QTest::newRow("mixed group separators") << "1.000,000.50" << qint64(-1);
        QTest::newRow("three decimals after grouping") << "1.000,505" << qint64(-1);
    }
    void typedAmounts() {
        QFETCH(QString, typed);
        QFETCH(qint64, tenThousandths);
        const std::optional<std::int64_t> value = ParseDecimal(typed, 2);
        QCOMPARE(value.value_or(-1), tenThousandths);
    }
};
BOOTH_TEST_CLASS(Money);

#include "money_test.moc"
