// One booth program per user session. The first copy holds a lock file and
// listens on a local socket, both in the user's runtime folder; a later copy
// finds the lock taken and asks the first, through the socket, to bring its
// window forward.
//
// Threading: user-interface thread only.
#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

class QLocalServer;

class TSingleInstance : public QObject {
    Q_OBJECT

public:
    // `key` names the lock and the socket; `folder` holds both (the runtime
    // folder when empty).
    explicit TSingleInstance(const QString& key, const QString& folder = QString(),
                             QObject* parent = nullptr);
    ~TSingleInstance() override;

    // True when this copy holds the lock (and listens for later copies).
    bool IsFirst() const { return First_; }

    // From a later copy: asks the first to show its window; false when the
    // first copy did not take the request within the time given.
    bool AskFirstToShow(int timeoutMs = 3000) const;

signals:
    // A later copy asked for the window.
    void ShowRequested();

private:
    void Listen();
    void Serve();

    QString SocketPath_;
    QLockFile Lock_;
    QLocalServer* Server_ = nullptr;  // child of this, first copy only
    bool First_ = false;
};
