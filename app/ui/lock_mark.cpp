#include "app/ui/lock_mark.h"

#include <QPainter>
#include <QPixmap>

namespace {

// Drawn rather than taken from a font: the booth's fonts need not have a
// padlock glyph.
QPixmap Padlock() {
    QPixmap pixmap(14, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor colour(0x1b, 0x7a, 0x1b);
    painter.setPen(QPen(colour, 2));
    painter.drawArc(QRectF(3, 1, 8, 10), 0, 180 * 16);
    painter.drawLine(QPointF(3, 6), QPointF(3, 8));
    painter.drawLine(QPointF(11, 6), QPointF(11, 8));
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(QRectF(1, 7, 12, 9), 2, 2);
    return pixmap;
}

}  // namespace

TLockMark::TLockMark(TSource source, QWidget* parent) : QLabel(parent), Source_(std::move(source)) {
    setObjectName(QStringLiteral("lockMark"));
    setAlignment(Qt::AlignCenter);
    setFixedWidth(20);
    connect(&Timer_, &QTimer::timeout, this, &TLockMark::Refresh);
    Timer_.start(kRefreshMs);
}

void TLockMark::Refresh() {
    const bool encrypted = Source_ && Source_();
    if (encrypted == Shown_)
        return;
    Shown_ = encrypted;
    if (encrypted) {
        setPixmap(Padlock());
        setToolTip(QStringLiteral("Llamada cifrada"));
    } else {
        setPixmap(QPixmap());
        setToolTip(QString());
    }
}
