// A test program killed by its timeout takes its helpers' programs with it:
// this test program is run again as a "holder" that starts a child the way
// the helpers do, and is then killed outright.
#include <csignal>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "tests/app/child_process.h"
#include "tests/app/test_registry.h"

namespace {

constexpr char kHolderFileVariable[] = "BOOTH_TEST_HOLDER_PID_FILE";

// Alive and not a zombie: a zombie has been killed already.
bool Running(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return false;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close > 0 && text.size() > close + 2 && text.at(close + 2) != 'Z';
}

}  // namespace

class ChildProcess : public QObject {
    Q_OBJECT

private slots:
    void childDiesWithAKilledTest() {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString pidFile = folder.filePath(QStringLiteral("child.pid"));
        QProcess holder;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(kHolderFileVariable), pidFile);
        holder.setProcessEnvironment(environment);
        DieWithTest(holder);
        holder.start(QCoreApplication::applicationFilePath(), {QStringLiteral("ChildProcess"), QStringLiteral("holdChild")});
        QVERIFY(holder.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(QFile(pidFile).size() > 0, 30000);
        QFile file(pidFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const qint64 child = file.readAll().trimmed().toLongLong();
        QVERIFY(child > 0 && Running(child));
        holder.kill();  // as a timeout's SIGKILL: no destructor runs
        QVERIFY(holder.waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(!Running(child), 10000);
    }

    // The holder's side, run only by the test above.
    void holdChild() {
        const QString pidFile = qEnvironmentVariable(kHolderFileVariable);
        if (pidFile.isEmpty()) QSKIP("run by childDiesWithAKilledTest only");
        QProcess child;
        DieWithTest(child);
        child.start(QStringLiteral("sleep"), {QStringLiteral("120")});
        QVERIFY(child.waitForStarted(10000));
        QFile file(pidFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::number(child.processId()));
        file.close();
        QTest::qWait(120000);  // until killed
    }
};

BOOTH_TEST_CLASS(ChildProcess);

#include "child_process_test.moc"
