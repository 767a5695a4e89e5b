#include "app/ui/checkout_dialog.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/money/amount_text.h"

TCheckoutDialog::TCheckoutDialog(TMoney amount, const QString& number, const QLocale& locale, QWidget* parent)
    : QDialog(parent), Amount_(amount), Locale_(locale) {
    setObjectName(QStringLiteral("checkoutDialog"));
    setWindowTitle(QStringLiteral("Cobrar"));
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Teléfono:"), new QLabel(number, this));
    auto* due = new QLabel(FormatCurrency(amount, locale), this);
    due->setObjectName(QStringLiteral("amountDue"));
    QFont bold = due->font();
    bold.setBold(true);
    bold.setPointSize(bold.pointSize() + 4);
    due->setFont(bold);
    form->addRow(QStringLiteral("A cobrar:"), due);
    Received_ = new QLineEdit(this);
    Received_->setObjectName(QStringLiteral("receivedField"));
    Received_->setText(FormatDecimal(RoundToHundredths(amount) * 100, 2, locale.decimalPoint().front()));
    form->addRow(QStringLiteral("Recibido:"), Received_);
    Change_ = new QLabel(this);
    Change_->setObjectName(QStringLiteral("change"));
    Change_->setFont(bold);
    form->addRow(QStringLiteral("Vuelto:"), Change_);
    Print_ = new QCheckBox(QStringLiteral("Imprimir recibo"), this);
    Print_->setObjectName(QStringLiteral("printReceipt"));
    Print_->setChecked(true);
    form->addRow(Print_);
    auto* buttons = new QHBoxLayout;
    Accept_ = new QPushButton(QStringLiteral("&Cobrar"), this);
    Accept_->setObjectName(QStringLiteral("chargeButton"));
    Accept_->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("&Cancelar"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    buttons->addStretch();
    buttons->addWidget(Accept_);
    buttons->addWidget(cancel);
    form->addRow(buttons);
    connect(Received_, &QLineEdit::textChanged, this, &TCheckoutDialog::ShowChange);
    connect(Accept_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    Received_->selectAll();
    ShowChange();
}

std::optional<TMoney> TCheckoutDialog::Received() const {
    const std::optional<std::int64_t> value = ParseDecimal(Received_->text(), 2);
    if (!value || *value < Amount_.TenThousandths) return std::nullopt;
    return TMoney{*value};
}

bool TCheckoutDialog::PrintReceipt() const { return Print_->isChecked(); }

void TCheckoutDialog::ShowChange() {
    const std::optional<TMoney> received = Received();
    Accept_->setEnabled(received.has_value());
    Change_->setText(received ? FormatCurrency(TMoney{received->TenThousandths - Amount_.TenThousandths}, Locale_)
                              : QStringLiteral("---"));
}
