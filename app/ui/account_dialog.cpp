#include "app/ui/account_dialog.h"

#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/portal/provider.h"

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

}  // namespace

TAccountDialog::TAccountDialog(QWidget* parent) : QDialog(parent, Qt::Tool) {
    setObjectName(QStringLiteral("accountDialog"));
    setWindowTitle(QString::fromUtf8("Configuración Cuenta"));
    resize(297, 334);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);
    auto* group = new QGroupBox(QString::fromUtf8("Información"), this);
    group->setGeometry(8, 8, 273, 241);
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
    // A provider with a CA of its own names it here; the system's store
    // is trusted all the same.
    auto* caption = new QLabel(QString::fromUtf8("Certificado de la CA:"), group);
    caption->setWordWrap(true);
    caption->setGeometry(16, 200, 90, 34);
    CaFile_ = new QLineEdit(group);
    CaFile_->setObjectName(QStringLiteral("caFileField"));
    CaFile_->setGeometry(110, 206, 117, 21);
    auto* browse = new QPushButton(QStringLiteral("..."), group);
    browse->setObjectName(QStringLiteral("caFileButton"));
    browse->setGeometry(231, 206, 24, 21);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString chosen = QFileDialog::getOpenFileName(
            this, QString::fromUtf8("Certificado de la CA"), CaFile_->text(),
            QString::fromUtf8("Certificados (*.pem *.crt);;Todos los archivos (*)"));
        if (!chosen.isEmpty()) CaFile_->setText(chosen);
    });
    auto* accept = new QPushButton(QStringLiteral("&Aceptar"), this);
    accept->setObjectName(QStringLiteral("acceptButton"));
    accept->setGeometry(112, 264, 81, 27);
    accept->setDefault(true);
    connect(accept, &QPushButton::clicked, this, &QDialog::accept);
    auto* cancel = new QPushButton(QStringLiteral("&Cancelar"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setGeometry(200, 264, 81, 27);
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

void TAccountDialog::SetCaFile(const QString& path) { CaFile_->setText(path); }

QString TAccountDialog::CaFile() const { return CaFile_->text().trimmed(); }

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
