#include "app/booth/call_clock.h"

#include <QTimer>

TQtCallClock::TQtCallClock(QObject* parent) : QObject(parent), Ticks_(new QTimer(this)) {
    Ticks_->setObjectName(QStringLiteral("callTimer"));
    Ticks_->setInterval(1000);
    connect(Ticks_, &QTimer::timeout, this, [this] {
        if (Tick_) Tick_();
    });
}

void TQtCallClock::StartTicks(std::function<void()> tick) {
    Tick_ = std::move(tick);
    Ticks_->start();
}

void TQtCallClock::StopTicks() { Ticks_->stop(); }

bool TQtCallClock::Ticking() const { return Ticks_->isActive(); }

std::chrono::milliseconds TQtCallClock::Now() const {
    if (TimeSource_) return TimeSource_();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

void TQtCallClock::After(std::chrono::milliseconds delay, QObject* context, std::function<void()> action) {
    QTimer::singleShot(delay, context, std::move(action));
}
