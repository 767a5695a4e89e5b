// The simulator's HTTP/1.1 side: GET requests on loopback, one log line per
// request received, and the misbehaviours the booth must survive.
#pragma once

#include <memory>

#include <QFile>
#include <QHash>
#include <QObject>
#include <QTcpServer>

#include "tools/portal_sim/sim_config.h"

class QTcpSocket;

enum class TSimMode {
    Answer,   // tagged replies
    NoTags,   // a page without any of the portal's tags
    Hang,     // read the request, log it and never answer
    Status,   // answer every request with a fixed HTTP status
};

struct TSimOptions {
    TSimMode Mode = TSimMode::Answer;
    int Status = 500;  // for TSimMode::Status
    QString LogPath;   // empty: no log
    int DelayMs = 0;   // wait this long before each answer
    QString HangAction;  // never answer requests of this action ("de", ...)
};

class TSimServer : public QObject {
    Q_OBJECT

public:
    TSimServer(TSimConfig config, TSimOptions options, QObject* parent = nullptr);

    // Listens on 127.0.0.1; 0 takes any free port. Throws std::runtime_error.
    quint16 Listen(quint16 port);

private:
    void Accept();
    void Read(QTcpSocket* socket);
    void Handle(QTcpSocket* socket, const QByteArray& head);
    void Send(QTcpSocket* socket, const QByteArray& message, bool close);
    void Log(int connection, const QList<QByteArray>& requestLine, const QByteArray& head);
    QByteArray Response(const QByteArray& target, int connection) const;

    TSimConfig Config_;
    TSimOptions Options_;
    QTcpServer* Server_;  // child of this
    std::unique_ptr<QFile> Log_;
    int Connections_ = 0;
    QHash<QTcpSocket*, int> Numbers_;  // connection number of each open socket
};
