// "Cobrar": the amount to charge for a call, the cash the customer hands
// over and the change to give back. Accepting needs at least the amount.
#pragma once

#include <optional>

#include <QDialog>
#include <QLocale>

#include "app/money/money.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TCheckoutDialog : public QDialog {
    Q_OBJECT

public:
    TCheckoutDialog(TMoney amount, const QString& number, const QLocale& locale, QWidget* parent = nullptr);

    // The cash received, once it covers the amount.
    std::optional<TMoney> Received() const;
    bool PrintReceipt() const;

private:
    void ShowChange();

    TMoney Amount_;
    QLocale Locale_;
    QLineEdit* Received_;  // children of this
    QLabel* Change_;
    QCheckBox* Print_;
    QPushButton* Accept_;
};
