// The booth's side of its session: what the counter decided (open, with
// which limit, or closed), read from the shop database with the booth's own
// role and kept in the booth's settings, so a restart with the database out
// of reach starts from the last state known (see booth_session.h).
//
// The watch LISTENs for the shop's announcements and reads its session again
// when one names its booth; it also reads it every few seconds, which is
// how it notices a database that went away and came back. A read that fails
// leaves the state as it was.
//
// Threading: the thread that made it (the user-interface thread). Opening a
// connection to a database host that does not answer waits up to the
// connect timeout of the address (libpq's connect_timeout).
#pragma once

#include <chrono>
#include <memory>

#include <QObject>
#include <QSqlDatabase>
#include <QString>

#include "app/counter/booth_session.h"

class QSettings;
class QTimer;
class TShopListener;

class TBoothSessionWatch : public QObject {
    Q_OBJECT

public:
    // `settingsFile` keeps the last state known; empty for the booth's own
    // settings.
    TBoothSessionWatch(QString url, QString booth, const QString& settingsFile = {}, QObject* parent = nullptr);
    ~TBoothSessionWatch() override;

    const TBoothSession& Session() const { return Session_; }
    bool Connected() const { return Db_.isOpen(); }
    // The first read now, then every `period` (tests shorten it).
    void Start(std::chrono::milliseconds period = std::chrono::seconds(5));

signals:
    void SessionChanged(const TBoothSession& session);

private:
    void Read();
    bool EnsureConnected();
    void Disconnect();
    void Store();

    QString Url_;
    QString Booth_;
    std::unique_ptr<QSettings> Settings_;
    QString ConnectionName_;
    QSqlDatabase Db_;
    TBoothSession Session_;
    TShopListener* Listener_ = nullptr;  // children of this
    QTimer* Timer_ = nullptr;
};
