#include "app/ui/rates_dialog.h"

#include <algorithm>

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/booth/admin_pin.h"
#include "app/money/amount_text.h"
#include "app/ui/message_boxes.h"

namespace {

const QString kPriceKind = QStringLiteral("Precio por minuto");
const QString kFactorKind = QStringLiteral("Factor");

QLineEdit* Field(QWidget* parent, const char* name) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    return field;
}

QString Decimal(std::int64_t tenThousandths, int decimals) { return FormatDecimal(tenThousandths, decimals, u','); }

}  // namespace

TRatesDialog::TRatesDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ratesDialog"));
    setWindowTitle(QStringLiteral("Tarifas de venta"));
    resize(460, 520);
    auto* layout = new QVBoxLayout(this);
    auto* prices = new QGroupBox(QStringLiteral("Precio al cliente"), this);
    auto* form = new QFormLayout(prices);
    Factor_ = Field(prices, "factorField");
    form->addRow(QStringLiteral("Factor sobre la tarifa:"), Factor_);
    Minimum_ = Field(prices, "minimumField");
    form->addRow(QStringLiteral("Cargo mínimo:"), Minimum_);
    Rounding_ = Field(prices, "roundingField");
    form->addRow(QStringLiteral("Redondeo:"), Rounding_);
    Increment_ = new QComboBox(prices);
    Increment_->setObjectName(QStringLiteral("incrementList"));
    for (const int seconds : kBillingIncrements)
        Increment_->addItem(QStringLiteral("%1 segundos").arg(seconds), seconds);
    form->addRow(QStringLiteral("Incremento:"), Increment_);
    FallbackRate_ = Field(prices, "fallbackRateField");
    FallbackRate_->setPlaceholderText(QStringLiteral("ninguna"));
    form->addRow(QStringLiteral("Tarifa de reserva por minuto:"), FallbackRate_);
    layout->addWidget(prices);

    auto* rules = new QGroupBox(QStringLiteral("Por prefijo (el más largo manda)"), this);
    auto* rulesLayout = new QVBoxLayout(rules);
    Rules_ = new QTableWidget(0, 3, rules);
    Rules_->setObjectName(QStringLiteral("rulesTable"));
    Rules_->setHorizontalHeaderLabels({QStringLiteral("Prefijo"), QStringLiteral("Tipo"), QStringLiteral("Valor")});
    Rules_->horizontalHeader()->setStretchLastSection(true);
    Rules_->verticalHeader()->hide();
    rulesLayout->addWidget(Rules_);
    auto* ruleButtons = new QHBoxLayout;
    auto* add = new QPushButton(QStringLiteral("&Agregar"), rules);
    add->setObjectName(QStringLiteral("addRuleButton"));
    auto* remove = new QPushButton(QStringLiteral("&Quitar"), rules);
    remove->setObjectName(QStringLiteral("removeRuleButton"));
    ruleButtons->addWidget(add);
    ruleButtons->addWidget(remove);
    ruleButtons->addStretch();
    rulesLayout->addLayout(ruleButtons);
    layout->addWidget(rules);
    connect(add, &QPushButton::clicked, this, &TRatesDialog::AddRule);
    connect(remove, &QPushButton::clicked, this, &TRatesDialog::RemoveRule);

    auto* shop = new QGroupBox(QStringLiteral("Comercio"), this);
    auto* shopForm = new QFormLayout(shop);
    ShopName_ = Field(shop, "shopNameField");
    shopForm->addRow(QStringLiteral("Nombre:"), ShopName_);
    ShopAddress_ = Field(shop, "shopAddressField");
    shopForm->addRow(QStringLiteral("Dirección:"), ShopAddress_);
    Booth_ = Field(shop, "boothNameField");
    shopForm->addRow(QStringLiteral("Cabina:"), Booth_);
    Pin_ = Field(shop, "newPinField");
    Pin_->setEchoMode(QLineEdit::Password);
    Pin_->setPlaceholderText(QStringLiteral("sin cambios"));
    shopForm->addRow(QStringLiteral("Nuevo PIN de administrador:"), Pin_);
    layout->addWidget(shop);

    auto* buttons = new QHBoxLayout;
    auto* accept = new QPushButton(QStringLiteral("&Aceptar"), this);
    accept->setObjectName(QStringLiteral("acceptButton"));
    accept->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("&Cancelar"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    buttons->addStretch();
    buttons->addWidget(accept);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(accept, &QPushButton::clicked, this, &TRatesDialog::TryAccept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TRatesDialog::Fill(const TSellingRates& rates, const TShopSettings& shop) {
    Factor_->setText(Decimal(rates.Factor, 4));
    Minimum_->setText(Decimal(rates.Minimum.TenThousandths, 2));
    Rounding_->setText(Decimal(rates.RoundingStep.TenThousandths, 2));
    Increment_->setCurrentIndex(std::max(0, Increment_->findData(rates.IncrementSeconds)));
    Rules_->setRowCount(0);
    for (const TPrefixRule& rule : rates.Rules) {
        AddRule();
        const int row = Rules_->rowCount() - 1;
        const bool price = rule.Kind == TPrefixRule::TKind::Price;
        Rules_->item(row, 0)->setText(rule.Prefix);
        qobject_cast<QComboBox*>(Rules_->cellWidget(row, 1))->setCurrentIndex(price ? 0 : 1);
        Rules_->item(row, 2)->setText(price ? Decimal(rule.Price.TenThousandths, 2) : Decimal(rule.Factor, 4));
    }
    ShopName_->setText(shop.Name);
    ShopAddress_->setText(shop.Address);
    Booth_->setText(shop.Booth);
    FallbackRate_->setText(shop.FallbackRate > TMoney{} ? Decimal(shop.FallbackRate.TenThousandths, 2) : QString());
    Pin_->clear();
}

void TRatesDialog::AddRule() {
    const int row = Rules_->rowCount();
    Rules_->insertRow(row);
    Rules_->setItem(row, 0, new QTableWidgetItem);
    auto* kind = new QComboBox(Rules_);
    kind->addItems({kPriceKind, kFactorKind});
    Rules_->setCellWidget(row, 1, kind);
    // "Precio por minuto" whole.
    Rules_->setColumnWidth(1, std::max(Rules_->columnWidth(1), kind->sizeHint().width()));
    Rules_->setItem(row, 2, new QTableWidgetItem);
}

void TRatesDialog::RemoveRule() {
    const int row = Rules_->currentRow();
    if (row >= 0) Rules_->removeRow(row);
}

std::optional<TSellingRates> TRatesDialog::Rates(QString* fault) const {
    auto fail = [fault](const QString& text) {
        if (fault) *fault = text;
        return std::nullopt;
    };
    TSellingRates rates;
    const std::optional<std::int64_t> factor = ParseDecimal(Factor_->text(), 4);
    if (!factor) return fail(QStringLiteral("El factor debe ser un número como 1,25."));
    const std::optional<std::int64_t> minimum = ParseDecimal(Minimum_->text(), 2);
    if (!minimum) return fail(QStringLiteral("El cargo mínimo debe ser un importe como 0,50."));
    const std::optional<std::int64_t> rounding = ParseDecimal(Rounding_->text(), 2);
    if (!rounding) return fail(QStringLiteral("El redondeo debe ser un importe como 0,05."));
    rates.Factor = *factor;
    rates.Minimum = TMoney{*minimum};
    rates.RoundingStep = TMoney{*rounding};
    rates.IncrementSeconds = Increment_->currentData().toInt();
    for (int row = 0; row < Rules_->rowCount(); ++row) {
        TPrefixRule rule;
        rule.Prefix = Rules_->item(row, 0)->text().trimmed();
        if (rule.Prefix.isEmpty()) return fail(QStringLiteral("Falta el prefijo en la fila %1.").arg(row + 1));
        const bool price = qobject_cast<QComboBox*>(Rules_->cellWidget(row, 1))->currentIndex() == 0;
        const std::optional<std::int64_t> value = ParseDecimal(Rules_->item(row, 2)->text(), price ? 2 : 4);
        if (!value) return fail(QStringLiteral("El valor del prefijo %1 no es válido.").arg(rule.Prefix));
        rule.Kind = price ? TPrefixRule::TKind::Price : TPrefixRule::TKind::Factor;
        if (price)
            rule.Price = TMoney{*value};
        else
            rule.Factor = *value;
        rates.Rules.push_back(rule);
    }
    if (!FallbackRate_->text().trimmed().isEmpty() && !ParseDecimal(FallbackRate_->text(), 2))
        return fail(QStringLiteral("La tarifa de reserva debe ser un importe como 150,00."));
    QString rulesFault = SellingRatesFault(rates);
    if (rulesFault.isEmpty()) rulesFault = BelowCostFault(rates);
    if (!rulesFault.isEmpty()) return fail(rulesFault);
    return rates;
}

TShopSettings TRatesDialog::Shop() const {
    return {ShopName_->text().trimmed(), ShopAddress_->text().trimmed(), Booth_->text().trimmed(),
            TMoney{ParseDecimal(FallbackRate_->text(), 2).value_or(0)}};
}

QString TRatesDialog::NewPin() const { return Pin_->text(); }

void TRatesDialog::TryAccept() {
    QString fault;
    if (!Rates(&fault)) {
        ShowError(this, fault);
        return;
    }
    // Checked here, so a PIN that cannot be kept never leaves the rates
    // saved and the PIN silently unchanged.
    if (!NewPin().isEmpty() && !IsValidAdminPin(NewPin())) {
        ShowError(this, QString::fromUtf8(kBadNewPinText));
        return;
    }
    accept();
}
