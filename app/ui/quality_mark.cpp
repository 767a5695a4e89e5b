#include "app/ui/quality_mark.h"

TQualityGrade GradeOf(const media::TCallQuality& quality) {
    if (quality.received <= 0)
        return TQualityGrade::None;
    if (quality.r >= 80)
        return TQualityGrade::Good;
    if (quality.r >= 70)
        return TQualityGrade::Fair;
    return TQualityGrade::Poor;
}

QString GradeText(TQualityGrade grade) {
    switch (grade) {
    case TQualityGrade::Good:
        return QStringLiteral("Calidad: buena");
    case TQualityGrade::Fair:
        return QStringLiteral("Calidad: regular");
    case TQualityGrade::Poor:
        return QStringLiteral("Calidad: mala");
    case TQualityGrade::None:
        break;
    }
    return {};
}

TQualityMark::TQualityMark(TSource source, QWidget* parent) : QLabel(parent), Source_(std::move(source)) {
    setObjectName(QStringLiteral("qualityMark"));
    setAlignment(Qt::AlignCenter);
    setMinimumWidth(110);
    connect(&Timer_, &QTimer::timeout, this, &TQualityMark::Refresh);
    Timer_.start(kRefreshMs);
}

void TQualityMark::Refresh() {
    const std::optional<media::TCallQuality> quality = Source_ ? Source_() : std::nullopt;
    Grade_ = quality ? GradeOf(*quality) : TQualityGrade::None;
    static const char* const kColours[] = {"", "#1b7a1b", "#b07800", "#b01c1c"};
    setText(GradeText(Grade_));
    setStyleSheet(Grade_ == TQualityGrade::None
                      ? QString()
                      : QStringLiteral("color: %1; font-weight: bold;").arg(kColours[static_cast<int>(Grade_)]));
    setToolTip(Grade_ == TQualityGrade::None
                   ? QString()
                   : QStringLiteral("R %1, MOS %2, pérdida %3%, jitter %4 ms")
                         .arg(quality->r, 0, 'f', 0)
                         .arg(quality->mos, 0, 'f', 1)
                         .arg(quality->lossPercent, 0, 'f', 1)
                         .arg(quality->jitterMs, 0, 'f', 0));
}
