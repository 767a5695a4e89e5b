// The counter's board as a table: one row per booth, its state, the call's
// number and destination, the running duration, the provider's cost, the
// customer's price ("A cobrar") and its calls not yet paid. The rows come
// from the shop database when something changes; the clock's tick redraws
// the duration and the silence of a booth without asking the database.
#pragma once

#include <functional>
#include <vector>

#include <QAbstractTableModel>
#include <QDateTime>
#include <QLocale>

#include "app/counter/booth_board.h"

class TBoardModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum TColumn { Booth, State, Number, Destination, Duration, Cost, Price, Unpaid, Session, ColumnCount };

    explicit TBoardModel(QLocale locale, QObject* parent = nullptr);

    // The booths as the database has them now.
    void SetRows(std::vector<TBoothRow> rows);
    // The counter's clock moved: durations and silences are redrawn.
    void SetNow(const QDateTime& now);

    const std::vector<TBoothRow>& Rows() const { return Rows_; }
    // The text a cell shows (tests and the demonstration read it).
    QString Text(int row, TColumn column) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QLocale Locale_;
    QDateTime Now_;
    std::vector<TBoothRow> Rows_;
};
