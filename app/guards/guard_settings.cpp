#include "app/guards/guard_settings.h"

#include <algorithm>

#include <QSettings>

namespace {

int ReadInt(const QSettings& settings, const char* key, int fallback, int low, int high) {
    bool ok = false;
    const int value = settings.value(QString::fromUtf8(key)).toInt(&ok);
    return ok && value >= low && value <= high ? value : fallback;
}

double ReadDouble(const QSettings& settings, const char* key, double fallback, double low, double high) {
    bool ok = false;
    const double value = settings.value(QString::fromUtf8(key)).toDouble(&ok);
    return ok && value >= low && value <= high ? value : fallback;
}

bool ReadBool(const QSettings& settings, const char* key, bool fallback) {
    const QString text = settings.value(QString::fromUtf8(key)).toString().trimmed().toLower();
    if (text == u"true" || text == u"1") return true;
    if (text == u"false" || text == u"0") return false;
    return fallback;
}

constexpr int kDay = 24 * 3600 * 1000;

}  // namespace

TGuardSettings ReadGuardSettings(QSettings& settings) {
    const TGuardSettings defaults;
    TGuardSettings values;
    values.Credit.HangUpAtZero = ReadBool(settings, "Credit/hangupatzero", defaults.Credit.HangUpAtZero);
    values.Credit.BillingIncrement =
        ReadInt(settings, "Credit/billingincrement", defaults.Credit.BillingIncrement, 1, 3600);
    values.LowBalanceMinutes = ReadInt(settings, "Credit/lowbalanceminutes", defaults.LowBalanceMinutes, 0, 10000);
    values.BalanceRefreshSeconds =
        ReadInt(settings, "Credit/balancerefreshseconds", defaults.BalanceRefreshSeconds, 0, 3600);
    if (values.BalanceRefreshSeconds > 0)
        values.BalanceRefreshSeconds = std::max(values.BalanceRefreshSeconds, kShortestBalanceRefresh);
    const media::TAnswerSupervisionSettings& a = defaults.Answer;
    values.Answer.WatchMs = ReadInt(settings, "AnswerSupervision/watchms", a.WatchMs, 0, 120000);
    values.Answer.SilenceDbfs = ReadDouble(settings, "AnswerSupervision/silencedbfs", a.SilenceDbfs, -100, 0);
    values.Answer.NoAudioMs = ReadInt(settings, "AnswerSupervision/noaudioms", a.NoAudioMs, 1, kDay);
    values.Answer.ToneMs = ReadInt(settings, "AnswerSupervision/tonems", a.ToneMs, 1, kDay);
    values.Answer.AnnouncementMs = ReadInt(settings, "AnswerSupervision/announcementms", a.AnnouncementMs, 1, kDay);
    values.Answer.SilenceAfterMs = ReadInt(settings, "AnswerSupervision/silenceafterms", a.SilenceAfterMs, 1, kDay);
    return values;
}

void WriteGuardSettings(QSettings& settings, const TGuardSettings& values) {
    settings.setValue(QStringLiteral("Credit/hangupatzero"), values.Credit.HangUpAtZero);
    settings.setValue(QStringLiteral("Credit/billingincrement"), values.Credit.BillingIncrement);
    settings.setValue(QStringLiteral("Credit/lowbalanceminutes"), values.LowBalanceMinutes);
    settings.setValue(QStringLiteral("Credit/balancerefreshseconds"), values.BalanceRefreshSeconds);
    settings.setValue(QStringLiteral("AnswerSupervision/watchms"), values.Answer.WatchMs);
    settings.setValue(QStringLiteral("AnswerSupervision/silencedbfs"), values.Answer.SilenceDbfs);
    settings.setValue(QStringLiteral("AnswerSupervision/noaudioms"), values.Answer.NoAudioMs);
    settings.setValue(QStringLiteral("AnswerSupervision/tonems"), values.Answer.ToneMs);
    settings.setValue(QStringLiteral("AnswerSupervision/announcementms"), values.Answer.AnnouncementMs);
    settings.setValue(QStringLiteral("AnswerSupervision/silenceafterms"), values.Answer.SilenceAfterMs);
    settings.sync();
}
