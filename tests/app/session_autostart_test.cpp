// "Iniciar con la sesión": the autostart entry a desktop session reads, for
// program paths a booth PC may really have.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include "app/booth/session_autostart.h"
#include "tests/app/booth_test_support.h"
#include "tests/app/test_registry.h"

class SessionAutostart : public QObject {
    Q_OBJECT

    static QString ExecLine(const QString& text) {
        for (const QString& line : text.split(u'\n'))
            if (line.startsWith(QStringLiteral("Exec="))) return line.mid(5);
        return {};
    }

private slots:
    void init() {
        IsolatedConfigHome();
        QFile::remove(TSessionAutostart::EntryPath());
    }

    void entryIsValidAndStartsThisProgram_data() {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << "/usr/bin/softphone" << "/usr/bin/softphone";
        QTest::newRow("space") << "/opt/Mi Cabina/softphone" << "\"/opt/Mi Cabina/softphone\"";
        QTest::newRow("dollar and quote") << "/opt/a$b\"c/softphone" << "\"/opt/a\\\\$b\\\\\"c/softphone\"";
    }
    void entryIsValidAndStartsThisProgram() {
        QFETCH(QString, executable);
        QFETCH(QString, exec);
        const TSessionAutostart autostart(executable);
        QVERIFY(!autostart.IsEnabled());
        autostart.SetEnabled(true);
        QVERIFY(autostart.IsEnabled());
        QFile file(TSessionAutostart::EntryPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(ExecLine(QString::fromUtf8(file.readAll())), exec);
        if (QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate")).isEmpty())
            QSKIP("desktop-file-validate is not installed");
        QProcess validate;
        validate.start(QStringLiteral("desktop-file-validate"), {TSessionAutostart::EntryPath()});
        QVERIFY(validate.waitForFinished(10000));
        QVERIFY2(validate.exitCode() == 0, validate.readAll().constData());
    }

    void disablingRemovesTheEntryAndIsHarmlessTwice() {
        const TSessionAutostart autostart(QStringLiteral("/usr/bin/softphone"));
        autostart.SetEnabled(true);
        autostart.SetEnabled(false);
        QVERIFY(!QFile::exists(TSessionAutostart::EntryPath()));
        autostart.SetEnabled(false);
        QVERIFY(!autostart.IsEnabled());
    }

    void unwritableFolderIsReportedInSpanish() {
        // A plain file where the folder should be: no permission trick, so
        // this holds for root too.
        const QString folder = QFileInfo(TSessionAutostart::EntryPath()).absolutePath();
        QDir(folder).removeRecursively();
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const TSessionAutostart autostart(QStringLiteral("/usr/bin/softphone"));
        try {
            autostart.SetEnabled(true);
            QFAIL("no error raised");
        } catch (const std::runtime_error& error) {
            QVERIFY2(QString::fromUtf8(error.what()).startsWith(QStringLiteral("No se pudo")), error.what());
        }
        QVERIFY(!autostart.IsEnabled());
        QFile::remove(folder);
    }
};

BOOTH_TEST_CLASS(SessionAutostart);
#include "session_autostart_test.moc"
