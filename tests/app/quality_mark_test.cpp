// The booth's quality mark: the grade boundaries at R 80 and 70, nothing
// without received audio or without a call, and the mark following the call.
#include <QTest>

#include "app/ui/quality_mark.h"
#include "tests/app/test_registry.h"

class QualityMark : public QObject {
    Q_OBJECT

private slots:
    void gradeAtTheBoundaries_data() {
        QTest::addColumn<double>("r");
        QTest::addColumn<qint64>("received");
        QTest::addColumn<QString>("text");
        QTest::newRow("clean line") << 93.0 << qint64(500) << "Calidad: buena";
        QTest::newRow("at 80") << 80.0 << qint64(500) << "Calidad: buena";
        QTest::newRow("just below 80") << 79.9 << qint64(500) << "Calidad: regular";
        QTest::newRow("at 70") << 70.0 << qint64(500) << "Calidad: regular";
        QTest::newRow("just below 70") << 69.9 << qint64(500) << "Calidad: mala";
        QTest::newRow("nothing received yet") << 0.0 << qint64(0) << "";
    }
    void gradeAtTheBoundaries() {
        QFETCH(double, r);
        QFETCH(qint64, received);
        QFETCH(QString, text);
        media::TCallQuality quality;
        quality.r = r;
        quality.received = received;
        QCOMPARE(GradeText(GradeOf(quality)), text);
    }

    void markFollowsTheCall() {
        std::optional<media::TCallQuality> current;
        TQualityMark mark([&] { return current; });
        mark.Refresh();
        QCOMPARE(mark.text(), QString());
        media::TCallQuality quality;
        quality.received = 100;
        quality.r = 65;
        quality.mos = 3.3;
        current = quality;
        mark.Refresh();
        QCOMPARE(mark.Grade(), TQualityGrade::Poor);
        QCOMPARE(mark.text(), QStringLiteral("Calidad: mala"));
        QVERIFY(mark.toolTip().startsWith(QStringLiteral("R 65, MOS 3.3")));
        current.reset();  // the call ended
        QTRY_COMPARE_WITH_TIMEOUT(mark.text(), QString(), 2 * TQualityMark::kRefreshMs);
        QCOMPARE(mark.toolTip(), QString());
    }
};

BOOTH_TEST_CLASS(QualityMark);
#include "quality_mark_test.moc"
