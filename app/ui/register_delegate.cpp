#include "app/ui/register_delegate.h"

#include "app/booth/call_rules.h"

void TRegisterDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    const TRegisterCellStyle style = RegisterCellStyle(index.column());
    option->displayAlignment = style.Alignment;
    if (style.LeadingSpace && !option->text.isEmpty()) option->text.prepend(QLatin1Char(' '));
}
