#include "tests/app/portal_sim.h"

#include <stdexcept>

#include <QFile>
#include <QTcpServer>
#include <QUrl>

#include "tests/app/child_process.h"

namespace {

constexpr int kStartMs = 30000;  // up at once on a quiet machine
constexpr int kStopMs = 5000;

}  // namespace

QString SimField(const QString& text) { return QString::fromLatin1(QUrl::toPercentEncoding(text)); }

quint16 FreeTcpPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) throw std::runtime_error("no free loopback port");
    return probe.serverPort();
}

TPortalSim::TPortalSim(const QStringList& configLines, const QStringList& options, quint16 port) {
    if (!Dir_.isValid()) throw std::runtime_error("no temporary folder for the simulator");
    QFile config(Dir_.filePath("portal.conf"));
    if (!config.open(QIODevice::WriteOnly)) throw std::runtime_error("cannot write the simulator configuration");
    config.write(configLines.join(u'\n').toUtf8());
    config.close();
    Process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    DieWithTest(Process_);
    Process_.start(QStringLiteral(PORTAL_SIM_PATH),
                   QStringList{"--port", QString::number(port), "--watch-stdin", "--config", config.fileName(), "--log",
                               Dir_.filePath("requests.log")} +
                       options);
    if (!Process_.waitForStarted(kStartMs)) throw std::runtime_error("portal-sim did not start");
    while (!Process_.canReadLine()) {
        if (!Process_.waitForReadyRead(kStartMs)) throw std::runtime_error("portal-sim gave no port");
    }
    bool ok = false;
    Port_ = static_cast<quint16>(Process_.readLine().trimmed().toUInt(&ok));
    if (!ok || Port_ == 0) throw std::runtime_error("portal-sim gave no usable port");
}

TPortalSim::~TPortalSim() { Stop(); }

void TPortalSim::Stop() {
    if (Process_.state() == QProcess::NotRunning) return;
    Process_.closeWriteChannel();  // the simulator ends on end of input
    if (!Process_.waitForFinished(kStopMs)) {
        Process_.kill();
        Process_.waitForFinished(kStopMs);
    }
}

QString TPortalSim::BaseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(Port_); }

QList<TLoggedRequest> TPortalSim::Requests() const {
    QFile log(Dir_.filePath("requests.log"));
    QList<TLoggedRequest> requests;
    if (!log.open(QIODevice::ReadOnly)) return requests;
    // Complete lines only: the simulator may be writing the last one.
    QByteArray text = log.readAll();
    text.truncate(text.lastIndexOf('\n') + 1);
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> f = line.split('\t');
        if (f.size() != 6) continue;
        requests.append({f[0].toInt(), QString::fromLatin1(f[1]), QString::fromLatin1(f[2]),
                         QString::fromLatin1(f[3]), QString::fromLatin1(f[4]), QString::fromLatin1(f[5])});
    }
    return requests;
}

QStringList TPortalSim::Targets() const {
    QStringList targets;
    for (const TLoggedRequest& request : Requests()) targets.append(request.Target);
    return targets;
}
