// Draws the cells of the register of the last calls: dates and destinations
// read from the left with a small margin, numbers and times centred, totals
// right-aligned so the amounts line up. Selection colours stay those of the
// table.
#pragma once

#include <QStyledItemDelegate>

class TRegisterDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};
