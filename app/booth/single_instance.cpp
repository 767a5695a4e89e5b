#include "app/booth/single_instance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

namespace {

constexpr char kShowRequest[] = "show\n";

QString GuardFolder(const QString& folder) {
    if (!folder.isEmpty()) return folder;
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

}  // namespace

TSingleInstance::TSingleInstance(const QString& key, const QString& folder, QObject* parent)
    : QObject(parent),
      SocketPath_(QDir(GuardFolder(folder)).filePath(key + QStringLiteral(".socket"))),
      Lock_(QDir(GuardFolder(folder)).filePath(key + QStringLiteral(".lock"))) {
    // A lock left by a copy that died is taken over at once (Qt checks that
    // its process is gone); a live holder is never timed out.
    Lock_.setStaleLockTime(0);
    First_ = Lock_.tryLock(0);
    if (First_) Listen();
}

TSingleInstance::~TSingleInstance() = default;

void TSingleInstance::Listen() {
    Server_ = new QLocalServer(this);
    Server_->setSocketOptions(QLocalServer::UserAccessOption);
    // Holding the lock, any socket file left behind is a dead copy's.
    QLocalServer::removeServer(SocketPath_);
    connect(Server_, &QLocalServer::newConnection, this, &TSingleInstance::Serve);
    Server_->listen(SocketPath_);
}

void TSingleInstance::Serve() {
    while (QLocalSocket* socket = Server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) return;
            const QByteArray line = socket->readLine();
            if (line == kShowRequest) emit ShowRequested();
            socket->write("ok\n");
            socket->flush();
        });
    }
}

bool TSingleInstance::AskFirstToShow(int timeoutMs) const {
    QLocalSocket socket;
    socket.connectToServer(SocketPath_);
    if (!socket.waitForConnected(timeoutMs)) return false;
    socket.write(kShowRequest);
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    return socket.waitForReadyRead(timeoutMs) && socket.readLine() == "ok\n";
}
