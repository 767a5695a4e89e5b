#include "tests/app/sipp_peer.h"

#include <QFile>
#include <QStandardPaths>
#include <QTest>
#include <QUdpSocket>

namespace {

quint16 FreeUdpPort() {
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

}  // namespace

bool TSippPeer::Installed() { return !QStandardPaths::findExecutable(QStringLiteral("sipp")).isEmpty(); }

TSippPeer::TSippPeer(const QString& scenario, const QStringList& extra, const QString& target)
    : Port_(FreeUdpPort()) {
    QStringList args{"-sf", QStringLiteral(BOOTH_TEST_SOURCE_DIR "/scenarios/") + scenario,
                     "-i", "127.0.0.1", "-mi", "127.0.0.1", "-p", QString::number(Port_),
                     "-m", "1", "-nostdin", "-timeout", "30", "-timeout_error",
                     "-trace_err", "-error_file", Dir_.filePath(QStringLiteral("errors.log")),
                     "-trace_msg", "-message_file", Dir_.filePath(QStringLiteral("messages.log"))};
    args += extra;
    if (!target.isEmpty()) args.append(target);
    Process_.setWorkingDirectory(Dir_.path());
    Process_.setProcessChannelMode(QProcess::MergedChannels);
    Process_.start(QStringLiteral("sipp"), args);
    Process_.waitForStarted(5000);
    QTest::qWait(300);  // SIPp binds its port
}

TSippPeer::~TSippPeer() {
    if (Process_.state() != QProcess::NotRunning) {
        Process_.kill();
        Process_.waitForFinished(5000);
    }
}

bool TSippPeer::Finish(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (Process_.state() != QProcess::NotRunning && !deadline.hasExpired()) QTest::qWait(50);
    const bool ok = Process_.state() == QProcess::NotRunning && Process_.exitStatus() == QProcess::NormalExit &&
                    Process_.exitCode() == 0;
    if (!ok) {
        QByteArray logs = Process_.readAll().right(2000);
        for (const char* name : {"errors.log", "messages.log"}) {
            QFile file(Dir_.filePath(QString::fromLatin1(name)));
            if (file.open(QIODevice::ReadOnly)) logs += "\n" + file.readAll().right(3000);
        }
        qWarning("SIPp: %s", logs.constData());
    }
    return ok;
}
