#include "app/ui/scaled_stage.h"

#include <algorithm>
#include <cmath>

#include <QGroupBox>

namespace {

QRect ScaledRect(const QRect& place, double factor) {
    return QRect(static_cast<int>(std::lround(place.x() * factor)), static_cast<int>(std::lround(place.y() * factor)),
                 static_cast<int>(std::lround(place.width() * factor)),
                 static_cast<int>(std::lround(place.height() * factor)));
}

}  // namespace

TScaledStage::TScaledStage(QWidget* client, QWidget* parent)
    : QWidget(parent), Client_(client), Design_(client->size()) {
    setObjectName(QStringLiteral("stage"));
    Client_->setParent(this);
    Client_->move(0, 0);
    SetFixed(true);
}

void TScaledStage::SetFixed(bool fixed) {
    if (fixed) {
        setFixedSize(Design_);
    } else {
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
}

// Read when the first scaling happens, so every control built by then is
// taken as drawn.
void TScaledStage::Remember(QWidget* widget) {
    for (QObject* child : widget->children()) {
        auto* control = qobject_cast<QWidget*>(child);
        if (!control || control->isWindow()) continue;
        Drawn_.insert(control, {control->geometry(), control->font()});
        Widgets_.append(control);
        if (qobject_cast<QGroupBox*>(control)) Remember(control);
    }
}

void TScaledStage::Scale(double factor) {
    if (Drawn_.isEmpty()) Remember(Client_);
    Factor_ = factor;
    Client_->setFixedSize(QSize(static_cast<int>(std::lround(Design_.width() * factor)),
                                static_cast<int>(std::lround(Design_.height() * factor))));
    for (const QPointer<QWidget>& control : Widgets_) {
        if (!control) continue;
        const TDrawn& drawn = Drawn_[control.data()];
        QFont font = drawn.Font;
        font.setPointSizeF(drawn.Font.pointSizeF() * factor);
        control->setFont(font);
        control->setGeometry(ScaledRect(drawn.Place, factor));
    }
    emit Scaled(factor);
}

void TScaledStage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const double factor = std::min(static_cast<double>(width()) / Design_.width(),
                                   static_cast<double>(height()) / Design_.height());
    // A stage at the drawn size leaves the controls alone; a stage not
    // laid out yet has no size to scale to.
    if (factor > 0.25 && std::abs(factor - Factor_) > 1e-3 && !(Drawn_.isEmpty() && std::abs(factor - 1.0) < 1e-3)) Scale(factor);
    Client_->move((width() - Client_->width()) / 2, (height() - Client_->height()) / 2);
}
