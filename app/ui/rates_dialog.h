// "Tarifas de venta": the customer's prices (default factor, minimum
// charge, rounding step, billing increment and a table of rules per
// prefix, the fallback rate for calls the portal never priced) and the
// shop's details the receipts print, with the
// administrator PIN. Opened only after the PIN.
#pragma once

#include <optional>

#include <QDialog>

#include "app/booth/booth_settings.h"
#include "app/till/selling_price.h"

class QComboBox;
class QLineEdit;
class QTableWidget;

class TRatesDialog : public QDialog {
    Q_OBJECT

public:
    explicit TRatesDialog(QWidget* parent = nullptr);

    void Fill(const TSellingRates& rates, const TShopSettings& shop);
    // The rates as entered; the error text of the first bad field in
    // `fault` otherwise.
    std::optional<TSellingRates> Rates(QString* fault) const;
    TShopSettings Shop() const;
    // The new PIN typed, empty to keep the stored one.
    QString NewPin() const;

    void AddRule();
    void RemoveRule();

private:
    // Accepting checks the entries and stays open on a fault.
    void TryAccept();

    QLineEdit* Factor_;  // children of this
    QLineEdit* Minimum_;
    QLineEdit* Rounding_;
    QComboBox* Increment_;
    QLineEdit* FallbackRate_;
    QTableWidget* Rules_;
    QLineEdit* ShopName_;
    QLineEdit* ShopAddress_;
    QLineEdit* Booth_;
    QLineEdit* Pin_;
};

