#include "app/till/call_list_model.h"

#include "app/till/cash_close.h"

namespace {

enum TColumn { cWhen, cNumber, cDestination, cDuration, cCost, cPrice, cState, cPaid, cColumns };

const char* const kHeaders[cColumns] = {"Fecha y hora", "Número",   "Destino", "Duración",
                                        "Costo",        "A cobrar", "Estado",  "Cobrada"};

}  // namespace

TCallListModel::TCallListModel(const QLocale& locale, QObject* parent) : QAbstractTableModel(parent), Locale_(locale) {}

void TCallListModel::SetSource(TPageReader reader) {
    beginResetModel();
    Reader_ = std::move(reader);
    Calls_ = Reader_ ? Reader_(nullptr, kPage) : std::vector<TJournalCall>{};
    AtEnd_ = static_cast<int>(Calls_.size()) < kPage;
    endResetModel();
}

bool TCallListModel::canFetchMore(const QModelIndex& parent) const { return !parent.isValid() && !AtEnd_; }

void TCallListModel::fetchMore(const QModelIndex& parent) {
    if (!canFetchMore(parent) || Calls_.empty()) return;
    std::vector<TJournalCall> page = Reader_(&Calls_.back(), kPage);
    AtEnd_ = static_cast<int>(page.size()) < kPage;
    if (page.empty()) return;
    const int first = static_cast<int>(Calls_.size());
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(page.size()) - 1);
    Calls_.insert(Calls_.end(), std::make_move_iterator(page.begin()), std::make_move_iterator(page.end()));
    endInsertRows();
}

int TCallListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(Calls_.size());
}

int TCallListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : cColumns; }

QVariant TCallListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return QVariant();
    const TJournalCall& call = Calls_[index.row()];
    if (role == Qt::TextAlignmentRole) {
        const bool amount = index.column() == cCost || index.column() == cPrice;
        return QVariant::fromValue(Qt::AlignVCenter | (amount ? Qt::AlignRight : Qt::AlignLeft));
    }
    if (role != Qt::DisplayRole) return QVariant();
    switch (index.column()) {
        case cWhen:
            return call.Started.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
        case cNumber:
            return call.Number;
        case cDestination:
            return call.Destination;
        case cDuration:
            return DurationText(call.Figures.Seconds);
        case cCost:
            return FormatCurrency(call.Figures.ProviderCost, Locale_);
        case cPrice:
            return FormatCurrency(call.Figures.CustomerPrice, Locale_);
        case cState:
            return StateText(call);
        case cPaid:
            return call.IsPaid() ? QStringLiteral("sí") : QStringLiteral("no");
        default:
            return QVariant();
    }
}

QVariant TCallListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= cColumns)
        return QVariant();
    return QString::fromUtf8(kHeaders[section]);
}
