// The booth's padlock: shown with its tool tip only while the call in
// progress is encrypted, and gone when it ends.
#include <QTest>

#include "app/ui/lock_mark.h"
#include "tests/app/test_registry.h"

class LockMark : public QObject {
    Q_OBJECT

private slots:
    void followsTheCallsEncryption() {
        bool encrypted = false;
        TLockMark mark([&] { return encrypted; });
        mark.Refresh();
        QVERIFY(!mark.Shown());
        QVERIFY(mark.pixmap().isNull());
        QCOMPARE(mark.toolTip(), QString());
        encrypted = true;
        QTRY_VERIFY_WITH_TIMEOUT(mark.Shown(), 2 * TLockMark::kRefreshMs);
        QVERIFY(!mark.pixmap().isNull());
        QCOMPARE(mark.toolTip(), QStringLiteral("Llamada cifrada"));
        encrypted = false;  // the call ended, or the next one is in the clear
        QTRY_VERIFY_WITH_TIMEOUT(!mark.Shown(), 2 * TLockMark::kRefreshMs);
        QVERIFY(mark.pixmap().isNull());
        QCOMPARE(mark.toolTip(), QString());
    }
};

BOOTH_TEST_CLASS(LockMark);
#include "lock_mark_test.moc"
