// A line, a rate source and a clock driven by the test, for the call flow
// and what hangs on it: time moves only when the test says so, every portal
// request waits for the test's answer.
#pragma once

#include <chrono>
#include <functional>
#include <stdexcept>
#include <vector>

#include <QPointer>
#include <QStringList>

#include "app/booth/booth_line.h"
#include "app/booth/call_clock.h"
#include "app/booth/rate_source.h"

// Time moves only when the test says so; ticks and delays fire in order.
class TManualClock : public ICallClock {
public:
    void StartTicks(std::function<void()> tick) override {
        Tick_ = std::move(tick);
        Ticking_ = true;
        NextTick_ = Now_ + std::chrono::milliseconds(1000);
        ++Starts;
    }
    void StopTicks() override { Ticking_ = false; }
    bool Ticking() const override { return Ticking_; }
    std::chrono::milliseconds Now() const override { return Now_; }
    void After(std::chrono::milliseconds delay, QObject* context, std::function<void()> action) override {
        Delays_.push_back({Now_ + delay, QPointer<QObject>(context), std::move(action)});
    }

    void Advance(std::chrono::milliseconds span) {
        const auto end = Now_ + span;
        for (;;) {
            auto due = Delays_.end();
            for (auto it = Delays_.begin(); it != Delays_.end(); ++it)
                if (it->At <= end && (due == Delays_.end() || it->At < due->At)) due = it;
            const bool tickFirst = Ticking_ && NextTick_ <= end && (due == Delays_.end() || NextTick_ <= due->At);
            if (tickFirst) {
                Now_ = NextTick_;
                NextTick_ += std::chrono::milliseconds(1000);
                Tick_();
            } else if (due != Delays_.end()) {
                const TDelay delay = std::move(*due);
                Delays_.erase(due);
                Now_ = delay.At;
                if (delay.Context) delay.Action();
            } else {
                break;
            }
        }
        Now_ = end;
    }
    // Whole seconds of conversation.
    void Seconds(int count) { Advance(std::chrono::seconds(count)); }
    // The window's thread busy for `span`: time goes on, nothing runs, and
    // the tick timer fires once when the thread is free again, as Qt's does.
    void Stall(std::chrono::milliseconds span) {
        Now_ += span;
        if (Ticking_ && NextTick_ < Now_) NextTick_ = Now_;
    }

    int Starts = 0;

private:
    struct TDelay {
        std::chrono::milliseconds At;
        QPointer<QObject> Context;
        std::function<void()> Action;
    };
    std::chrono::milliseconds Now_{0};
    std::chrono::milliseconds NextTick_{0};
    bool Ticking_ = false;
    std::function<void()> Tick_;
    std::vector<TDelay> Delays_;
};

class TFakeLine : public IBoothLine {
public:
    TLineCallId Dial(const QString& dialString) override {
        if (Refuse) throw std::runtime_error("not active");
        Dialled.append(dialString);
        return ++Last;
    }
    void HangUp(TLineCallId call) override { HungUp.push_back(call); }

    bool Refuse = false;
    QStringList Dialled;
    std::vector<TLineCallId> HungUp;
    TLineCallId Last = 0;
};

// Keeps every request open until the test answers it, in any order.
class TFakeRates : public IRateSource {
public:
    void AskRate(const QString& dialString, QObject*,
                 std::function<void(const std::optional<TRateReply>&)> done) override {
        Asked.append(dialString);
        Pending.push_back(std::move(done));
    }
    void Answer(int request, const QString& destination, qint64 units) {
        Pending.at(request)(TRateReply{destination, MoneyFromUnits(units), true});
    }
    void Fail(int request) { Pending.at(request)(std::nullopt); }
    void Broken(int request) { Pending.at(request)(TRateReply{QString(), TMoney{}, false}); }

    QStringList Asked;
    std::vector<std::function<void(const std::optional<TRateReply>&)>> Pending;
};
