// One booth program at a time: the guard's lock and notice within this
// process, and the real program started as a second copy while this test
// holds the guard.
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "app/booth/booth_texts.h"
#include "app/booth/single_instance.h"
#include "tests/app/booth_test_support.h"
#include "tests/app/child_process.h"
#include "tests/app/portal_sim.h"
#include "tests/app/test_registry.h"

class SingleInstance : public QObject {
    Q_OBJECT

private slots:
    void lockIsHeldUntilTheFirstGoes() {
        QTemporaryDir folder;
        auto first = std::make_unique<TSingleInstance>(QStringLiteral("guard"), folder.path());
        QVERIFY(first->IsFirst());
        QVERIFY(!TSingleInstance(QStringLiteral("guard"), folder.path()).IsFirst());
        QVERIFY(TSingleInstance(QStringLiteral("other"), folder.path()).IsFirst());
        first.reset();
        QVERIFY(TSingleInstance(QStringLiteral("guard"), folder.path()).IsFirst());
    }

    void noFirstCopyToAsk() {
        QTemporaryDir folder;
        QVERIFY(!TSingleInstance(QStringLiteral("guard"), folder.path()).AskFirstToShow(500));
    }

    // This test is the first copy; the program started now is the second.
    // It must bring the first copy's window forward and start no window of
    // its own (the portal hears nothing from it).
    void secondProgramBringsTheFirstForward() {
        ClearBoothSettings();
        TBoothSettings().WriteAccount({kTestAccount, kTestPassword, QString(), QString()});
        TSingleInstance guard(QString::fromUtf8(kAppTitle), IsolatedRuntimeDir());
        QVERIFY(guard.IsFirst());
        auto window = MakeWindow(QStringLiteral("http://127.0.0.1:9"));
        connect(&guard, &TSingleInstance::ShowRequested, window.get(), &TMainWindow::ShowWindow);
        window->showMinimized();
        window->hide();
        TPortalSim sim(TestPortalConfig());
        QProcess second;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("XDG_CONFIG_HOME", IsolatedConfigHome());
        environment.insert("XDG_RUNTIME_DIR", IsolatedRuntimeDir());
        second.setProcessEnvironment(environment);
        second.setProcessChannelMode(QProcess::ForwardedChannels);
        DieWithTest(second);
        second.start(QStringLiteral(SOFTPHONE_PATH), {"--portal-url", sim.BaseUrl(), "--sip-server", "127.0.0.1:9"});
        QVERIFY(second.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(window->isVisible() && !window->isMinimized(), 20000);
        // The second copy now shows its notice and then ends; it is not
        // waited for, since nobody answers its box here.
        QTest::qWait(500);
        QCOMPARE(sim.Targets(), QStringList{});
        second.kill();
        second.waitForFinished(5000);
    }

    // A copy that died without cleaning up must not lock the booth out.
    void lockOfAKilledProgramIsTakenOver() {
        ClearBoothSettings();
        TBoothSettings().WriteAccount({kTestAccount, kTestPassword, QString(), QString()});
        QProcess first;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("XDG_CONFIG_HOME", IsolatedConfigHome());
        environment.insert("XDG_RUNTIME_DIR", IsolatedRuntimeDir());
        first.setProcessEnvironment(environment);
        first.setProcessChannelMode(QProcess::ForwardedChannels);
        DieWithTest(first);
        first.start(QStringLiteral(SOFTPHONE_PATH),
                    {"--portal-url", "http://127.0.0.1:9", "--sip-server", "127.0.0.1:9"});
        QVERIFY(first.waitForStarted(5000));
        const QString lock = IsolatedRuntimeDir() + QStringLiteral("/Softphone Telvira.lock");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(lock), 20000);
        QVERIFY(!TSingleInstance(QString::fromUtf8(kAppTitle), IsolatedRuntimeDir()).IsFirst());
        first.kill();
        QVERIFY(first.waitForFinished(5000));
        QVERIFY(QFile::exists(lock));
        TSingleInstance next(QString::fromUtf8(kAppTitle), IsolatedRuntimeDir());
        QVERIFY(next.IsFirst());
    }
};
BOOTH_TEST_CLASS(SingleInstance);

#include "single_instance_test.moc"
