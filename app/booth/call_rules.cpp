#include "app/booth/call_rules.h"

#include <stdexcept>

#include <QTime>

#include "app/booth/booth_call_flow.h"
#include "app/booth/booth_texts.h"
#include "app/booth/sip_status_text.h"
#include "app/portal/portal_reply.h"

bool IsCallToHangUp(bool incoming, TCallState state) { return !(incoming && state == csRinging); }

// The keyboard's filter is not the only way into the number field (paste,
// accessibility tools), so the number is cleaned again here. A number
// addressed to a host of its own ("number@host:port") keeps that host.
QString DialString(const QString& typed) {
    const qsizetype at = typed.indexOf(u'@');
    const QString number = FilterDialInput(at < 0 ? typed : typed.left(at));
    const QString host = at < 0 ? QString() : typed.mid(at).remove(u' ');
    if (number.size() == 3 || number.startsWith(u"999") || number.startsWith(u"00")) return number + host;
    return QStringLiteral("00") + number + host;
}

std::int64_t ChargedMinutes(int ticks) { return ticks / 60 + 1; }

TMoney RunningCost(const QString& shownRate, int ticks) {
    const std::int64_t hundredths = WholeNumber(Digits(shownRate));
    const std::int64_t minutes = ChargedMinutes(ticks);
    std::int64_t cost = 0;
    if (__builtin_mul_overflow(hundredths, minutes, &cost)) throw std::overflow_error("running cost too large");
    return MoneyFromHundredths(cost);
}

TMoney CallCost(TMoney ratePerMinute, int ticks) {
    std::int64_t cost = 0;
    if (__builtin_mul_overflow(ratePerMinute.TenThousandths, ChargedMinutes(ticks), &cost))
        throw std::overflow_error("running cost too large");
    return TMoney{cost};
}

QString FilterDialInput(const QString& typed) {
    QString kept;
    const QString text = typed.trimmed();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if ((c >= u'0' && c <= u'9') || c == u'*' || c == u'#')
            kept.append(c);
        else if (c == u'+' && kept.isEmpty())
            kept.append(QStringLiteral("00"));
    }
    return kept;
}

QString CallEndText(const TCallEnd& end) {
    if (end.Refused) return QString::fromUtf8(kCallNotPlacedText);
    if (end.Answered) return QString::fromUtf8(kCallFinishedText);
    if (end.Status == 0) return QString::fromUtf8(kServerSilentText);
    const char* text = SipStatusText(end.Status);
    return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(text)).arg(end.Status);
}

QString NextDuration(const QString& shown) {
    QTime time = QTime::fromString(shown, QStringLiteral("hh:mm:ss"));
    if (!time.isValid()) time = QTime(0, 0);
    return time.addSecs(1).toString(QStringLiteral("hh:mm:ss"));
}

QString DurationText(int seconds) {
    return QTime(0, 0).addSecs(seconds % 86400).toString(QStringLiteral("hh:mm:ss"));
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
