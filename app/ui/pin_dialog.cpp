#include "app/ui/pin_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "app/booth/admin_pin.h"

TPinDialog::TPinDialog(QWidget* parent, const QString& prompt) : QDialog(parent), Pin_(new QLineEdit(this)) {
    setObjectName(QStringLiteral("adminPinDialog"));
    setWindowTitle(QString::fromUtf8(kPinCaption));
    Pin_->setObjectName(QStringLiteral("adminPinEdit"));
    Pin_->setEchoMode(QLineEdit::Password);
    Pin_->setMaxLength(8);
    Pin_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,8}")), Pin_));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Aceptar"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(prompt.isEmpty() ? QString::fromUtf8(kPinPromptText) : prompt, this));
    layout->addWidget(Pin_);
    layout->addWidget(buttons);
}

QString TPinDialog::Pin() const { return Pin_->text(); }

std::optional<QString> AskForAdminPin(QWidget* parent, const QString& prompt) {
    TPinDialog dialog(parent, prompt);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Pin();
}
