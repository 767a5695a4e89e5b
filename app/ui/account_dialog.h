// "Configuración Cuenta": the account number and password, the transport
// and, for TLS, the files it uses. The server and port are shown for
// information only: they are the ones the booth registers with, set by the
// provider's addresses.
#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QLineEdit;
class TFileField;

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
    // The booth's own certificate and its private key (PEM files), for TLS
    // connections the server opens to the booth; empty: none.
    void SetCertificateFile(const QString& path);
    QString CertificateFile() const;
    void SetKeyFile(const QString& path);
    QString KeyFile() const;

    // Over TLS a file that cannot be read, or a certificate without its key
    // or a key without its certificate, is refused with a box that names
    // it, and the dialog stays open.
    void accept() override;

private:
    // What keeps the dialog from closing; empty: nothing.
    QString TlsFilesRefusal() const;
    void ShowTlsFields();

    QLineEdit* Username_;  // children of this
    QLineEdit* Password_;
    QComboBox* Server_;
    QComboBox* Port_;
    QComboBox* Transport_;
    TFileField* CaFile_;
    TFileField* CertificateFile_;
    TFileField* KeyFile_;
};
