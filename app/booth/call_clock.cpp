#include "app/booth/call_clock.h"

#include <QTimer>

TQtCallClock::TQtCallClock(QObject* parent) : QObject(parent), Ticks_(new QTimer(this)) {
    Ticks_->setObjectName(QStringLiteral("callTimer"));
    Ticks_->setSingleShot(true);
    Ticks_->setTimerType(Qt::PreciseTimer);
    // Armed before the tick runs: a tick that stops the ticks stays stopped.
    connect(Ticks_, &QTimer::timeout, this, [this] {
        ArmNextTick();
        if (Tick_) Tick_();
    });
}

void TQtCallClock::StartTicks(std::function<void()> tick) {
    Tick_ = std::move(tick);
    TicksFrom_ = Now();
    ArmNextTick();
}

// A thread that was busy past several seconds gets one tick now (the reader
// counts from the monotonic clock, so nothing is lost) and the next at the
// following whole second.
void TQtCallClock::ArmNextTick() {
    using std::chrono::milliseconds;
    const milliseconds elapsed = Now() - TicksFrom_;
    const milliseconds next = (elapsed / std::chrono::seconds(1) + 1) * std::chrono::seconds(1);
    Ticks_->start(static_cast<int>((next - elapsed).count()));
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
