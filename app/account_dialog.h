// "Configuración Cuenta": the account number and password. The server and
// port lists are shown for the customer's information only; registration
// always uses the booth's own server.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;

class TAccountDialog : public QDialog {
    Q_OBJECT

public:
    explicit TAccountDialog(QWidget* parent = nullptr);

    void SetCredentials(const QString& username, const QString& password);
    QString Username() const;
    QString Password() const;

private:
    QLineEdit* Username_;  // children of this
    QLineEdit* Password_;
};
