// The journal's calls as a table for the close window. The rows live in one
// vector and are formatted when shown, so a year of calls loads as fast as
// the database reads it.
#pragma once

#include <vector>

#include <QAbstractTableModel>
#include <QLocale>

#include "app/call_journal.h"

class TCallListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit TCallListModel(const QLocale& locale, QObject* parent = nullptr);

    void SetCalls(std::vector<TJournalCall> calls);
    const std::vector<TJournalCall>& Calls() const { return Calls_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QLocale Locale_;
    std::vector<TJournalCall> Calls_;
};
