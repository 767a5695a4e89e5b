// TQualityMark: the small mark in the booth's status bar that tells the
// operator how the call in progress sounds, from the E-model estimate of its
// received audio: "buena" from R 80, "regular" from R 70, "mala" below; the
// figures themselves in its tool tip. Empty while there is no call or no
// audio yet. It asks for the figures once a second.
#pragma once

#include <QLabel>
#include <QTimer>

#include <functional>
#include <optional>

#include "media/call_quality.h"

enum class TQualityGrade { None, Good, Fair, Poor };

// The grade of the figures: None without received audio.
TQualityGrade GradeOf(const media::TCallQuality& quality);
// "Calidad: buena", "Calidad: regular", "Calidad: mala", or empty.
QString GradeText(TQualityGrade grade);

class TQualityMark : public QLabel {
    Q_OBJECT

public:
    static constexpr int kRefreshMs = 1000;
    // The figures of the call in progress, or nothing between calls.
    using TSource = std::function<std::optional<media::TCallQuality>()>;

    explicit TQualityMark(TSource source, QWidget* parent = nullptr);

    TQualityGrade Grade() const { return Grade_; }
    // Reads the figures now (the timer does it every kRefreshMs).
    void Refresh();

private:
    TSource Source_;
    TQualityGrade Grade_ = TQualityGrade::None;
    QTimer Timer_;
};
