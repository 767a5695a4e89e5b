#include "app/counter/board_model.h"

#include <QBrush>
#include <QColor>
#include <QFont>

#include "app/till/cash_close.h"

namespace {

const char* const kHeaders[] = {"Cabina", "Estado", "Número", "Destino", "Duración",
                                "Costo", "A cobrar", "Sin cobrar", "Sesión"};

}  // namespace

TBoardModel::TBoardModel(QLocale locale, QObject* parent)
    : QAbstractTableModel(parent), Locale_(std::move(locale)), Now_(QDateTime::currentDateTimeUtc()) {}

void TBoardModel::SetRows(std::vector<TBoothRow> rows) {
    beginResetModel();
    Rows_ = std::move(rows);
    endResetModel();
}

void TBoardModel::SetNow(const QDateTime& now) {
    Now_ = now;
    if (!Rows_.empty()) emit dataChanged(index(0, State), index(rowCount() - 1, Duration));
}

int TBoardModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(Rows_.size());
}

int TBoardModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QString TBoardModel::Text(int row, TColumn column) const {
    if (row < 0 || row >= rowCount()) return {};
    const TBoothRow& booth = Rows_[static_cast<std::size_t>(row)];
    // Once a call has ended the booth's figures are the last call's: the
    // board shows them only while it runs.
    const bool inCall = booth.InCall();
    switch (column) {
        case Booth:
            return booth.Name;
        case State:
            return BoardStateText(booth, Now_);
        case Number:
            return inCall ? booth.Number : QString();
        case Destination:
            return inCall ? booth.Destination : QString();
        case Duration:
            return inCall ? DurationText(RunningSeconds(booth, Now_)) : QString();
        case Cost:
            return inCall ? FormatCurrency(booth.ProviderCost, Locale_) : QString();
        case Price:
            return inCall ? FormatCurrency(booth.CustomerPrice, Locale_) : QString();
        case Unpaid:
            return booth.UnpaidCalls == 0
                       ? QString()
                       : QStringLiteral("%1 (%2)").arg(booth.UnpaidCalls).arg(FormatCurrency(booth.UnpaidAmount, Locale_));
        case Session:
            if (!booth.SessionOpen()) return {};
            return booth.SessionLimit ? QStringLiteral("límite %1").arg(FormatCurrency(*booth.SessionLimit, Locale_))
                                      : QStringLiteral("abierta");
        case ColumnCount:
            break;
    }
    return {};
}

QVariant TBoardModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const auto column = static_cast<TColumn>(index.column());
    const TBoothRow& booth = Rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
            return Text(index.row(), column);
        case Qt::TextAlignmentRole:
            if (column >= Duration && column <= Unpaid) return int(Qt::AlignRight | Qt::AlignVCenter);
            return int(Qt::AlignLeft | Qt::AlignVCenter);
        case Qt::ForegroundRole:
            if (column == State && BoothSilent(booth, Now_)) return QBrush(Qt::red);
            if (column == Unpaid && booth.UnpaidCalls > 0) return QBrush(QColor(0xB0, 0x30, 0x00));
            if (column == State && booth.InCall()) return QBrush(QColor(0x00, 0x60, 0x00));
            return {};
        case Qt::FontRole:
            if (column == State || column == Price) {
                QFont font;
                font.setBold(true);
                return font;
            }
            return {};
        default:
            return {};
    }
}

QVariant TBoardModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount) return {};
    return QString::fromUtf8(kHeaders[section]);
}
