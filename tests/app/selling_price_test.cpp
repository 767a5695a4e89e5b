// The customer's price as a table: factor, prefix rules, minimum, rounding
// and the three billing increments at the seconds where they turn.
#include <stdexcept>

#include <QTest>

#include "app/till/selling_price.h"
#include "tests/app/test_registry.h"

Q_DECLARE_METATYPE(TSellingRates)

namespace {

TMoney Units(double units) { return TMoney{qRound64(units * 10000)}; }

TSellingRates Increment(int seconds) {
    TSellingRates rates;
    rates.IncrementSeconds = seconds;
    return rates;
}

TPrefixRule FactorRule(const char* prefix, std::int64_t factor) {
    return {QString::fromLatin1(prefix), TPrefixRule::TKind::Factor, TMoney{}, factor};
}

TPrefixRule PriceRule(const char* prefix, double price) {
    return {QString::fromLatin1(prefix), TPrefixRule::TKind::Price, Units(price), kUnitFactor};
}

// Both orders of the overlapping prefixes: the longest must win whatever
// the order of the table.
TSellingRates PrefixRates(bool longestFirst) {
    TSellingRates rates;
    rates.Rules = {FactorRule("54", 12000), PriceRule("5411", 2.0), FactorRule("549", 20000)};
    if (longestFirst) std::swap(rates.Rules[0], rates.Rules[1]);
    return rates;
}

}  // namespace

class SellingPrice : public QObject {
    Q_OBJECT

private slots:
    void customerPrice_data() {
        QTest::addColumn<TSellingRates>("rates");
        QTest::addColumn<QString>("number");
        QTest::addColumn<qint64>("providerRate");  // ten-thousandths per minute
        QTest::addColumn<int>("seconds");
        QTest::addColumn<qint64>("price");  // ten-thousandths
        // The provider's rate of 150 per minute at the seconds where the
        // increments turn; 60 s with factor 1.00 is the "Costo Total" figure.
        const int seconds[] = {0, 1, 29, 30, 59, 60, 61};
        const qint64 by60[] = {0, 150, 150, 150, 150, 300, 300};
        const qint64 by30[] = {0, 75, 75, 150, 150, 225, 225};
        const qint64 by6[] = {0, 15, 75, 90, 150, 165, 165};
        for (int i = 0; i < 7; ++i) {
            const QByteArray at = QByteArray::number(seconds[i]) + " s";
            QTest::newRow(("60 s at " + at).constData())
                << Increment(60) << "5411" << qint64(1500000) << seconds[i] << by60[i] * 10000;
            QTest::newRow(("30 s at " + at).constData())
                << Increment(30) << "5411" << qint64(1500000) << seconds[i] << by30[i] * 10000;
            QTest::newRow(("6 s at " + at).constData())
                << Increment(6) << "5411" << qint64(1500000) << seconds[i] << by6[i] * 10000;
        }
        TSellingRates factor = Increment(60);
        factor.Factor = 13500;
        QTest::newRow("factor 1.35, one minute") << factor << "1" << qint64(10000) << 1 << qint64(13500);
        QTest::newRow("factor 1.35, two minutes") << factor << "1" << qint64(10000) << 60 << qint64(27000);
        // The factor goes on the whole call, not on a rounded rate: 1/3 more
        // on 0.10 for six seconds is 0.01333, a cent; for ten minutes 1.3333.
        TSellingRates third = Increment(6);
        third.Factor = 13333;
        QTest::newRow("factor, whole cents") << third << "1" << qint64(1000) << 1 << qint64(100);
        QTest::newRow("factor on the call") << third << "1" << qint64(1000) << 599 << qint64(13300);
        QTest::newRow("half a cent up") << Increment(60) << "1" << qint64(50) << 1 << qint64(100);
        third.RoundingStep = Units(0.05);
        QTest::newRow("rounding up to 0.05") << third << "1" << qint64(1000) << 1 << qint64(500);
        TSellingRates rounding = Increment(60);
        rounding.RoundingStep = Units(0.05);
        QTest::newRow("1.01 rounds to 1.05") << rounding << "1" << qint64(10100) << 1 << qint64(10500);
        QTest::newRow("1.05 stays") << rounding << "1" << qint64(10500) << 1 << qint64(10500);
        for (const bool longestFirst : {false, true}) {
            const QByteArray order = longestFirst ? " (longest first)" : " (shortest first)";
            const TSellingRates rates = PrefixRates(longestFirst);
            QTest::newRow(("price rule beats shorter factor" + order).constData())
                << rates << "541155" << qint64(10000) << 1 << qint64(20000);
            QTest::newRow(("own factor rule" + order).constData())
                << rates << "5491155" << qint64(10000) << 1 << qint64(20000);
            QTest::newRow(("short prefix" + order).constData())
                << rates << "5422" << qint64(10000) << 1 << qint64(12000);
            QTest::newRow(("no rule: default factor" + order).constData())
                << rates << "1305" << qint64(10000) << 1 << qint64(10000);
            QTest::newRow(("number shorter than the prefix" + order).constData())
                << rates << "5" << qint64(10000) << 1 << qint64(10000);
        }
        TSellingRates minimum = Increment(60);
        minimum.Minimum = Units(0.50);
        QTest::newRow("minimum lifts a short call") << minimum << "1" << qint64(1000) << 1 << qint64(5000);
        QTest::newRow("minimum not for an unanswered call") << minimum << "1" << qint64(1000) << 0 << qint64(0);
        QTest::newRow("above the minimum") << minimum << "1" << qint64(1000) << 400 << qint64(7000);
        minimum.RoundingStep = Units(0.05);
        minimum.Minimum = Units(0.33);
        QTest::newRow("minimum charged as written") << minimum << "1" << qint64(1000) << 1 << qint64(3300);
        TSellingRates free = Increment(60);
        free.Rules = {PriceRule("800", 0.0)};
        QTest::newRow("free prefix") << free << "80012" << qint64(50000) << 90 << qint64(0);
    }
    void customerPrice() {
        QFETCH(TSellingRates, rates);
        QFETCH(QString, number);
        QFETCH(qint64, providerRate);
        QFETCH(int, seconds);
        QFETCH(qint64, price);
        QCOMPARE(CustomerPrice(rates, number, TMoney{providerRate}, seconds).TenThousandths, price);
    }

    void ratePerMinuteShownForTheNumber() {
        const TSellingRates rates = PrefixRates(false);
        QCOMPARE(SellingRatePerMinute(rates, "541155", Units(1.0)), Units(2.0));
        QCOMPARE(SellingRatePerMinute(rates, "5422", Units(1.0)), Units(1.2));
        QCOMPARE(SellingRatePerMinute(TSellingRates{}, "1", Units(1.2345)), Units(1.2345));
    }

    void faultsAndLimits() {
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, ChargedIncrements(10, 0));
        TSellingRates huge;
        huge.Factor = kUnitFactor * 1000;
        QVERIFY_THROWS_EXCEPTION(std::overflow_error, CustomerPrice(huge, "1", TMoney{std::int64_t(1) << 50}, 100000));
        QCOMPARE(RatedNumber("0054911"), QStringLiteral("54911"));
        QCOMPARE(RatedNumber("999456"), QStringLiteral("999456"));
    }

    void ratesThatCannotBeUsed_data() {
        QTest::addColumn<TSellingRates>("rates");
        QTest::addColumn<QString>("fault");
        QTest::newRow("defaults") << TSellingRates{} << QString();
        QTest::newRow("45 s") << Increment(45) << "El incremento de facturación debe ser de 60, 30 o 6 segundos.";
        TSellingRates letters;
        letters.Rules = {FactorRule("54a", kUnitFactor)};
        QTest::newRow("prefix with a letter") << letters << "El prefijo \"54a\" debe tener solo dígitos.";
        TSellingRates twice;
        twice.Rules = {FactorRule("54", kUnitFactor), PriceRule("54", 1.0)};
        QTest::newRow("prefix twice") << twice << "El prefijo 54 está repetido.";
        TSellingRates negative;
        negative.Rules = {PriceRule("1", -1.0)};
        QTest::newRow("negative price") << negative << "Los importes y factores no pueden ser negativos.";
    }
    void ratesThatCannotBeUsed() {
        QFETCH(TSellingRates, rates);
        QFETCH(QString, fault);
        QCOMPARE(SellingRatesFault(rates), fault);
    }

    void incrementsAgainstTheProvidersMinute_data() {
        QTest::addColumn<int>("increment");
        QTest::addColumn<qint64>("factor");
        QTest::addColumn<int>("firstBelowCost");  // 0: never below cost
        QTest::newRow("minute at cost") << 60 << qint64(10000) << 0;
        QTest::newRow("minute just under cost") << 60 << qint64(9999) << 60;
        // At 60 s the provider charges two minutes, 6 s increments sell 66 s.
        QTest::newRow("6 s at 1.00") << 6 << qint64(10000) << 60;
        QTest::newRow("6 s just under") << 6 << qint64(18181) << 60;
        QTest::newRow("6 s just over") << 6 << qint64(18182) << 0;
        QTest::newRow("30 s at 1.00") << 30 << qint64(10000) << 60;
        QTest::newRow("30 s just under") << 30 << qint64(13333) << 60;
        QTest::newRow("30 s just over") << 30 << qint64(13334) << 0;
    }
    // Checked against the provider's whole minutes, the 66 s call the shop
    // sold for less than it paid is caught; the dialog refuses such rules.
    void incrementsAgainstTheProvidersMinute() {
        QFETCH(int, increment);
        QFETCH(qint64, factor);
        QFETCH(int, firstBelowCost);
        QCOMPARE(FirstSecondBelowCost(factor, increment), firstBelowCost);
        TSellingRates rates;
        rates.IncrementSeconds = increment;
        rates.Rules = {{"54", TPrefixRule::TKind::Factor, TMoney{}, factor}};
        rates.Factor = 20000;
        QCOMPARE(BelowCostFault(rates).isEmpty(), firstBelowCost == 0);
        if (firstBelowCost == 0) return;
        QVERIFY(BelowCostFault(rates).contains(QStringLiteral("prefijo 54")));
        // The price really is below the provider's cost at that second.
        const int seconds = firstBelowCost;
        const TMoney price = CustomerPrice(rates, QStringLiteral("5411"), MoneyFromUnits(180), seconds);
        QVERIFY(price < MoneyFromUnits(180 * (seconds / 60 + 1)));
    }
};
BOOTH_TEST_CLASS(SellingPrice);

#include "selling_price_test.moc"
