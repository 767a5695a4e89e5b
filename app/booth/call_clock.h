// The time a booth call runs on: a tick every second while the call is
// answered, a monotonic reading the call's duration is taken from (a tick
// the busy window thread never ran is made up by the next one), and single
// delays for the portal requests' time-outs and retries. The booth uses
// Qt's timers; tests drive a clock of their own.
//
// Threading: user-interface thread only.
#pragma once

#include <chrono>
#include <functional>

#include <QObject>

class QTimer;

class ICallClock {
public:
    virtual ~ICallClock() = default;

    // `tick` runs as each whole second from now completes (never before it),
    // until StopTicks; a second start replaces the first.
    virtual void StartTicks(std::function<void()> tick) = 0;
    virtual void StopTicks() = 0;
    virtual bool Ticking() const = 0;
    // Time since some fixed moment, never going back (wall-clock changes
    // do not move it).
    virtual std::chrono::milliseconds Now() const = 0;
    // `action` runs once after `delay`, unless `context` is destroyed first.
    virtual void After(std::chrono::milliseconds delay, QObject* context, std::function<void()> action) = 0;
};

// Qt's timers. The tick timer is a child named "callTimer"; it is armed
// afresh at each tick for the next whole second since the start, so a
// second is counted as it completes (a plain one-second timer drifts and
// fires early, and each second then waited for the next tick).
class TQtCallClock : public QObject, public ICallClock {
    Q_OBJECT

public:
    explicit TQtCallClock(QObject* parent = nullptr);

    void StartTicks(std::function<void()> tick) override;
    void StopTicks() override;
    bool Ticking() const override;
    std::chrono::milliseconds Now() const override;
    void After(std::chrono::milliseconds delay, QObject* context, std::function<void()> action) override;

    // Tests that fire the tick timer themselves move time with it.
    using TTimeSource = std::function<std::chrono::milliseconds()>;
    void SetTimeSource(TTimeSource source) { TimeSource_ = std::move(source); }

private:
    void ArmNextTick();

    TTimeSource TimeSource_;
    std::chrono::milliseconds TicksFrom_{0};
    QTimer* Ticks_;  // child of this
    std::function<void()> Tick_;
};
