// The administrator PIN: how it is kept, which new PINs are taken, and the
// guard's answers to a sequence of attempts on a driven clock (wrong PINs,
// cancels, the lockout and its end), then the real prompt typed into.
#include <chrono>
#include <stdexcept>

#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "app/booth/admin_pin.h"
#include "app/ui/pin_dialog.h"
#include "tests/app/modal_driver.h"
#include "tests/app/test_registry.h"

class AdminPin : public QObject {
    Q_OBJECT

private slots:
    void keptSaltedUnderItsKey() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("booth.conf"));
        TAdminPin pin(file);
        QVERIFY(!pin.IsSet());
        pin.Set(QStringLiteral("4821"));
        QVERIFY(pin.IsSet());
        QVERIFY(pin.Matches(QStringLiteral("4821")));
        QVERIFY(!pin.Matches(QStringLiteral("48210")));
        QVERIFY(!pin.Matches(QString()));
        QFile raw(file);
        QVERIFY(raw.open(QIODevice::ReadOnly));
        const QByteArray text = raw.readAll();
        QVERIFY2(!text.contains("4821"), text.constData());
        QVERIFY(!(QFile::permissions(file) & (QFileDevice::ReadGroup | QFileDevice::ReadOther)));
        // The same PIN set twice is stored differently (a fresh salt).
        const QString first = QSettings(file, QSettings::IniFormat).value(QString::fromUtf8(kAdminPinKey)).toString();
        pin.Set(QStringLiteral("4821"));
        const QString second = QSettings(file, QSettings::IniFormat).value(QString::fromUtf8(kAdminPinKey)).toString();
        QVERIFY(first.startsWith(u"sha256:"));
        QVERIFY(first != second);
        // A value tampered with in the file matches nothing, not everything.
        QSettings(file, QSettings::IniFormat).setValue(QString::fromUtf8(kAdminPinKey), QStringLiteral("4821"));
        TAdminPin reread(file);
        QVERIFY(reread.IsSet());
        QVERIFY(!reread.Matches(QStringLiteral("4821")));
        pin.Set(QString());
        QVERIFY(!TAdminPin(file).IsSet());
    }

    void newPin_data() {
        QTest::addColumn<QString>("pin");
        QTest::addColumn<bool>("taken");
        QTest::newRow("four digits") << "0000" << true;
        QTest::newRow("eight digits") << "12345678" << true;
        QTest::newRow("three digits") << "123" << false;
        QTest::newRow("nine digits") << "123456789" << false;
        QTest::newRow("letters") << "12ab" << false;
        QTest::newRow("spaces") << " 1234" << false;
        QTest::newRow("other digits") << "١٢٣٤" << false;
    }
    void newPin() {
        QFETCH(QString, pin);
        QFETCH(bool, taken);
        QTemporaryDir dir;
        TAdminPin stored(dir.filePath(QStringLiteral("booth.conf")));
        try {
            stored.Set(pin);
            QVERIFY(taken);
            QVERIFY(stored.Matches(pin));
        } catch (const std::runtime_error& error) {
            QVERIFY(!taken);
            QCOMPARE(QString::fromUtf8(error.what()), QString::fromUtf8(kBadNewPinText));
            QVERIFY(!stored.IsSet());
        }
    }

    // Attempts "typed@second", "-" for a cancelled prompt; the result is
    // "allowed" or the refusal text's first word per attempt, "(no prompt)"
    // added when the guard refused without asking.
    void guard_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("attempts");
        QTest::addColumn<QString>("results");
        QTest::newRow("no PIN set") << "" << "x@0" << "allowed(no prompt)";
        QTest::newRow("right PIN") << "4821" << "4821@0 4821@1" << "allowed allowed";
        QTest::newRow("wrong then right") << "4821" << "1111@0 4821@1" << "PIN allowed";
        QTest::newRow("cancel refuses quietly") << "4821" << "-@0" << "refused";
        QTest::newRow("three wrong lock a minute")
            << "4821" << "1@0 2@1 3@2 4821@30 4821@62" << "PIN PIN Demasiados Demasiados(no prompt) allowed";
        QTest::newRow("a right PIN resets the count")
            << "4821" << "1@0 2@1 4821@2 3@3 4@4 4821@5" << "PIN PIN allowed PIN PIN allowed";
        QTest::newRow("wrong after the lockout counts anew")
            << "4821" << "1@0 2@0 3@0 4@61 4821@61" << "PIN PIN Demasiados PIN allowed";
    }
    void guard() {
        QFETCH(QString, stored);
        QFETCH(QString, attempts);
        QFETCH(QString, results);
        QTemporaryDir dir;
        TAdminPin pin(dir.filePath(QStringLiteral("booth.conf")));
        pin.Set(stored);
        std::chrono::steady_clock::time_point now{};
        QString typed;
        bool prompted = false;
        QString refusal;
        TAdminGuard guard(
            pin,
            [&]() -> std::optional<QString> {
                prompted = true;
                if (typed == u"-") return std::nullopt;
                return typed;
            },
            [&](const QString& text) { refusal = text; }, [&] { return now; });
        QStringList seen;
        for (const QString& attempt : attempts.split(u' ')) {
            typed = attempt.section(u'@', 0, 0);
            now = std::chrono::steady_clock::time_point{} + std::chrono::seconds(attempt.section(u'@', 1).toInt());
            prompted = false;
            refusal.clear();
            QString result = guard.Allow() ? QStringLiteral("allowed")
                             : refusal.isEmpty() ? QStringLiteral("refused")
                                                 : refusal.section(u' ', 0, 0);
            if (!prompted) result += QStringLiteral("(no prompt)");
            seen << result;
        }
        QCOMPARE(seen.join(u' '), results);
    }

    // The prompt itself: hidden digits, only digits taken, Spanish captions.
    void prompt() {
        TModalDriver driver({TModalAnswer::Typed(QStringLiteral("48x21")), TModalAnswer::Cancelled()});
        QCOMPARE(AskForAdminPin(nullptr), std::optional<QString>(QStringLiteral("4821")));
        QCOMPARE(AskForAdminPin(nullptr), std::nullopt);
        const QString seen = QStringLiteral("PIN de administrador|Ingrese el PIN de administrador:");
        QCOMPARE(driver.Seen(), QStringList({seen, seen}));
        TPinDialog dialog;
        QCOMPARE(dialog.findChild<QLineEdit*>(QStringLiteral("adminPinEdit"))->echoMode(), QLineEdit::Password);
    }
};
BOOTH_TEST_CLASS(AdminPin);

#include "admin_pin_test.moc"
