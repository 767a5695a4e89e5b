#include "app/counter/booth_board.h"

#include <algorithm>

bool TBoothRow::InCall() const {
    return State == QString::fromUtf8(kBoardDialingText) || State == QString::fromUtf8(kBoardRingingText) ||
           State == QString::fromUtf8(kBoardInCallText);
}

bool BoothSilent(const TBoothRow& row, const QDateTime& now) {
    return !row.LastSeen.isValid() || row.LastSeen.secsTo(now) >= kBoothSilenceSeconds;
}

QString BoardStateText(const TBoothRow& row, const QDateTime& now) {
    if (!row.LastSeen.isValid()) return QString::fromUtf8(kBoardSilentText).arg(QStringLiteral("--:--"));
    if (BoothSilent(row, now))
        return QString::fromUtf8(kBoardSilentText).arg(row.LastSeen.toLocalTime().toString(QStringLiteral("HH:mm")));
    // Between customers the booth is closed: it dials only in a session.
    const bool idle = row.State.isEmpty() || row.State == QString::fromUtf8(kBoardFreeText);
    if (idle && !row.SessionOpen()) return QString::fromUtf8(kBoardClosedText);
    return idle ? QString::fromUtf8(kBoardFreeText) : row.State;
}

std::int64_t RunningSeconds(const TBoothRow& row, const QDateTime& now) {
    if (!row.InCall() || !row.Answered.isValid()) return 0;
    return std::max<std::int64_t>(0, row.Answered.secsTo(now));
}

const TBoothRow* FindBooth(const std::vector<TBoothRow>& rows, const QString& name) {
    const auto found = std::find_if(rows.begin(), rows.end(), [&name](const TBoothRow& row) { return row.Name == name; });
    return found == rows.end() ? nullptr : &*found;
}
