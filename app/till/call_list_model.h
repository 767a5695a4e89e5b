// The journal's calls as a table for the close window. Rows are read a page
// at a time as the view scrolls to them and formatted only when shown, so a
// year of calls opens as fast as a day.
#pragma once

#include <functional>
#include <vector>

#include <QAbstractTableModel>
#include <QLocale>

#include "app/till/call_journal.h"

class TCallListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit TCallListModel(const QLocale& locale, QObject* parent = nullptr);

    // Reads up to `count` calls after `after` (the first ones when null).
    using TPageReader = std::function<std::vector<TJournalCall>(const TJournalCall* after, int count)>;

    // Starts the list again from the reader's first page.
    void SetSource(TPageReader reader);
    // The rows read so far.
    const std::vector<TJournalCall>& Calls() const { return Calls_; }

    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    static constexpr int kPage = 500;

    QLocale Locale_;
    TPageReader Reader_;
    std::vector<TJournalCall> Calls_;
    bool AtEnd_ = true;
};
