#include "tests/app/kamailio_process.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>
#include <QUdpSocket>

#include "tests/app/child_process.h"

TKamailioProcess::TKamailioProcess(const QStringList& defines) {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("kamailio"), {"/usr/sbin", "/usr/bin"});
    if (program.isEmpty() || !Dir_.isValid()) return;
    const QString dir = Dir_.path();
    Process_.setStandardOutputFile(dir + QStringLiteral("/kamailio.log"));
    Process_.setProcessChannelMode(QProcess::MergedChannels);
    QStringList args{"-f", QStringLiteral(BOOTH_TEST_SOURCE_DIR "/kamailio.cfg"), "-P",
                     dir + "/kamailio.pid", "-Y", dir + "/run", "-w", dir, "-m", "64", "-M", "8",
                     "-DD", "-E", "-A", "CTLSOCK=\"unix:" + dir + "/ctl\""};
    for (const QString& name : defines) args << QStringLiteral("-A") << name;
    DieWithTest(Process_);
    Process_.start(program, args);
    if (!Process_.waitForStarted(5000)) return;
    const QDeadlineTimer deadline(30000);  // up within a second when the machine is quiet
    while (!deadline.hasExpired() && Process_.state() == QProcess::Running) {
        if (AnswersOptions()) {
            Ready_ = true;
            return;
        }
        QThread::msleep(100);
    }
}

TKamailioProcess::~TKamailioProcess() {
    if (Process_.state() == QProcess::NotRunning) return;
    Process_.terminate();
    if (!Process_.waitForFinished(5000)) {
        Process_.kill();
        Process_.waitForFinished(2000);
    }
}

QString TKamailioProcess::Log() const {
    QFile file(Dir_.path() + QStringLiteral("/kamailio.log"));
    if (!file.open(QIODevice::ReadOnly)) return QString();
    // Complete lines only: Kamailio may be writing the next one.
    QByteArray text = file.readAll();
    text.truncate(text.lastIndexOf('\n') + 1);
    return QString::fromUtf8(text);
}

// An OPTIONS to the server itself is answered 200 once it is up.
bool TKamailioProcess::AnswersOptions() {
    QUdpSocket socket;
    if (!socket.bind(QHostAddress::LocalHost, 0)) return false;
    const QByteArray request =
        "OPTIONS sip:127.0.0.1:5060 SIP/2.0\r\n"
        "Via: SIP/2.0/UDP 127.0.0.1:" + QByteArray::number(socket.localPort()) + ";branch=z9hG4bKprobe1\r\n"
        "Max-Forwards: 70\r\nFrom: <sip:probe@127.0.0.1>;tag=probe\r\nTo: <sip:127.0.0.1>\r\n"
        "Call-ID: probe-1@127.0.0.1\r\nCSeq: 1 OPTIONS\r\nContent-Length: 0\r\n\r\n";
    socket.writeDatagram(request, QHostAddress::LocalHost, 5060);
    if (!socket.waitForReadyRead(300)) return false;
    QByteArray reply(static_cast<int>(socket.pendingDatagramSize()), '\0');
    socket.readDatagram(reply.data(), reply.size());
    return reply.startsWith("SIP/2.0 200");
}
