#include "app/call_clock.h"

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

void TQtCallClock::After(std::chrono::milliseconds delay, QObject* context, std::function<void()> action) {
    QTimer::singleShot(delay, context, std::move(action));
}
