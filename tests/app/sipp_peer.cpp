#include "tests/app/sipp_peer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTest>
#include <QUdpSocket>

#include "tests/app/child_process.h"

namespace {

quint16 FreeUdpPort() {
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

// Whether some socket holds UDP `port`, read from the kernel's table: a bind
// of ours to find out could take the port from SIPp as it starts.
bool UdpPortHeld(quint16 port) {
    QFile table(QStringLiteral("/proc/net/udp"));
    if (!table.open(QIODevice::ReadOnly)) return false;
    table.readLine();  // the heading
    const QByteArray wanted = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0') + ' ';
    for (QByteArray row = table.readLine(); !row.isEmpty(); row = table.readLine()) {
        const QList<QByteArray> fields = row.simplified().split(' ');
        if (fields.size() > 1 && (fields[1] + ' ').endsWith(wanted)) return true;
    }
    return false;
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
    DieWithTest(Process_);
    Process_.start(QStringLiteral("sipp"), args);
    Process_.waitForStarted(30000);
    // Nothing may be sent to SIPp before it listens; a bound only a fault
    // (SIPp failing to start) reaches.
    const QDeadlineTimer deadline(30000);
    while (Process_.state() == QProcess::Running && !UdpPortHeld(Port_) && !deadline.hasExpired())
        QTest::qWait(20);
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
