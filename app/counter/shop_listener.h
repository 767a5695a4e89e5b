// The shop's announcements: every change in the shop's tables is announced
// by the database on one channel with the booth's name (a trigger), and
// this turns them into a Qt signal. It LISTENs on the connection it is
// given, so the announcements arrive through that connection's socket in
// the event loop of the connection's thread: nothing is polled.
#pragma once

#include <QObject>
#include <QSqlDatabase>
#include <QString>

class TShopListener : public QObject {
    Q_OBJECT

public:
    // Throws std::runtime_error when the driver cannot listen.
    explicit TShopListener(QSqlDatabase db, QObject* parent = nullptr);
    ~TShopListener() override;

signals:
    // A change for the booth of that name.
    void Changed(const QString& booth);

private:
    QSqlDatabase Db_;
};
