#include "app/call_rules.h"

#include <stdexcept>

#include <QTime>

#include "app/portal_reply.h"

bool IsCallToHangUp(bool incoming, TCallState state) { return !(incoming && state == csRinging); }

QString DialString(const QString& typed) {
    if (typed.size() == 3 || typed.startsWith(u"999") || typed.startsWith(u"00")) return typed;
    return QStringLiteral("00") + typed;
}

std::int64_t ChargedMinutes(int ticks) { return ticks / 60 + 1; }

TMoney RunningCost(const QString& shownRate, int ticks) {
    const std::int64_t hundredths = WholeNumber(Digits(shownRate));
    const std::int64_t minutes = ChargedMinutes(ticks);
    std::int64_t cost = 0;
    if (__builtin_mul_overflow(hundredths, minutes, &cost)) throw std::overflow_error("running cost too large");
    return MoneyFromHundredths(cost);
}

QString NextDuration(const QString& shown) {
    QTime time = QTime::fromString(shown, QStringLiteral("hh:mm:ss"));
    if (!time.isValid()) time = QTime(0, 0);
    return time.addSecs(1).toString(QStringLiteral("hh:mm:ss"));
}

TRegisterCellStyle RegisterCellStyle(int column) {
    switch (column) {
        case 1:
        case 3:
            return {Qt::AlignHCenter | Qt::AlignVCenter, false};
        case 4:
            return {Qt::AlignRight | Qt::AlignVCenter, false};
        default:
            return {Qt::AlignLeft | Qt::AlignVCenter, true};
    }
}
