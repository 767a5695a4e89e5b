#include "tools/portal_sim/sim_server.h"

#include <stdexcept>
#include <utility>

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

namespace {

// The "ac" value of a request target.
QString ActionOf(const QByteArray& target) {
    const qsizetype mark = target.indexOf('?');
    if (mark < 0) return QString();
    return QUrlQuery(QString::fromLatin1(target.mid(mark + 1))).queryItemValue(QStringLiteral("ac"));
}


constexpr qsizetype kMaxHead = 64 * 1024;
constexpr char kScriptPath[] = "/portal/sys/procesar.php";

// The value of one header of the request head, empty when absent.
QByteArray Header(const QByteArray& head, const QByteArray& name) {
    for (const QByteArray& line : head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower()) {
            return line.mid(colon + 1).trimmed();
        }
    }
    return {};
}

QByteArray StatusText(int status) {
    switch (status) {
        case 200: return "OK";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 500: return "Internal Server Error";
        case 503: return "Service Unavailable";
        default: return "Status";
    }
}

QByteArray Message(int status, const QByteArray& body, int connection) {
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + StatusText(status) +
           "\r\nContent-Type: text/html; charset=UTF-8\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nSet-Cookie: sesion=" +
           QByteArray::number(connection) + "; Path=/\r\nConnection: keep-alive\r\n\r\n" + body;
}

}  // namespace

TSimServer::TSimServer(TSimConfig config, TSimOptions options, QObject* parent)
    : QObject(parent), Config_(std::move(config)), Options_(std::move(options)),
      Server_(new QTcpServer(this)) {
    if (!Options_.LogPath.isEmpty()) {
        Log_ = std::make_unique<QFile>(Options_.LogPath);
        if (!Log_->open(QIODevice::WriteOnly | QIODevice::Append)) {
            throw std::runtime_error("cannot open the log " + Options_.LogPath.toStdString());
        }
    }
    connect(Server_, &QTcpServer::newConnection, this, &TSimServer::Accept);
}

quint16 TSimServer::Listen(quint16 port) {
    if (!Server_->listen(QHostAddress::LocalHost, port)) {
        throw std::runtime_error("cannot listen: " + Server_->errorString().toStdString());
    }
    return Server_->serverPort();
}

void TSimServer::Accept() {
    while (QTcpSocket* socket = Server_->nextPendingConnection()) {
        Numbers_.insert(socket, ++Connections_);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Read(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            Numbers_.remove(socket);
            socket->deleteLater();
        });
    }
}

// Requests may arrive in pieces or several at once on a kept-alive
// connection; the socket's buffer holds what is not yet a whole head.
void TSimServer::Read(QTcpSocket* socket) {
    for (;;) {
        const QByteArray pending = socket->peek(socket->bytesAvailable());
        const qsizetype end = pending.indexOf("\r\n\r\n");
        if (end < 0) {
            if (pending.size() > kMaxHead) socket->abort();
            return;
        }
        const QByteArray head = pending.left(end);
        const qsizetype bodySize = Header(head, "Content-Length").toLongLong();
        if (pending.size() < end + 4 + bodySize) return;
        socket->read(end + 4 + bodySize);
        Handle(socket, head);
        if (socket->state() != QAbstractSocket::ConnectedState) return;
    }
}

void TSimServer::Handle(QTcpSocket* socket, const QByteArray& head) {
    const int connection = Numbers_.value(socket);
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    Log(connection, requestLine, head);
    if (Options_.Mode == TSimMode::Hang) return;
    if (!Options_.HangAction.isEmpty() && requestLine.size() == 3 && ActionOf(requestLine[1]) == Options_.HangAction)
        return;
    QByteArray message;
    if (requestLine.size() != 3) {
        message = Message(400, "bad request", connection);
    } else if (requestLine[0] != "GET") {
        message = Message(405, "GET only", connection);
    } else {
        message = Response(requestLine[1], connection);
    }
    Send(socket, message, Header(head, "Connection").toLower() == "close");
}

void TSimServer::Send(QTcpSocket* socket, const QByteArray& message, bool close) {
    const auto send = [socket = QPointer<QTcpSocket>(socket), message, close] {
        if (!socket) return;  // the client left while the answer was held back
        socket->write(message);
        if (close) socket->disconnectFromHost();
    };
    if (Options_.DelayMs > 0) {
        QTimer::singleShot(Options_.DelayMs, this, send);
    } else {
        send();
    }
}

QByteArray TSimServer::Response(const QByteArray& target, int connection) const {
    const qsizetype mark = target.indexOf('?');
    if (target.left(mark < 0 ? target.size() : mark) != kScriptPath) {
        return Message(404, "no such page", connection);
    }
    if (Options_.Mode == TSimMode::Status) return Message(Options_.Status, "portal failure", connection);
    if (Options_.Mode == TSimMode::NoTags) {
        return Message(200, "Servicio en mantenimiento, vuelva a intentar luego.\n", connection);
    }
    const QByteArray query = mark < 0 ? QByteArray() : target.mid(mark + 1);
    return Message(200, AnswerQuery(Config_, ParseQuery(query)).toUtf8(), connection);
}

// One line per request: connection number, method, target exactly as
// received, then the Accept, User-Agent and Cookie headers, tab-separated.
void TSimServer::Log(int connection, const QList<QByteArray>& requestLine, const QByteArray& head) {
    if (!Log_) return;
    const QByteArray line = QByteArray::number(connection) + '\t' + requestLine.value(0) + '\t' +
                            requestLine.value(1) + '\t' + Header(head, "Accept") + '\t' +
                            Header(head, "User-Agent") + '\t' + Header(head, "Cookie") + '\n';
    Log_->write(line);
    Log_->flush();
}
