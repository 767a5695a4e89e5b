#include "app/ui/account_dialog.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <utility>

#include "app/portal/provider.h"
#include "app/ui/file_field.h"

namespace {

void Caption(QWidget* parent, const char* text, int top) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setGeometry(16, top, 90, 17);
}

QComboBox* ShownOnlyList(QWidget* parent, const QStringList& entries, int top, const char* name) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setGeometry(110, top - 2, 145, 21);
    list->addItems(entries);
    list->setCurrentIndex(0);
    list->setEnabled(false);
    return list;
}

const char* const kCaCaption = "Certificado de la CA";
const char* const kCertificateCaption = "Certificado";
const char* const kKeyCaption = "Clave privada";

// A caption of two lines at most over a file field in the list's column.
TFileField* FileRow(QWidget* parent, const char* caption, int top, const char* name, const QString& filter) {
    auto* label = new QLabel(QString::fromUtf8(caption) + QLatin1Char(':'), parent);
    label->setWordWrap(true);
    label->setGeometry(16, top - 6, 90, 34);
    auto* field = new TFileField(QString::fromLatin1(name), QString::fromUtf8(caption), filter, parent);
    field->setGeometry(110, top, 145, 21);
    label->setBuddy(field);
    return field;
}

}  // namespace

TAccountDialog::TAccountDialog(QWidget* parent) : QDialog(parent, Qt::Tool) {
    setObjectName(QStringLiteral("accountDialog"));
    setWindowTitle(QString::fromUtf8("Configuración Cuenta"));
    resize(297, 406);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);
    auto* group = new QGroupBox(QString::fromUtf8("Información"), this);
    group->setGeometry(8, 8, 273, 313);
    Caption(group, "Usuario (SIP):", 28);
    Username_ = new QLineEdit(group);
    Username_->setObjectName(QStringLiteral("usernameField"));
    Username_->setGeometry(110, 26, 145, 21);
    Caption(group, "Contraseña:", 64);
    Password_ = new QLineEdit(group);
    Password_->setObjectName(QStringLiteral("passwordField"));
    Password_->setGeometry(110, 62, 145, 21);
    Password_->setEchoMode(QLineEdit::Password);
    Caption(group, "Servidor:", 100);
    Server_ = ShownOnlyList(group, DefaultSipServers(), 100, "serverList");
    Caption(group, "Puerto:", 136);
    Port_ = ShownOnlyList(group, {QStringLiteral("5060"), QStringLiteral("8080")}, 136, "portList");
    // A router that mangles SIP over UDP is passed by TCP, and by TLS,
    // which no router can read.
    Caption(group, "Transporte:", 172);
    Transport_ = ShownOnlyList(group, {QStringLiteral("udp"), QStringLiteral("tcp"), QStringLiteral("tls")}, 172,
                               "transportList");
    Transport_->setEnabled(true);
    const QString certificates = QString::fromUtf8("Certificados (*.pem *.crt);;Todos los archivos (*)");
    // A provider with a CA of its own names it here; the system's store
    // is trusted all the same.
    CaFile_ = FileRow(group, kCaCaption, 206, "caFile", certificates);
    // With a certificate of its own the booth takes the TLS connections its
    // server opens to it, not only the one it opened.
    CertificateFile_ = FileRow(group, kCertificateCaption, 242, "certificate", certificates);
    KeyFile_ = FileRow(group, kKeyCaption, 278, "key",
                       QString::fromUtf8("Claves (*.pem *.key);;Todos los archivos (*)"));
    connect(Transport_, &QComboBox::currentTextChanged, this, [this] { ShowTlsFields(); });
    ShowTlsFields();
    auto* accept = new QPushButton(QStringLiteral("&Aceptar"), this);
    accept->setObjectName(QStringLiteral("acceptButton"));
    accept->setGeometry(112, 336, 81, 27);
    accept->setDefault(true);
    connect(accept, &QPushButton::clicked, this, &QDialog::accept);
    auto* cancel = new QPushButton(QStringLiteral("&Cancelar"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setGeometry(200, 336, 81, 27);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TAccountDialog::SetCredentials(const QString& username, const QString& password) {
    Username_->setText(username);
    Password_->setText(password);
}

QString TAccountDialog::Username() const { return Username_->text(); }

QString TAccountDialog::Password() const { return Password_->text(); }

void TAccountDialog::SetTransport(const QString& transport) {
    const int index = Transport_->findText(transport.toLower());
    Transport_->setCurrentIndex(index < 0 ? 0 : index);
}

QString TAccountDialog::Transport() const { return Transport_->currentText(); }

void TAccountDialog::SetCaFile(const QString& path) { CaFile_->SetPath(path); }

QString TAccountDialog::CaFile() const { return CaFile_->Path(); }

void TAccountDialog::SetCertificateFile(const QString& path) { CertificateFile_->SetPath(path); }

QString TAccountDialog::CertificateFile() const { return CertificateFile_->Path(); }

void TAccountDialog::SetKeyFile(const QString& path) { KeyFile_->SetPath(path); }

QString TAccountDialog::KeyFile() const { return KeyFile_->Path(); }

// The files matter over TLS alone; over udp and tcp they are kept as they
// are for the day TLS is chosen again.
void TAccountDialog::ShowTlsFields() {
    const bool tls = Transport() == QLatin1String("tls");
    for (TFileField* field : {CaFile_, CertificateFile_, KeyFile_}) field->setEnabled(tls);
}

QString TAccountDialog::TlsFilesRefusal() const {
    if (Transport() != QLatin1String("tls")) return {};
    const std::pair<const TFileField*, const char*> files[] = {
        {CaFile_, kCaCaption}, {CertificateFile_, kCertificateCaption}, {KeyFile_, kKeyCaption}};
    for (const auto& [field, caption] : files) {
        if (!field->Readable())
            return QString::fromUtf8("No se puede leer el archivo %1 (%2).")
                .arg(field->Path(), QString::fromUtf8(caption));
    }
    if (CertificateFile().isEmpty() != KeyFile().isEmpty())
        return CertificateFile().isEmpty() ? QString::fromUtf8("Falta el certificado de la clave privada.")
                                           : QString::fromUtf8("Falta la clave privada del certificado.");
    return {};
}

void TAccountDialog::accept() {
    const QString refusal = TlsFilesRefusal();
    if (!refusal.isEmpty()) {
        QMessageBox::warning(this, windowTitle(), refusal);
        return;
    }
    QDialog::accept();
}

namespace {

void Choose(QComboBox& list, const QString& entry) {
    int index = list.findText(entry);
    if (index < 0) {
        list.insertItem(0, entry);
        index = 0;
    }
    list.setCurrentIndex(index);
}

}  // namespace

void TAccountDialog::SetServer(const QString& server) {
    const QString host = server.section(QLatin1Char(':'), 0, 0);
    const QString port = server.section(QLatin1Char(':'), 1, 1);
    Choose(*Server_, host);
    Choose(*Port_, port.isEmpty() ? QStringLiteral("5060") : port);
}
