// "Cierre de caja": the calls of a chosen day or shift with their totals,
// the shift's opening and close with the cash counted against the cash
// expected, the CSV export and the printout, and charging or reprinting a
// call of the list. Reads and writes only the local journal: it works with
// the portal down.
//
// Charging a call from the list and voiding a payment change the day's
// figures after the counter has taken them: both are corrections, and each
// asks the administrator first (`allowCorrection`).
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QDate>
#include <QDialog>

#include "app/till/booth_documents.h"
#include "app/till/cash_close.h"
#include "app/ui/till.h"

class QComboBox;
class QDateEdit;
class QLabel;
class QRadioButton;
class QTableView;
class TBoothSettings;
class TCallListModel;
class TJournalDb;

class TCashCloseWindow : public QDialog {
    Q_OBJECT

public:
    // True when the administrator allows a correction of the close.
    using TCorrectionCheck = std::function<bool()>;

    TCashCloseWindow(TJournalDb& db, const TBoothSettings& settings, TClock clock,
                     TCorrectionCheck allowCorrection, QWidget* parent = nullptr);
    ~TCashCloseWindow() override;

    // The calls started on the day, or on the days from `first` to `last`
    // (local time), or during the shift.
    void ShowDay(const QDate& day) { ShowDays(day, day); }
    void ShowDays(const QDate& first, const QDate& last);
    void ShowShift(std::int64_t shiftId);
    // Reads the chosen period again (after a call ended, a payment).
    void Reload();

    // The figures of the period shown, summed by the database.
    const TCloseTotals& Totals() const { return Totals_; }
    // Every call of the period, for the export and the printout.
    TCloseReport FullReport() const;

    // Throw std::runtime_error when the file cannot be written.
    void ExportCsv(const QString& fileName) const;
    // Where "Exportar CSV" writes, beside the journal: no file dialog is
    // offered, since one would let anyone at the booth rename or delete
    // any file, the journal included.
    static QString ExportFolder();
    void ExportPdf(const QString& fileName) const;

    // The shift gestures; the amounts are asked by the buttons.
    void OpenShift(TMoney openingCash);
    TShift CloseShift(TMoney counted);

private:
    void BuildLayout();
    void FillShiftList();
    void ShowPeriod();
    void ShowShiftState();
    std::optional<std::int64_t> SelectedCall() const;
    // The buttons' own steps, asking for what they need.
    void OpenShiftClicked();
    void CloseShiftClicked();
    void ExportCsvClicked();
    void PrintClicked();
    void ChargeClicked();
    void VoidPaymentClicked();
    void ReprintClicked();

    TJournalDb& Db_;
    const TBoothSettings& Settings_;
    TClock Clock_;
    TCorrectionCheck AllowCorrection_;
    std::unique_ptr<TCallJournal> Journal_;
    std::unique_ptr<TShiftJournal> Shifts_;
    std::unique_ptr<TTill> Till_;
    // The period shown: [From_, To_), and its shift when one was chosen.
    QString Period_;
    QDateTime From_;
    QDateTime To_;
    std::optional<TShift> Shift_;
    TCloseTotals Totals_;
    std::optional<std::pair<QDate, QDate>> Days_;
    std::optional<std::int64_t> ShiftId_;

    // Children of this.
    QRadioButton* ByDay_ = nullptr;
    QRadioButton* ByShift_ = nullptr;
    QDateEdit* DayEdit_ = nullptr;
    QDateEdit* LastDayEdit_ = nullptr;
    QComboBox* ShiftList_ = nullptr;
    QTableView* Table_ = nullptr;
    TCallListModel* Model_ = nullptr;
    QLabel* TotalsLabel_ = nullptr;
    QLabel* ShiftState_ = nullptr;
};
