// "Cierre de caja" at the counter: the shop's close over every booth for the
// days chosen, with the totals per booth and per operator, the cash counted
// against the cash expected, the calls of the period, voids behind the
// administrator PIN, and the close as CSV and PDF beside the program's data.
#pragma once

#include <functional>
#include <optional>

#include <QDate>
#include <QDialog>

#include "app/counter/shop_close.h"

class QDateEdit;
class QLabel;
class QLineEdit;
class QTableWidget;
class TCounterDb;

class TShopCloseWindow : public QDialog {
    Q_OBJECT

public:
    // True when the administrator allows a correction (a void).
    using TCorrectionCheck = std::function<bool()>;

    TShopCloseWindow(TCounterDb& db, TCorrectionCheck allowCorrection, QWidget* parent = nullptr);

    // The calls started on the days from `first` to `last` (local time).
    void ShowDays(const QDate& first, const QDate& last);
    const TShopClose& Close() const { return Close_; }
    const std::vector<TShopCall>& Calls() const { return Calls_; }
    // The cash typed in "Efectivo contado", when it reads as an amount.
    std::optional<TMoney> Counted() const;

    // Both throw std::runtime_error when the file cannot be written.
    void ExportCsv(const QString& fileName) const;
    void ExportPdf(const QString& fileName) const;
    // Where the exports go: the program's data folder, "cierres".
    static QString ExportFolder();
    // Takes back the payment of the call on that row of the calls table,
    // after the administrator's PIN.
    void VoidRow(int row);

private:
    void BuildLayout();
    void Reload();
    void ShowCash();
    void ExportClicked(bool pdf);
    QString Period() const;

    TCounterDb& Db_;
    TCorrectionCheck AllowCorrection_;
    TShopClose Close_;
    std::vector<TShopCall> Calls_;

    // Children of this.
    QDateEdit* First_ = nullptr;
    QDateEdit* Last_ = nullptr;
    QTableWidget* Booths_ = nullptr;
    QTableWidget* Operators_ = nullptr;
    QTableWidget* CallTable_ = nullptr;
    QLineEdit* Counted_ = nullptr;
    QLabel* Cash_ = nullptr;
};
