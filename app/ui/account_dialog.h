// "Configuración Cuenta": the account number and password. The server and
// port are shown for information only: they are the ones the booth
// registers with, set by the provider's addresses.
#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QLineEdit;

class TAccountDialog : public QDialog {
    Q_OBJECT

public:
    explicit TAccountDialog(QWidget* parent = nullptr);

    void SetCredentials(const QString& username, const QString& password);
    // "host" or "host:port" (5060 when none is given).
    void SetServer(const QString& server);
    QString Username() const;
    QString Password() const;
    // The signalling transport: "udp", "tcp" or "tls"; anything else shows udp.
    void SetTransport(const QString& transport);
    QString Transport() const;
    // The CA file trusted for the server's TLS certificate; empty: none.
    void SetCaFile(const QString& path);
    QString CaFile() const;

private:
    QLineEdit* Username_;  // children of this
    QLineEdit* Password_;
    QComboBox* Server_;
    QComboBox* Port_;
    QComboBox* Transport_;
    QLineEdit* CaFile_;
};
